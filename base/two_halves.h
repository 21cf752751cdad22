// Passes over millions of points are bound by reading them: the second half
// of such a pass goes to a thread of its own where there is a second core and
// enough points to pay for starting it (a tenth of a millisecond or so).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <thread>

namespace korax {

// Below this many points a second thread costs more than it saves.
inline constexpr std::int64_t HALVES_ON_THREADS_FROM = 400000;

// half(0) here and half(1) beside it when a pass of `points` pays for a
// thread and there is a second core; one after the other otherwise. The
// halves are the same either way.
template <class Half> void in_two_halves(std::int64_t points, Half&& half) {
    static const bool two_cores = std::thread::hardware_concurrency() > 1;
    if (!two_cores || points < HALVES_ON_THREADS_FROM) {
        half(0);
        half(1);
        return;
    }
    std::jthread second([&] { half(1); });
    half(0);
}

// Where spans of consecutive points (each with `first` and `last`, in order)
// are split so that each half holds about half of their points: the first
// span of the second half.
template <class Span> std::size_t half_of_the_points(std::span<const Span> spans) {
    if (spans.empty()) return 0;
    const std::int64_t points = spans.back().last - spans.front().first + 1;
    std::size_t split = 0;
    while (split < spans.size() && spans[split].last - spans.front().first + 1 < points / 2)
        ++split;
    return split;
}

} // namespace korax
