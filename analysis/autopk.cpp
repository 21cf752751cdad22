// AUTOPK (PEAKFINDER): the range and file dialogs, the scan for lines above the
// cutoff, three fits per line, the half-height crossings and the results file.
// The scan is search_lines, callable without a window.
#include "analysis/autopk.h"

#include "analysis/peakf.h"
#include "analysis/smooth.h"
#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "driver/store.h"
#include "window/answer.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace korax {

namespace {

const std::string HYPHENS(78, '-');
constexpr std::string_view CRLF = "\r\n";

// Iw into `out`: right-aligned, asterisks when the value does not fit.
int put_int(char* out, long long value, int width) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    const int len = static_cast<int>(r.ptr - digits);
    if (len > width) {
        std::memset(out, '*', std::size_t(width));
    } else {
        std::memset(out, ' ', std::size_t(width - len));
        std::memcpy(out + (width - len), digits, std::size_t(len));
    }
    return width;
}

// Nearest point to frequency f on the equally spaced axis, limited to [lo, hi];
// computed in floating point first so that a wild fit cannot overflow.
std::int32_t nearest_point(double f, std::span<const double> freq, std::int32_t npts,
                           std::int32_t lo, std::int32_t hi) {
    const double span = freq[std::size_t(npts)] - freq[1];
    double x = span != 0 ? std::round((f - freq[1]) / span * (npts - 1)) + 1 : 1;
    if (!(x >= lo)) x = lo; // NaN lands at the low end
    if (x > hi) x = hi;
    return static_cast<std::int32_t>(x);
}

// Finds the nearest point on the far side of a level (or on it), left or right
// of a start point. Block minima and maxima at several levels let a search skip
// whole stretches that stay on one side, so a level far below the data costs a
// few hundred reads per line instead of a scan to the end of the range. Built
// only when a plain scan of SHORT_SCAN points did not succeed.
class CrossingFinder {
  public:
    static constexpr std::int64_t SHORT_SCAN = 256;

    CrossingFinder(std::span<const std::int32_t> y, std::int32_t lo, std::int32_t hi)
        : m_y(y), m_lo(lo), m_hi(hi) {}

    // Last k in [a, b] (searching downward from b) whose value is on the far
    // side: at or below `level` when `above` is true, at or above it otherwise.
    std::optional<std::int32_t> find_down(std::int32_t b, std::int32_t a, double level,
                                          bool above) {
        std::int64_t k = b;
        for (std::int64_t n = 0; k >= a && (n < SHORT_SCAN || k > m_hi); ++n, --k)
            if (far_side(m_y[std::size_t(k)], level, above)) return static_cast<std::int32_t>(k);
        if (k < a) return std::nullopt;
        build();
        while (k >= a) {
            bool skipped = false;
            for (int level_index = int(m_min.size()); level_index >= 1; --level_index) {
                const int shift = SHIFT * level_index;
                const std::int64_t size = std::int64_t(1) << shift;
                const std::int64_t off = k - m_lo;
                if (((off + 1) & (size - 1)) != 0 || k - size + 1 < a) continue;
                if (!block_reaches(level_index, off >> shift, level, above)) {
                    k -= size;
                    skipped = true;
                    break;
                }
            }
            if (skipped) continue;
            if (far_side(m_y[std::size_t(k)], level, above)) return static_cast<std::int32_t>(k);
            --k;
        }
        return std::nullopt;
    }

    // First k in [a, b] searching upward from a; the same test.
    std::optional<std::int32_t> find_up(std::int32_t a, std::int32_t b, double level, bool above) {
        std::int64_t k = a;
        for (std::int64_t n = 0; k <= b && (n < SHORT_SCAN || k < m_lo); ++n, ++k)
            if (far_side(m_y[std::size_t(k)], level, above)) return static_cast<std::int32_t>(k);
        if (k > b) return std::nullopt;
        build();
        while (k <= b) {
            bool skipped = false;
            for (int level_index = int(m_min.size()); level_index >= 1; --level_index) {
                const int shift = SHIFT * level_index;
                const std::int64_t size = std::int64_t(1) << shift;
                const std::int64_t off = k - m_lo;
                if ((off & (size - 1)) != 0 || k + size - 1 > b) continue;
                if (!block_reaches(level_index, off >> shift, level, above)) {
                    k += size;
                    skipped = true;
                    break;
                }
            }
            if (skipped) continue;
            if (far_side(m_y[std::size_t(k)], level, above)) return static_cast<std::int32_t>(k);
            ++k;
        }
        return std::nullopt;
    }

