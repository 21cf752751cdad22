// The passes of the N and B keys over 1-based intensity arrays, shared by
// SMOOTH (over the store) and `korax peaks` (over spectra of its own), so that
// both give the same bits: smoothing once, the five baseline passes, the
// preliminary and the clipped baseline of fine control, the subtraction and
// the lift to the reference level. Nothing here draws.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace korax {

inline constexpr int BASELINE_PASSES = 5;
// For `threads`: as many as the machine has.
inline constexpr int ALL_CORES = 0;

// Half-width m and length n of the window SMOOTH uses for a mode (1 smoothing,
// 2 baseline, 3 final fine-control passes) and the typed number of points.
struct SmoothingWindow {
    int m = 0, n = 0;
};
SmoothingWindow smoothing_window(int mode, bool fine, std::int32_t nsmoot);

// The coefficients of one window, computed once for all its passes.
class SmoothingFilter {
  public:
    explicit SmoothingFilter(const SmoothingWindow& window);
    std::span<const float> coefficients() const { return {m_table.data(), m_length}; }

  private:
    std::array<float, 501> m_table{};
    std::size_t m_length = 0;
};

// Called before pass 1..BASELINE_PASSES of a baseline; false stops there (the
// arrays are then part-way). An empty function never stops.
using BeforePass = std::function<bool(int pass)>;

// All arrays below are 1-based over points 1..n, of at least n + 1 elements.

// The N key: intens copied to work, then smoothed from there back into intens.
void smooth_once(std::span<std::int32_t> intens, std::span<std::int32_t> work, std::int32_t n,
                 const SmoothingFilter& filter, int threads);
// The B key: five passes smoothing intens; `work` then holds the baseline
// (intens an intermediate pass). false: stopped.
[[nodiscard]] bool baseline_passes(std::span<std::int32_t> intens, std::span<std::int32_t> work,
                                   std::int32_t n, const SmoothingFilter& filter, int threads,
                                   const BeforePass& before = {});
// Fine control, first step: five passes from a copy of intens into baslin,
// intens left as it is. false: stopped.
[[nodiscard]] bool preliminary_baseline(std::span<const std::int32_t> intens,
                                        std::span<std::int32_t> work,
                                        std::span<std::int32_t> baslin, std::int32_t n,
                                        const SmoothingFilter& filter, int threads,
                                        const BeforePass& before = {});
// Fine control, last step: the first pass smooths intens clipped into the band
// baslin + cutlo .. baslin + cuthi (so that lines above it enter the baseline
// only up to its edge), the four others smooth the pass before; `work` then
// holds the baseline (intens an intermediate pass). false: stopped.
[[nodiscard]] bool clipped_baseline(std::span<std::int32_t> intens, std::span<std::int32_t> work,
                                    std::span<const std::int32_t> baslin, std::int32_t n,
                                    std::int32_t cutlo, std::int32_t cuthi,
                                    const SmoothingFilter& filter, int threads,
                                    const BeforePass& before = {});
// After a baseline (in `baseline`): intens becomes original minus it,
// saturated at the 32-bit ends.
void subtract_baseline(std::span<const std::int32_t> original, std::span<std::int32_t> intens,
                       std::span<const std::int32_t> baseline, std::int32_t n);
// intens + yref for every point (truncated toward zero, saturated), so that the
// flat result of a subtraction lies within the display; returns the new mean
// (0 for no points).
double lift_to_reference(std::span<std::int32_t> intens, std::int32_t n, double yref);

} // namespace korax
