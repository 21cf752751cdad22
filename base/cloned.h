// Hot loops built twice, for AVX2 and for any x86-64, the clone picked as the
// program loads; every such loop says so with this one macro. clang (the
// fuzzing build) cannot clone templates, nor member functions declared
// without the attribute: there every loop stays one function with the same
// arithmetic.
#pragma once

#if defined(__clang__)
#define KORAX_CLONED
#else
#define KORAX_CLONED __attribute__((target_clones("avx2", "default")))
#endif