  private:
    static constexpr int SHIFT = 6;
    static constexpr std::int64_t FANOUT = std::int64_t(1) << SHIFT;

    static bool far_side(std::int32_t y, double level, bool above) {
        return above ? double(y) <= level : double(y) >= level;
    }
    bool block_reaches(int level_index, std::int64_t block, double level, bool above) const {
        const auto b = std::size_t(block);
        return above ? double(m_min[std::size_t(level_index - 1)][b]) <= level
                     : double(m_max[std::size_t(level_index - 1)][b]) >= level;
    }
    // The lowest level is taken straight from the data (no copy of millions of
    // points), every further level from the one below it.
    void build() {
        if (!m_min.empty()) return;
        const std::int64_t n = std::int64_t(m_hi) - m_lo + 1;
        std::vector<std::int32_t> mins(std::size_t((n + FANOUT - 1) / FANOUT));
        std::vector<std::int32_t> maxs(mins.size());
        for (std::size_t b = 0; b < mins.size(); ++b) {
            const std::int64_t first = m_lo + std::int64_t(b) * FANOUT;
            const std::int64_t last =
                std::min<std::int64_t>(std::int64_t(m_hi) + 1, first + FANOUT);
            std::int32_t lo = m_y[std::size_t(first)], hi = lo;
            for (std::int64_t k = first + 1; k < last; ++k) {
                lo = std::min(lo, m_y[std::size_t(k)]);
                hi = std::max(hi, m_y[std::size_t(k)]);
            }
            mins[b] = lo;
            maxs[b] = hi;
        }
        for (;;) {
            const std::size_t size = mins.size();
            m_min.push_back(std::move(mins));
            m_max.push_back(std::move(maxs));
            if (size <= 1) break;
            const auto& below_min = m_min.back();
            const auto& below_max = m_max.back();
            mins.assign((size + FANOUT - 1) / FANOUT, 0);
            maxs.assign(mins.size(), 0);
            for (std::size_t b = 0; b < mins.size(); ++b) {
                const std::size_t first = b * std::size_t(FANOUT);
                const std::size_t last = std::min(size, first + std::size_t(FANOUT));
                mins[b] = *std::min_element(below_min.begin() + std::ptrdiff_t(first),
                                            below_min.begin() + std::ptrdiff_t(last));
                maxs[b] = *std::max_element(below_max.begin() + std::ptrdiff_t(first),
                                            below_max.begin() + std::ptrdiff_t(last));
            }
        }
    }

    std::span<const std::int32_t> m_y;
    std::int32_t m_lo, m_hi; // the points the block levels cover
    std::vector<std::vector<std::int32_t>> m_min, m_max;
};

// The first k in [from, to] with y[k] >= level, or to + 1. Most of a spectrum
// lies below the cutoff; testing whole blocks at once lets the compiler use
// vector compares for that stretch.
std::int64_t next_reaching(std::span<const std::int32_t> y, std::int64_t from, std::int64_t to,
                           std::int32_t level) {
    constexpr std::int64_t block = 16;
    std::int64_t k = from;
    while (k + block - 1 <= to) {
        bool any = false;
        for (std::int64_t j = 0; j < block; ++j)
            any |= y[std::size_t(k + j)] >= level;
        if (any) break;
        k += block;
    }
    while (k <= to && y[std::size_t(k)] < level)
        ++k;
    return k;
}

double crossing(std::span<const double> x, std::span<const std::int32_t> y, std::int32_t j,
                double level) {
    const auto a = std::size_t(j), b = std::size_t(j + 1);
    // Two neighbours both exactly on the level: the crossing is the first of them.
    if (y[b] == y[a]) return x[a];
    return x[a] + (level - y[a]) * (x[b] - x[a]) / double(y[b] - y[a]);
}

struct LineResult {
    double fpeak = 0, fperr = 0, ypeak = 0;
    std::optional<double> left, right;
};

