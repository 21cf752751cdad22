// The KORAX side of the side-by-side benchmark run by bench/run: one named row,
// timed over the real code paths of the program, printed as "row median_ms".
// bench/peers.py does the same work with the tools a user would otherwise use.
//
//   rows_bench ROW BINARY ASCII [REPEATS] [CUTOFF]
//
// ROW: load_binary, load_ascii, smooth_W, baseline_W (W = 5, 25, 101, 501),
// peakfinder (CUTOFF: the intensity a line must reach), redraw, gledata; or
// cutoff, which prints the 99th percentile of the intensities of BINARY so that
// both sides search with the same threshold. BINARY and ASCII hold the same
// spectrum; results files are written next to BINARY and removed afterwards.
#include "analysis/peak_search.h"
#include "analysis/smooth.h"
#include "analysis/smoothing_passes.h"
#include "base/safe_file.h"
#include "catalog/catalog.h"
#include "input/ascii.h"
#include "input/pelmo.h"
#include "output/gleout.h"
#include "spectrum/store.h"
#include "testing/test_window.h"
#include "viewer/display.h"
#include "viewer/lookfm.h"
#include "viewer/viewer_state.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace korax;

constexpr const char* USAGE =
    "usage: rows_bench ROW BINARY ASCII [REPEATS] [CUTOFF]\n"
    "  ROW: load_binary load_ascii smooth_W baseline_W (W = 5 25 101 501)\n"
    "       peakfinder redraw gledata cutoff\n"
    "       load_catalog (BINARY is then a line catalogue)\n";

struct Options {
    std::string row, binary, ascii;
    int repeats = 1;
    std::optional<std::int16_t> cutoff;
};

template <class T> std::optional<T> parse(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The window of a row name such as "smooth_101": 0 when the name has another
// prefix, -1 when the width is not one a smoothing pass takes.
int window_of(std::string_view row, std::string_view prefix) {
    if (!row.starts_with(prefix)) return 0;
    const auto w = parse<int>(row.substr(prefix.size()));
    return w && *w >= 5 && *w <= 501 && *w % 2 == 1 ? *w : -1;
}

bool load_binary(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    const PelmoOutcome outcome = read_pelmo(file);
    std::fclose(file);
    return outcome == PelmoOutcome::Loaded;
}

bool load_ascii(const std::string& path) {
    store().FNAME = path;
    if (!read_ascii_spectrum()) return false;
    linearise_axis();
    return true;
}

// The nearest-rank 99th percentile: the lowest intensity that at least 99 % of
// the points do not exceed.
std::int16_t percentile_99() {
    const auto& s = store();
    std::vector<std::int32_t> y(s.INTENS.begin() + 1, s.INTENS.begin() + 1 + s.NPTS);
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(y.size())));
    const auto nth = y.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(rank, 1) - 1);
    std::nth_element(y.begin(), nth, y.end());
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(*nth, INT16_MIN, INT16_MAX));
}

// Work of the N key (one pass) or of the B key without fine control (five
// passes, then the original minus the baseline), with the coefficients
// computed afresh as SMOOTH does on every call, through the passes SMOOTH runs.
void smooth_store(int window, int passes) {
    auto& s = store();
    const SmoothingFilter filter(
        smoothing_window(passes == BASELINE_PASSES ? 2 : 1, false, window));
    if (passes != BASELINE_PASSES) {
        smooth_once(s.INTENS, s.WORK, s.NPTS, filter, ALL_CORES);
        return;
    }
    if (!baseline_passes(s.INTENS, s.WORK, s.NPTS, filter, ALL_CORES)) std::abort();
    subtract_baseline(s.ORIGNL, s.INTENS, s.WORK, s.NPTS);
}

// PEAKFINDER over the whole spectrum with the levels the level dialog offers
// (baseline at the mean, full bar at the top of the display) and its results
// file put in place. The search alone is timed into `search_ms`: putting the
// file in place includes its sync to disk, which the peer does not do.
bool find_lines(const ViewerState& v, std::int16_t cutoff, const std::string& path,
                std::int32_t& count, std::vector<double>& search_ms) {
    const auto& s = store();
    PeakSearchSettings st;
    st.start = 1;
    st.end = s.NPTS;
    st.cutoff = cutoff;
    st.baseline = static_cast<std::int16_t>(std::trunc(v.YMEAN));
    st.nfit = 7;
    st.height = v.YHIGH - v.YMEAN;
    st.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const auto t0 = std::chrono::steady_clock::now();
    std::string text = results_head(s.FNAME, st.cutoff, st.baseline, st.nfit);
    const PeakSearchTotals totals = search_lines(s.FREQ, s.INTENS, s.NPTS, st, text);
    text += results_summary(totals);
    search_ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    count = totals.count;
    SafeFile file;
    if (file.open(path, OpenMode::Unknown) != SafeFile::Status::Ok) return false;
    file.write(text);
    return file.commit();
}

// The GLE data file of the whole spectrum, normalised between its extremes.
bool write_gle_data(const std::string& path) {
    const auto& s = store();
    const auto n = static_cast<std::size_t>(s.NPTS);
    SafeFile file;
    if (file.open(path, OpenMode::Unknown) != SafeFile::Status::Ok) return false;
    gle_data_text(s.FNAME, std::span(s.FREQ.data() + 1, n), std::span(s.INTENS.data() + 1, n),
                  s.FREQ[1], s.FREQ[n], s.IYMIN, s.IYMAX,
                  [&](std::string_view text) { file.write(text); });
    return file.commit();
}

