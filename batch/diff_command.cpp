// `korax diff A B -o OUT`: the difference A - k x B of two spectra, B
// interpolated onto the points of A, as the viewer's difference mode takes it
// into the spectrum, written as the viewer's M saves it (or as two-column
// text), with the safety of `korax convert`.
#include "batch/commands.h"
#include "batch/runner.h"
#include "batch/spectrum_output.h"

#include "analysis/difference.h"
#include "base/safe_file.h"
#include "output/pelmo_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace korax {

namespace {

const std::string COMMAND = "korax diff";

std::string exact(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string short_number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.12g", v);
    return text;
}

// The points of A within [from, to]: [first, last], 1-based; first > last
// when none.
std::pair<std::int32_t, std::int32_t> points_within(const Spectrum& a, double from, double to) {
    const auto begin = a.freq.begin() + 1, end = a.freq.begin() + 1 + a.npts;
    const auto first =
        static_cast<std::int32_t>(std::lower_bound(begin, end, from) - a.freq.begin());
    const auto last =
        static_cast<std::int32_t>(std::upper_bound(begin, end, to) - a.freq.begin()) - 1;
    return {first, last};
}

} // namespace

int run_diff(const DiffCommand& cmd) {
    if (output_is_an_input(COMMAND, {cmd.a, cmd.b}, cmd.out)) return EXIT_USAGE;
    // Through the pool of one, for its Ctrl-C handling: a stop before the
    // file is complete drops the temporary and leaves OUT as it was.
    return run_files({cmd.a}, 1, COMMAND, [&cmd](std::size_t, int) {
        FileOutcome o;
        auto fail = [&o](const std::string& why) {
            o.ok = false;
            o.err = COMMAND + ": " + why + "\n";
            return o;
        };
        Spectrum a, b;
        if (const std::string why = load_spectrum(cmd.a, a); !why.empty())
            return fail(cmd.a + ": " + why);
        if (const std::string why = load_spectrum(cmd.b, b); !why.empty())
            return fail(cmd.b + ": " + why);

        const auto n = static_cast<std::size_t>(a.npts);
        const auto m = static_cast<std::size_t>(b.npts);
        std::vector<double> on_grid(n + 1);
        interpolate_reference(std::span<const double>(a.freq.data(), n + 1),
                              std::span<const double>(b.freq.data(), m + 1),
                              std::span<const std::int32_t>(b.intens.data(), m + 1), on_grid);
        const std::span<const std::int32_t> main(a.intens.data(), n + 1);
        const std::int64_t covered = covered_points(on_grid, 1, a.npts);
        if (covered == 0)
            return fail(cmd.b + " covers none of the range of " + cmd.a + ": nothing to subtract");

        double k = 0;
        std::string how;
        if (cmd.k) {
            k = *cmd.k;
            how = "k = " + exact(k) + " as given";
        } else {
            const auto [first, last] = points_within(a, cmd.from, cmd.to);
            const ScaleFit fit = fit_scale(main, on_grid, first, last);
            if (!fit.ok)
                return fail("no k fits: " + cmd.b + " covers fewer than two points of " + cmd.a +
                            " within the fit's range, or is flat there (--k K gives k)");
            k = fit.k;
            how = "k = " + exact(k) + " fitted over " + std::to_string(fit.points) + " points";
        }
        std::vector<std::int32_t> diff(a.intens.size());
        subtract_reference(main, on_grid, k, std::span<std::int32_t>(diff.data(), n + 1), 1,
                           a.npts);
        diff[n + 1] = diff[n];
        a.intens = std::move(diff);

        const bool text =
            cmd.format == DiffCommand::Format::Text ||
            (cmd.format == DiffCommand::Format::Same && a.format == Spectrum::Format::Ascii);
        SafeFile out;
        if (const std::string why = open_spectrum_output(out, cmd.out, cmd.force); !why.empty())
            return fail(why);
        if (text) {
            write_ascii(a, [&out](std::string_view piece) { out.write(piece); });
        } else {
            // As the viewer's M saves the spectrum once the difference is in it.
            const std::span<const std::int32_t> points(a.intens.data() + 1, n);
            out.write(pelmo_file_image(a.header, points, a.fstart, a.fend, a.fstep,
                                       save_scaling(points)));
        }
        if (const std::string why = place_spectrum_output(out, cmd.out, COMMAND, o); !why.empty())
            return fail(why);
        std::string covers;
        if (static_cast<std::size_t>(covered) < n)
            covers = ", " + cmd.b + " covers " + std::to_string(covered) + " of them (from " +
                     short_number(std::max(a.freq[1], b.freq[1])) + " to " +
                     short_number(std::min(a.freq[n], b.freq[m])) + ")";
        o.out = cmd.a + " - k x " + cmd.b + " -> " + cmd.out + " (" +
                (text ? "two-column text" : "PELMO") + ", " + std::to_string(a.npts) + " points" +
                covers + "; " + how + ")\n";
        return o;
    });
}

} // namespace korax
