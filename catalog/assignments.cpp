// Reading, composing and writing the records of the assignment file.
#include "catalog/assignments.h"

#include "base/file_lock.h"
#include "base/input_file.h"
#include "base/safe_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace korax {

namespace {

std::optional<int> i3_field(std::string_view record, std::size_t k) {
    std::size_t at = 3 * k;
    if (at >= record.size()) return 0;
    std::string_view f = record.substr(at, 3);
    while (!f.empty() && f.front() == ' ')
        f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ')
        f.remove_suffix(1);
    if (f.empty()) return 0;
    int sign = 1;
    if (f.front() == '-' || f.front() == '+') {
        sign = f.front() == '-' ? -1 : 1;
        f.remove_prefix(1);
    }
    if (f.empty()) return std::nullopt;
    int v = 0;
    for (char c : f) {
        if (c < '0' || c > '9') return std::nullopt;
        v = 10 * v + (c - '0');
    }
    return sign * v;
}

} // namespace

namespace {

// The decimal exponent of `v` (> 0) as rounded to two significant digits:
// 0.00014 -> -4, and 0.000996 -> -3, since it rounds to 0.0010.
int two_digit_exponent(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1e", v);
    return std::atoi(std::strchr(text, 'e') + 1);
}

} // namespace

std::optional<std::string> lin_line(const QuantumNumbers& q, double freq, double unc, double weight,
                                    std::string_view comment, FrequencyUnit unit) {
    if (!std::isfinite(freq) || !std::isfinite(unc) || !std::isfinite(weight) || !(unc > 0))
        return std::nullopt;
    std::string record;
    char field[32];
    for (int k = 0; k < 2 * q.n; ++k) {
        int v = q.values[static_cast<std::size_t>(k)];
        if (v < -99 || v > 999) return std::nullopt;
        std::snprintf(field, sizeof field, "%3d", v);
        record += field;
    }
    record.resize(36, ' ');

    // The fit weighs a line by 1 / error^2: 0.00006 and 0.00014 written as
    // 0.0001 would be off by up to 2.8 times, so the error keeps two digits
    // and the frequency as many decimals as they reach.
    const int error_decimals = 1 - two_digit_exponent(unc);
    const double magnitude = std::abs(freq);
    const int whole_digits = magnitude >= 1 ? static_cast<int>(std::log10(magnitude)) + 1 : 1;
    // Beyond DBL_DIG significant digits a double holds no more decimals of its own.
    const int freq_decimals = std::clamp(
        error_decimals, 4, std::max(4, std::numeric_limits<double>::digits10 - whole_digits));
    const double signed_unc = unit == FrequencyUnit::Wavenumber ? -unc : unc;
    char error_text[32], weight_text[32];
    if (error_decimals >= 0 && error_decimals <= 12)
        std::snprintf(error_text, sizeof error_text, "%.*f", error_decimals, signed_unc);
    else
        std::snprintf(error_text, sizeof error_text, "%.1E", signed_unc);
    std::snprintf(weight_text, sizeof weight_text, "%.4f", weight);
    if (weight != 0 && std::strtod(weight_text, nullptr) == 0)
        std::snprintf(weight_text, sizeof weight_text, "%.1E", weight);
    char numbers[400];
    std::snprintf(numbers, sizeof numbers, " %15.*f %10s %8s", freq_decimals, freq, error_text,
                  weight_text);
    record += numbers;
    if (!comment.empty()) {
        record += "  ! ";
        record += comment;
    }
    return record;
}

std::optional<std::array<int, 12>> record_fields(std::string_view record) {
    std::array<int, 12> fields{};
    for (std::size_t k = 0; k < fields.size(); ++k) {
        auto v = i3_field(record, k);
        if (!v) return std::nullopt;
        fields[k] = *v;
    }
    return fields;
}

std::array<int, 12> transition_fields(const QuantumNumbers& q) {
    std::array<int, 12> fields{};
    for (int k = 0; k < 2 * q.n; ++k)
        fields[static_cast<std::size_t>(k)] = q.values[static_cast<std::size_t>(k)];
    return fields;
}

bool same_transition(std::string_view record, const QuantumNumbers& q) {
    auto fields = record_fields(record);
    return fields && *fields == transition_fields(q);
}

bool assignment_line(std::string_view line) {
    for (unsigned char c : line)
        if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '!') return true;
    if (line.size() <= 36 || !record_fields(line)) return false;
    // The frequency: a number right after the quantum numbers.
    const std::string rest(line.substr(36, 64));
    char* end = nullptr;
    std::strtod(rest.c_str(), &end);
    return end != rest.c_str() && (*end == '\0' || *end == ' ' || *end == '\t');
}

