// What every reader harness shares: one window for the whole run (building the
// fonts per input would cost more than the reading itself) and the store's
// geometry to match it. The window is a small one the configuration file
// allows (160 x 90 pixels, 2 x 3 per character): drawing the screens costs in
// proportion to the pixels, and the readers' logic is the same at any size.
#pragma once

#include "spectrum/store.h"
#include "testing/test_window.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

namespace korax::fuzz {

// A scratch file for readers that take a path, one per fuzzing process: in
// TMPDIR when it is set (fuzz/run points it into its own folder), else in
// memory under /dev/shm. `stem` and `ending` tell the harnesses' files apart.
inline std::string scratch_file(std::string_view stem, std::string_view ending) {
    std::error_code ec;
    std::filesystem::path dir = "/dev/shm";
    if (std::getenv("TMPDIR") || !std::filesystem::is_directory(dir, ec))
        dir = std::filesystem::temp_directory_path();
    return (dir / (std::string(stem) + std::to_string(::getpid()) + std::string(ending))).string();
}

// Removes the scratch file after every input: libFuzzer may end the process
// without running static destructors, and a crash would leave it behind anyway.
struct RemoveAfterRead {
    const std::string& path;
    ~RemoveAfterRead() { std::remove(path.c_str()); }
};

inline constexpr int WIDTH = 160, HEIGHT = 90;

inline TestWindow& test_window() {
    static TestWindow w(WIDTH, HEIGHT, 30);
    return w;
}

// The store's scalars and header as at program start, and an empty key queue,
// so that a crash reproduces from its own bytes alone. The arrays keep their
// contents: clearing 72 MB per input would cost more than any reading, and the
// readers only use points they have written themselves.
inline void prepare_run() {
    test_window().front_end.keys.clear();
    test_window().front_end.boxes.clear();
    SpectrumStore& s = store();
    s.NPTS = 0;
    s.FSTART = s.FEND = s.FSTEP = 0;
    s.IYMIN = s.IYMAX = 0;
    s.FNAME.clear();
    s.SPHEAD.clear();
    s.SCREEN = ScreenGeometry{WIDTH - 1, HEIGHT - 1, 30, 80, 4};
}

// A broken invariant is a finding like a crash: abort so that the fuzzer keeps
// the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace korax::fuzz