void append_line(std::string& text, const LineResult& r, double baseline, double height) {
    char line[160];
    char* p = line;
    const double intensity = std::trunc(r.ypeak - baseline);
    const std::int32_t ii = saturate_intensity(intensity);
    p += put_fixed(p, r.fpeak, 14, 5);
    std::memcpy(p, " +-", 3);
    p += 3;
    p += put_fixed(p, r.fperr, 8, 5);
    p += put_int(p, ii, 8);
    if (r.left && r.right) {
        p += put_fixed(p, *r.right - *r.left, 11, 5);
    } else {
        std::memcpy(p, "  not found", 11);
        p += 11;
    }
    std::memcpy(p, "  |", 3);
    p += 3;
    long long bar = 0;
    if (ii != 0) {
        const double scaled = std::abs(double(ii) * 32 / height);
        bar = scaled < 32 ? std::llround(scaled) : 32; // also an infinite or NaN scale
    }
    if (bar > 0) {
        std::memset(p, '-', std::size_t(bar));
        p += bar;
    } else {
        *p++ = '.';
    }
    text.append(line, std::size_t(p - line));
    text.append(CRLF);
}

void append_failed_line(std::string& text, double frequency) {
    char line[96];
    char* p = line;
    p += put_fixed(p, frequency, 14, 5);
    static constexpr std::string_view note = "   ** line fit failed (no curvature)";
    std::memcpy(p, note.data(), note.size());
    p += note.size();
    text.append(line, std::size_t(p - line));
    text.append(CRLF);
}

} // namespace

PeakSearchTotals search_lines(std::span<const double> freq, std::span<const std::int32_t> intens,
                              std::int32_t npts, const PeakSearchSettings& st, std::string& text,
                              const std::function<void(std::int32_t)>& progress,
                              std::vector<FoundLine>* found) {
    assert(st.nfit >= 5 && st.nfit % 2 == 1 && "PEAKFINDER fits an odd number of 5 or more points");
    assert(st.start >= 1 && st.end <= npts && freq.size() > std::size_t(npts) &&
           intens.size() > std::size_t(npts));
    PeakSearchTotals totals;
    const std::int32_t w = st.nfit;
    const std::int32_t q = std::max(1, w / 4);
    const std::int32_t h = w / 2;
    auto& fit = fit_arrays();
    CrossingFinder finder(intens, st.start, st.end);

    for (std::int64_t i = std::int64_t(st.start) + w + 1; i <= std::int64_t(st.end) - w;) {
        const std::int32_t y = intens[std::size_t(i)];
        if (y < st.cutoff) {
            i = next_reaching(intens, i + 1, std::int64_t(st.end) - w, st.cutoff);
            continue;
        }
        if (!(y > intens[std::size_t(i + q)] && y > intens[std::size_t(i + 2 * q)] &&
              y > intens[std::size_t(i - 2 * q)] && y > intens[std::size_t(i - q)])) {
            ++i;
            continue;
        }
        LineResult r;
        double clin = 0, cquad = 0;
        bool ok = true;
        std::int32_t centre = static_cast<std::int32_t>(i);
        for (int attempt = 1; attempt <= 3 && ok; ++attempt) {
            for (std::int32_t k = 1; k <= w; ++k) {
                fit.XFIT[std::size_t(k)] = freq[std::size_t(centre - h - 1 + k)];
                fit.YFIT[std::size_t(k)] = intens[std::size_t(centre - h - 1 + k)];
            }
            std::int16_t nc = static_cast<std::int16_t>(w);
            ok = PEAKF(nc, r.fpeak, r.fperr, r.ypeak, clin, cquad) && std::isfinite(r.fpeak);
            // The window of the next fit stays inside the spectrum.
            if (ok && attempt < 3) centre = nearest_point(r.fpeak, freq, npts, h + 1, npts - h);
        }
        if (!ok) {
            ++totals.failed;
            append_failed_line(text, freq[std::size_t(i)]);
            if (found) found->push_back({freq[std::size_t(i)], 0, 0, std::nullopt, false});
            i += 2 * q + 1;
            continue;
        }

        const std::int32_t j0 =
            nearest_point(r.fpeak, freq, npts, std::max(1, 2 * q), std::min(npts, npts - 2 * q));
        const double half = (st.baseline + r.ypeak) / 2;
        const std::int32_t y0 = intens[std::size_t(j0)];
        if (double(y0) == half) {
            if (j0 - 1 >= st.start) r.left = crossing(freq, intens, j0 - 1, half);
            if (j0 + 1 <= st.end) r.right = crossing(freq, intens, j0, half);
        } else {
            const bool above = double(y0) > half;
            if (j0 - 1 >= st.start)
                if (auto k = finder.find_down(j0 - 1, st.start, half, above))
                    r.left = crossing(freq, intens, *k, half);
            if (j0 + 1 <= st.end)
                if (auto k = finder.find_up(std::max(j0 + 1, 1), st.end, half, above))
                    r.right = crossing(freq, intens, *k - 1, half);
        }
        if (r.left && r.right) {
            const double fwhh = *r.right - *r.left;
            ++totals.with_fwhh;
            totals.sum += fwhh;
            totals.sum2 += fwhh * fwhh;
        }
        ++totals.count;
        append_line(text, r, st.baseline, st.height);
        if (found)
            found->push_back(
                {r.fpeak, r.fperr, saturate_intensity(std::trunc(r.ypeak - st.baseline)),
                 r.left && r.right ? std::optional(*r.right - *r.left) : std::nullopt});
        if (progress && totals.count % 10 == 0) progress(totals.count);
        // The next 2q points after a line are not examined.
        i += 2 * q + 1;
    }
    return totals;
}