namespace {

constexpr std::size_t READ_BLOCK = 1 << 16;

std::string refused(std::size_t line, const char* what) {
    return "not an assignment file: line " + std::to_string(line) + " " + what;
}

} // namespace

AssignmentScan scan_assignments(const std::string& path, const AssignmentLine& each) {
    AssignmentScan scan;
    std::string why;
    const int fd = open_input_descriptor(path, &why);
    if (fd < 0) {
        if (why != std::strerror(ENOENT)) scan.error = why;
        return scan;
    }
    scan.exists = true;
    std::vector<char> block(READ_BLOCK);
    std::string line; // the line read so far, CR included
    bool stopped = false;
    // One line complete with its end: checked, then handed over.
    const auto hand_over = [&](std::string_view end) {
        std::string_view text = line;
        if (end == "\n" && !text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
            end = "\r\n";
        }
        ++scan.lines;
        if (!assignment_line(text)) {
            const bool binary = std::any_of(text.begin(), text.end(), [](unsigned char c) {
                return (c < 0x20 && c != '\t') || c == 0x7f;
            });
            scan.error = refused(scan.lines, binary ? "holds binary bytes"
                                                    : "is neither a record nor a comment");
            return false;
        }
        if (each && !each(text, end)) stopped = true;
        line.clear();
        return !stopped;
    };
    for (;;) {
        const long got = read_input(fd, block.data(), block.size());
        if (got < 0) {
            scan.error = std::strerror(errno);
            break;
        }
        if (got == 0) {
            if (!line.empty()) hand_over("");
            break;
        }
        std::string_view data(block.data(), static_cast<std::size_t>(got));
        bool go_on = true;
        while (go_on && !data.empty()) {
            const auto nl = data.find('\n');
            const std::string_view piece = data.substr(0, nl);
            // A CR may still come before the LF of a line of the longest length.
            if (line.size() + piece.size() > MAX_ASSIGNMENT_LINE + 1) {
                scan.error = refused(
                    scan.lines + 1,
                    ("is longer than " + std::to_string(MAX_ASSIGNMENT_LINE) + " bytes").c_str());
                go_on = false;
                break;
            }
            line += piece;
            if (nl == std::string_view::npos) break;
            data.remove_prefix(nl + 1);
            go_on = hand_over("\n");
        }
        if (!go_on) break;
    }
    ::close(fd);
    return scan;
}

AssignOutcome write_assignment(const std::string& path, const QuantumNumbers& q,
                               std::string_view record, bool replace,
                               const std::function<void()>& waiting) {
    AssignOutcome outcome;
    const auto failed = [&](std::string why) {
        outcome.status = AssignStatus::Failed;
        outcome.text = std::move(why);
        return outcome;
    };
    FileLock lock;
    if (!lock.lock(path, std::chrono::seconds(10), waiting)) return failed(lock.error_text());

    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    SafeFile out;
    switch (out.open(path, exists ? OpenMode::Unknown : OpenMode::New)) {
    case SafeFile::Status::Ok:
        break;
    case SafeFile::Status::Exists:
        // Only a dangling link leading out of its folder gets here.
        return failed("a link to a file elsewhere that does not exist yet: not followed");
    case SafeFile::Status::Error:
        return failed(out.error_text());
    }
    std::string eol;       // of the first line
    std::string_view last; // end of the last line read
    bool found = false;
    const AssignmentScan scan =
        scan_assignments(path, [&](std::string_view line, std::string_view end) {
            if (eol.empty() && !end.empty()) eol = end;
            last = end;
            if (!found && same_transition(line, q)) {
                found = true;
                if (!replace) {
                    outcome.line = line;
                    return false;
                }
                out.write(record);
            } else {
                out.write(line);
            }
            out.write(end);
            return true;
        });
    if (!scan.error.empty()) return failed(scan.error);
    if (found && !replace) {
        outcome.status = AssignStatus::AssignedAlready;
        return outcome;
    }
    if (eol.empty()) eol = "\r\n";
    if (!found) {
        // A last line without its end gets one, so that the record starts a line.
        if (scan.lines > 0 && last.empty()) out.write(eol);
        out.write(record);
        out.write(eol);
    }
    if (!out.commit()) return failed(out.error_text());
    outcome.status = AssignStatus::Written;
    outcome.replaced = found;
    outcome.text = out.error_text();
    return outcome;
}

} // namespace korax
