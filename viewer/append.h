// The work of the & key without the window: reading the second spectrum and
// joining it to the one in work. Kept apart so that the join can be driven by
// tests and the fuzzer with spectra of any shape.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

namespace korax {

// The second spectrum as read: its intensities wait in ORIGNL[1 .. n].
struct AppendedSpectrum {
    std::int32_t n = 0;
    double mean = 0;
    double fa = 0, sa = 0, ea = 0; // first frequency, step, computed end
};

// Reads the second spectrum from the start of `file` (its header unchecked)
// into ORIGNL[1 .. n]; nullopt for anything that cannot be appended (short,
// unreadable, fewer than 10 or more than MAXPTS points, a step that is not a
// positive finite number, an end that is not finite).
std::optional<AppendedSpectrum> read_appended(std::FILE* file);

// Whether the second spectrum reaches at least two current steps beyond the end
// of the one in work. The end is the larger of the stored FEND and the last
// frequency: a stored end below the real one would let the join run past the
// appended points.
bool reaches_beyond_end(const AppendedSpectrum& a);

struct AppendJoin {
    std::int32_t skipped = 0, dummies = 0, first_resampled = 0;
    bool truncated = false;
};

// Resamples the second spectrum (in ORIGNL) onto the grid continuing from point
// n0 (the current NPTS) and sets NPTS to the last point written. Every index
// stays within a(1 .. n) and the store, whatever the two axes. nullopt: the gap
// alone would pass MAXPTS points, or there is no spectrum in work.
std::optional<AppendJoin> append_join(const AppendedSpectrum& a, std::int32_t n0);

} // namespace korax