std::string results_head(std::string_view fname, std::int16_t cutoff, std::int16_t baseline,
                         std::int16_t nfit) {
    std::string t;
    auto line = [&t](std::string_view s) {
        t += s;
        t += CRLF;
    };
    line(HYPHENS);
    line(" KORAX PeakFinder RESULTS FOR SPECTRUM:");
    line(blanks(19) + std::string(trim_right(fname)));
    line("");
    line("   cutoff: " + fmt_int(cutoff, 8) + blanks(20) + "fitting width:" + fmt_int(nfit, 5));
    line(" baseline: " + fmt_int(baseline, 8));
    line(HYPHENS);
    line("");
    line("    Frequency     Error   Intensity     FWHH");
    line("");
    return t;
}

std::string results_summary(const PeakSearchTotals& totals) {
    double mean = 0, deviation = 0;
    if (totals.with_fwhh > 0) {
        mean = totals.sum / totals.with_fwhh;
        // Equal widths can leave a rounding-negative variance.
        deviation = std::sqrt(std::max(0.0, totals.sum2 / totals.with_fwhh - mean * mean));
    }
    std::string t;
    auto line = [&t](std::string_view s) {
        t += s;
        t += CRLF;
    };
    line(" ");
    line(blanks(24) + "Mean FWHH =" + fmt_fixed(mean, 9, 5) + " +-" + fmt_fixed(deviation, 9, 5));
    line(" Total number of identified lines =" + fmt_int(totals.count, 9));
    line("");
    line(HYPHENS);
    return t;
}

bool write_results_file(const std::string& path, OpenMode mode, std::string_view fname,
                        const PeakSearchSettings& settings, std::string_view lines,
                        const PeakSearchTotals& totals, std::string& error) {
    SafeFile file;
    const SafeFile::Status status = file.open(path, mode);
    if (status != SafeFile::Status::Ok) {
        error = status == SafeFile::Status::Exists ? std::strerror(EEXIST) : file.error_text();
        return false;
    }
    return write_results_file(file, fname, settings, lines, totals, error);
}

bool write_results_file(SafeFile& file, std::string_view fname, const PeakSearchSettings& settings,
                        std::string_view lines, const PeakSearchTotals& totals,
                        std::string& error) {
    file.write(results_head(fname, settings.cutoff, settings.baseline, settings.nfit));
    file.write(lines);
    file.write(results_summary(totals));
    const bool written = file.commit();
    error = file.error_text();
    return written;
}

