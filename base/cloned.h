// Hot loops built twice, for AVX2 and for any x86-64, the clone picked as the
// program loads. g++ clones templates and member functions declared elsewhere;
// clang (the fuzzing build) does neither, and there they stay one function with
// the same arithmetic.
#pragma once

#if defined(__clang__)
#define KORAX_CLONED
#else
#define KORAX_CLONED __attribute__((target_clones("avx2", "default")))
#endif
