// Strips of 273 mm of paper over a frequency range, and what an output of
// given settings will amount to, worked out before anything is built.
#include "output/gle_strips.h"

#include "base/file_name.h"
#include "base/format.h"
#include "output/gle_data.h"
#include "output/wrigle.h"

#include <algorithm>
#include <cmath>

namespace korax {

bool marker_spacing_accepted(double value) {
    return value >= static_cast<double>(0.001f) && value <= 1000.0;
}

bool plot_scaling_accepted(double value) {
    return value > 0.001 && value <= 1000.0;
}

std::string gle_base_name(std::string_view fname) {
    const std::string_view name = trim_right(fname);
    const std::string_view file = file_part(name);
    const std::string_view folder = name.substr(0, name.size() - file.size());
    const auto cut = file.find_first_of(" .");
    std::string base(folder);
    base += file.substr(0, cut);
    return base;
}

void for_each_strip(double start, double end, double plot_scaling,
                    const std::function<bool(const Strip&)>& f) {
    const double width = STRIP_MM * plot_scaling;
    for (double s = start;;) {
        const double e = s + width;
        if (!f({s, e, e > end ? (end - s) / plot_scaling : width / plot_scaling})) return;
        // The second test stops a width too small to move the start at all.
        if (e >= end || !(e > s)) return;
        s = e;
    }
}

std::vector<Strip> strip_list(double start, double end, double plot_scaling) {
    std::vector<Strip> strips;
    for_each_strip(start, end, plot_scaling, [&](const Strip& strip) {
        strips.push_back(strip);
        return true;
    });
    return strips;
}

double strip_count(double start, double end, double plot_scaling) {
    const double width = STRIP_MM * plot_scaling;
    if (!(start + width > start) || !(start + width < end)) return 1;
    const double estimate = std::ceil((end - start) / width);
    // Counted one by one where that is quick, so the count is exactly the
    // strips the list and the output will have; beyond, rounding in the
    // repeated additions may make it one more or less.
    if (!(estimate < 4e6)) return estimate;
    double n = 0;
    for_each_strip(start, end, plot_scaling, [&n](const Strip&) {
        ++n;
        return true;
    });
    return n;
}

GleOutputSize gle_output_size(double start, double end, const GleSettings& g,
                              std::span<const double> freq, std::size_t name_bytes) {
    GleOutputSize size;
    size.strips = strip_count(start, end, g.plot_scaling);
    size.pages = std::ceil(size.strips / g.strips_per_page);
    // Points at or above the start up to the first one beyond the end, on an
    // axis that rises.
    const auto first = std::lower_bound(freq.begin(), freq.end(), start);
    const auto last = std::upper_bound(first, freq.end(), end);
    size.points = static_cast<double>(last - first);
    // A strip as wide as every other stands for them all.
    const double width = STRIP_MM * g.plot_scaling;
    size.bytes = 30.0 + static_cast<double>(name_bytes) + size.points * DATA_LINE_BYTES +
                 size.pages * (PAGE_BYTES + 2.0 * static_cast<double>(name_bytes)) +
                 size.strips * (strip_bytes(start, start + width, g.marker_spacing) +
                                static_cast<double>(name_bytes));
    return size;
}

bool gle_output_is_large(const GleOutputSize& size) {
    return size.pages > MAX_QUIET_PAGES || size.bytes > MAX_QUIET_BYTES;
}

} // namespace korax