namespace {

// Reads a file name at the prompt already written. An empty answer is the way
// out when no name will do (a folder that cannot be written to, say).
std::optional<std::string> read_name(Window& w) {
    std::string name(trim_right(w.read_line()));
    if (name.find_first_not_of(' ') == std::string::npos) return std::nullopt;
    return name;
}

// The output-file dialog: true with `file` open on `full_name`, false when the
// operator left at a name prompt or at the overwrite question. Every new name
// is opened as "NEW", so a yes given for one name never replaces another file.
bool open_results_file(Window& w, SafeFile& file, std::string& full_name) {
    const std::string prefix = directory_part(store().FNAME);
    static constexpr std::string_view name_prompt = "     OUTPUT FILE NAME :  ";
    static constexpr std::string_view new_name_prompt = "     New file name:  ";
    w.write_line(" ");
    w.write_line(name_prompt, LineEnd::Stay);
    auto name = read_name(w);
    OpenMode mode = OpenMode::New;
    for (;;) {
        if (!name) return false;
        // A name typed from the root is taken as it stands; any other goes
        // next to the spectrum.
        full_name = name->front() == '/' ? *name : prefix + *name;
        const auto status = file.open(full_name, mode);
        if (status == SafeFile::Status::Ok) return true;
        if (status == SafeFile::Status::Error) {
            w.write_line(" ");
            w.set_text_color(12);
            w.write_line("     " + full_name + ": " + file.error_text());
            w.set_text_color(0);
            w.write_line(name_prompt, LineEnd::Stay);
            name = read_name(w);
            mode = OpenMode::New;
            continue;
        }
        w.write_line(" ");
        static constexpr std::string_view question =
            "     THIS FILE ALREADY EXISTS, OVERWRITE (Y/N)?  ";
        w.write_line(question, LineEnd::Stay);
        const std::string answer = pad(w.read_line(), 8);
        if (answer == "Y       " || answer == "y       ") {
            mode = OpenMode::Unknown;
        } else if (answer == "N       " || answer == "n       ") {
            w.write_line(new_name_prompt, LineEnd::Stay);
            name = read_name(w);
            mode = OpenMode::New;
        } else {
            return false;
        }
    }
}

std::int16_t ask_range(Window& w, std::int16_t cutoff, std::int16_t baseline) {
    for (;;) {
        w.clear_window();
        w.set_text_cursor(true);
        w.write_line(" ");
        w.write_line(heading("P E A K F I N D E R"));
        w.write_line("");
        w.write_line("");
        w.write_line("     Peaks will be identified for lines with intensity above");
        w.write_line("     the cutoff value and peak intensities will be relative");
        w.write_line("     to the specified baseline");
        w.write_line("");
        w.write_line("     Y-axis cutoff:   " + fmt_int(cutoff, 6));
        w.write_line("     Y-axis baseline: " + fmt_int(baseline, 6));
        w.write_line("");
        w.write_line("     Select search range:  0 = current window");
        w.write_line(blanks(27) + "1 = complete spectrum");
        w.write_line("");
        w.write_line(blanks(22) + ".... ", LineEnd::Stay);
        const auto answer = read_int<std::int16_t>(w.read_line(), 5);
        if (answer && (*answer == 0 || *answer == 1)) return *answer;
    }
}

} // namespace

void AUTOPK(std::int32_t& IFIRST, std::int32_t& ILAST, std::int16_t& cutoff, std::int16_t& baseline,
            std::int16_t& NFIT, double& height) {
    auto& w = window();
    auto& s = store();

    const std::int16_t range = ask_range(w, cutoff, baseline);
    PeakSearchSettings st;
    st.start = range == 0 ? std::max(1, IFIRST) : 1;
    st.end = range == 0 ? std::min(s.NPTS, ILAST) : s.NPTS;
    st.cutoff = cutoff;
    st.baseline = baseline;
    st.nfit = NFIT;
    st.height = height;

    SafeFile file;
    std::string full_name;
    if (!open_results_file(w, file, full_name)) return;

    std::string lines;
    w.write_line(" ");
    w.write_line("");
    w.write_line("     The number of identified lines: ");
    w.write_line("     ", LineEnd::Stay);
    w.flush();
    const auto totals = search_lines(s.FREQ, s.INTENS, s.NPTS, st, lines, [&w](std::int32_t count) {
        w.write_line(fmt_int(count, 5), LineEnd::Stay);
        w.flush();
    });
    std::string error;
    const bool written = write_results_file(file, s.FNAME, st, lines, totals, error);

    w.write_line(" ");
    w.write_line("");
    w.write_line("     PEAKFINDER found" + fmt_int(totals.count, 7) + " transitions");
    w.write_line("");
    if (written) {
        w.write_line("     Output has been written to ", LineEnd::Stay);
        w.set_text_color(12);
        w.write_line(full_name);
        // A temporary that could not be removed, named so that it can be.
        if (!error.empty())
            for (const std::string& line : error_lines(error))
                w.write_line("     " + line);
        w.set_text_color(0);
    } else {
        w.set_text_color(12);
        w.write_line("     ERROR: the results were not written to " + full_name);
        for (const std::string& line : error_lines(error))
            w.write_line("     " + line);
        w.set_text_color(0);
    }
    w.write_line(" ");
    w.write_line(blanks(40) + "Press ENTER to continue  ", LineEnd::Stay);
    wait_for_enter();
}

} // namespace korax
