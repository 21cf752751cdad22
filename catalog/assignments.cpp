// Reading, composing and writing the records of the assignment file.
#include "catalog/assignments.h"

#include "base/safe_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include <sys/stat.h>

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

AssignmentFile read_assignments(const std::string& path) {
    AssignmentFile file;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) file.error = std::strerror(errno);
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        return file;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        file.error = std::strerror(errno);
        return file;
    }
    file.exists = true;
    std::ostringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    if (in.bad()) {
        file.error = "cannot be read";
        return file;
    }
    bool first = true;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        bool terminated = end != std::string::npos;
        if (!terminated) end = text.size();
        std::string line = text.substr(start, end - start);
        bool crlf = !line.empty() && line.back() == '\r';
        if (crlf) line.pop_back();
        if (first && terminated) file.eol = crlf ? "\r\n" : "\n";
        first = false;
        file.lines.push_back(std::move(line));
        start = end + 1;
    }
    return file;
}

std::string write_assignments(const std::string& path, const std::vector<std::string>& lines,
                              std::string_view eol) {
    SafeFile out;
    if (out.open(path, OpenMode::Unknown) != SafeFile::Status::Ok) return out.error_text();
    for (const auto& line : lines) {
        out.write(line);
        out.write(eol);
    }
    if (!out.commit()) return out.error_text();
    return {};
}

} // namespace korax
