// The PEAKFINDER results file: its head, one line per candidate, its summary,
// and the whole file written through SafeFile. The lines are built in place
// with fixed fields, since a search may report hundreds of thousands of them.
#include "analysis/peak_search.h"

#include "analysis/smooth.h"
#include "base/format.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

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

// "  |" and the bar of a line: up to 32 hyphens scaled to `height`, or "."
// when it has none.
void append_bar(std::string& text, std::int32_t intensity, double height) {
    text += "  |";
    long long bar = 0;
    if (intensity != 0) {
        const double scaled = std::abs(double(intensity) * 32 / height);
        bar = scaled < 32 ? std::llround(scaled) : 32; // also an infinite or NaN scale
    }
    if (bar > 0)
        text.append(std::size_t(bar), '-');
    else
        text += '.';
}

} // namespace

void append_result_line(std::string& text, double fpeak, double fperr, double ypeak,
                        const Crossings& crossings, double baseline, double height, double step) {
    append_line(text, fpeak, fperr, saturate_intensity(std::trunc(ypeak - baseline)),
                crossings.width(), height, step);
}

void append_line(std::string& text, double frequency, double error, std::int32_t intensity,
                 std::optional<double> fwhh, double height, double step) {
    // An error that 5 decimals would write as 0.00000 (a fine axis in
    // wavenumbers) widens the line's numbers to the error's two digits.
    if (widens_for(error, 5, step)) {
        const int decimals = value_decimals(frequency, error, 5);
        std::string widened = fmt_widened(frequency, 14, 5, decimals) + " +-" +
                              fmt_widened(error, 8, 5, std::max(5, error_decimals(error))) +
                              fmt_int(intensity, 8) +
                              (fwhh ? fmt_widened(*fwhh, 11, 5, decimals) : "  not found");
        append_bar(widened, intensity, height);
        text += widened;
        text.append(CRLF);
        return;
    }
    char line[160];
    char* p = line;
    const std::int32_t ii = intensity;
    p += put_fixed(p, frequency, 14, 5);
    std::memcpy(p, " +-", 3);
    p += 3;
    p += put_fixed(p, error, 8, 5);
    p += put_int(p, ii, 8);
    if (fwhh) {
        p += put_fixed(p, *fwhh, 11, 5);
    } else {
        std::memcpy(p, "  not found", 11);
        p += 11;
    }
    text.append(line, std::size_t(p - line));
    append_bar(text, ii, height);
    text.append(CRLF);
}

void append_failed_line(std::string& text, double frequency, double step) {
    append_note_line(text, frequency, "line fit failed (no curvature)", step);
}

void append_note_line(std::string& text, double frequency, std::string_view why, double known_to) {
    if (known_to > 0 && prints_as_zero(known_to, 5)) {
        text += fmt_widened(frequency, 14, 5, value_decimals(frequency, known_to, 5));
    } else {
        char line[32];
        const int n = put_fixed(line, frequency, 14, 5);
        text.append(line, std::size_t(n));
    }
    text += "   ** ";
    text += why;
    text.append(CRLF);
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
    // Widths of a few millionths (a fine axis in wavenumbers) get the digits
    // that keep them from reading 0.00000.
    const int decimals =
        mean != 0 && prints_as_zero(mean, 5) ? std::max(5, error_decimals(mean)) : 5;
    line(" ");
    line(blanks(24) + "Mean FWHH =" + fmt_widened(mean, 9, 5, decimals) + " +-" +
         fmt_widened(deviation, 9, 5, decimals));
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

} // namespace korax