// Median of `repeats` timed runs of `work`; `prepare` runs untimed before each.
// nullopt when a run failed.
std::optional<double> median_ms(int repeats, const std::function<bool()>& work,
                                const std::function<void()>& prepare = {}) {
    std::vector<double> ms;
    for (int r = 0; r < repeats; ++r) {
        if (prepare) prepare();
        const auto t0 = std::chrono::steady_clock::now();
        if (!work()) return std::nullopt;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    const std::size_t half = ms.size() / 2;
    return ms.size() % 2 ? ms[half] : (ms[half - 1] + ms[half]) / 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "rows_bench: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        std::fputs(USAGE, stderr);
        return 64;
    }
    Options o;
    o.row = argv[1];
    o.binary = argv[2];
    o.ascii = argv[3];
    if (argc > 4) {
        const auto r = parse<int>(argv[4]);
        if (!r || *r < 1) return fail(std::string("bad REPEATS: ") + argv[4]);
        o.repeats = *r;
    }
    if (argc > 5) {
        o.cutoff = parse<std::int16_t>(argv[5]);
        if (!o.cutoff) return fail(std::string("bad CUTOFF: ") + argv[5]);
    }

    // The window and geometry the program has with its default 800 x 540
    // configuration; nothing is shown, but every screen is drawn as usual.
    auto& s = store();
    s.SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
    TestWindow tw(800, 540, 30);

    std::optional<double> ms;
    if (o.row == "load_catalog") {
        // BINARY names a line catalogue here.
        std::size_t lines = 0;
        ms = median_ms(o.repeats, [&] {
            Catalog c;
            const bool read = read_catalog(o.binary, c).error.empty();
            lines = c.size();
            return read;
        });
        std::fprintf(stderr, "load_catalog: %zu lines\n", lines);
    } else if (o.row == "load_binary") {
        ms = median_ms(o.repeats, [&] { return load_binary(o.binary) && s.NPTS > 0; });
    } else if (o.row == "load_ascii") {
        ms = median_ms(o.repeats, [&] { return load_ascii(o.ascii); });
        std::fprintf(stderr, "load_ascii: %d points read%s\n", s.NPTS,
                     tw.screen_contains("not linear") ? ", axis resampled" : "");
    } else {
        if (!load_binary(o.binary)) return fail("cannot load " + o.binary);
        s.FNAME = o.binary;
        if (o.row == "cutoff") {
            std::printf("%d\n", percentile_99());
            return 0;
        }
        // The viewer's entry sets the display levels, the mean and ORIGNL as
        // every command below finds them.
        ViewerState v;
        lookfm_entry(v);
        const auto n = static_cast<std::ptrdiff_t>(s.NPTS);
        const auto restore = [&] {
            std::copy(s.ORIGNL.begin() + 1, s.ORIGNL.begin() + 1 + n, s.INTENS.begin() + 1);
        };
        const std::filesystem::path out_dir = std::filesystem::path(o.binary).parent_path();
        if (const int w = window_of(o.row, "smooth_"); w != 0) {
            if (w < 0) return fail("bad smoothing window in " + o.row);
            ms = median_ms(
                o.repeats,
                [&] {
                    smooth_store(w, 1);
                    return true;
                },
                restore);
        } else if (const int b = window_of(o.row, "baseline_"); b != 0) {
            if (b < 0) return fail("bad smoothing window in " + o.row);
            ms = median_ms(
                o.repeats,
                [&] {
                    smooth_store(b, BASELINE_PASSES);
                    return true;
                },
                restore);
        } else if (o.row == "peakfinder") {
            const std::int16_t cutoff = o.cutoff ? *o.cutoff : percentile_99();
            const std::string path = (out_dir / "korax-peaks.txt").string();
            std::int32_t count = 0;
            std::vector<double> search_ms;
            ms =
                median_ms(o.repeats, [&] { return find_lines(v, cutoff, path, count, search_ms); });
            std::filesystem::remove(path);
            std::sort(search_ms.begin(), search_ms.end());
            std::fprintf(stderr,
                         "peakfinder: %d points, cutoff %d, %d lines, search alone %.2f ms\n",
                         s.NPTS, cutoff, count, search_ms[search_ms.size() / 2]);
        } else if (o.row == "redraw") {
            v.FLOW = s.FREQ[1];
            v.FHIGH = s.FREQ[static_cast<std::size_t>(s.NPTS)];
            v.FCURS = (v.FLOW + v.FHIGH) / 2;
            plot_redraw(v); // glyphs and canvas warmed up, as in a running viewer
            ms = median_ms(o.repeats, [&] {
                plot_redraw(v);
                return v.ILAST - v.IFIRST + 1 == s.NPTS;
            });
        } else if (o.row == "gledata") {
            const std::string path = (out_dir / "korax-gle.dat").string();
            ms = median_ms(o.repeats, [&] { return write_gle_data(path); });
            std::filesystem::remove(path);
        } else {
            std::fputs(USAGE, stderr);
            return 64;
        }
    }
    if (!ms) return fail(o.row + " failed");
    std::printf("%s %.2f\n", o.row.c_str(), *ms);
    return 0;
}
