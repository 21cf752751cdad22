// The layout of a GLE output before anything is written: the plot settings,
// the strips the range is cut into, and the size of what the settings ask for.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// The plot settings kept for the run. Zero means "not yet set": GLEOUT gives each
// its default the first time it finds it zero.
struct GleSettings {
    std::int32_t strips_per_page = 0;
    double marker_spacing = 0; // frequency units between small ticks
    double plot_scaling = 0;   // frequency units per mm of paper
};

// Every strip is this long on paper.
inline constexpr double STRIP_MM = 273.0;

// Accepted ranges of the settings. The marker spacing's lower bound is 0.001 as
// a single-precision value, slightly above 0.001 itself.
bool marker_spacing_accepted(double value);
bool plot_scaling_accepted(double value);

// The output files' common name: the spectrum file name with its folder, cut in
// its file-name part at the first blank or full stop. Files so land next to the
// spectrum, and a full stop in a folder name does not cut it.
std::string gle_base_name(std::string_view fname);

// One strip of the list: its start and end frequency and its length on paper.
struct Strip {
    double start = 0, end = 0, paper_mm = 0;
};
// Strips of width 273 * scaling from `start` until one reaches `end`; the last
// strip's paper length is what remains of the range when it overshoots.
std::vector<Strip> strip_list(double start, double end, double plot_scaling);
// The same strips one at a time, while `f` returns true.
void for_each_strip(double start, double end, double plot_scaling,
                    const std::function<bool(const Strip&)>& f);
// How many strips strip_list gives, without making them: the settings may ask
// for more than any list could hold.
double strip_count(double start, double end, double plot_scaling);

// What an output will be, worked out before anything is built. Counts are
// reals: the accepted settings reach far beyond any integer.
struct GleOutputSize {
    double strips = 0, pages = 0, points = 0;
    double bytes = 0; // data file and control files, about
};
// `freq` holds points 1..n from its first element, rising; `name_bytes` is
// the length of the spectrum file name, which the files repeat.
GleOutputSize gle_output_size(double start, double end, const GleSettings& settings,
                              std::span<const double> freq, std::size_t name_bytes);
// Outputs beyond these are written only after the operator's yes.
inline constexpr double MAX_QUIET_PAGES = 1000;
inline constexpr double MAX_QUIET_BYTES = 100e6;
bool gle_output_is_large(const GleOutputSize& size);

} // namespace korax
