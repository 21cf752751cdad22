// `korax info`: the recording parameters of the information screen, for
// scripts and file managers: "key: value" lines, or one JSON object per file.
#include "batch/commands.h"
#include "batch/runner.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <utility>
#include <variant>

namespace korax {

namespace {

const std::string COMMAND = "korax info";

template <std::size_t N> std::string text_of(const std::array<char, N>& field) {
    std::string t = field_text(field);
    while (!t.empty() && t.back() == ' ')
        t.pop_back();
    return t;
}

// Shortest decimal that reads back to the same value of its own type, so a
// 32-bit field shows as stored (0.05, not 0.0500000007).
template <class T> std::string shortest(T v) {
    char text[40];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// Absent (std::monostate): a field the file does not hold. JSON shows it as
// null, the lines as an empty value.
using Value = std::variant<std::monostate, std::string, long long, float, double, bool>;

// The decimals a number was written with, judged from its shortest exact form
// (trailing zeros of the file do not count): 239649.95 has 2, 1.5e-07 has 8,
// 2.5e+20 has -19.
int decimals_of(double v) {
    char text[40];
    const char* end = std::to_chars(text, text + sizeof text, v).ptr;
    const std::string_view t(text, static_cast<std::size_t>(end - text));
    const auto e = t.find('e');
    const std::string_view mantissa = t.substr(0, e);
    const auto point = mantissa.find('.');
    int d = point == std::string_view::npos ? 0 : static_cast<int>(mantissa.size() - point - 1);
    if (e != std::string_view::npos) {
        int exponent = 0;
        std::from_chars(t.data() + e + 1 + (t[e + 1] == '+'), end, exponent);
        d -= exponent;
    }
    return d;
}

// The step of a text spectrum, (end - start) / (points - 1) of two frequencies
// read from the file, to the precision they carry: their decimals and as many
// again as the count of steps has digits, which is where (points - 1) steps
// still give back the range to the file's last decimal. The division's
// rounding noise beyond that goes (0.05000000000000388 becomes 0.05).
double step_as_read(const Spectrum& sp) {
    const double step = sp.fstep;
    if (!(std::isfinite(step) && step > 0) || sp.npts < 2) return step;
    int digits = 0;
    for (std::int64_t k = sp.npts - 1; k > 0; k /= 10)
        ++digits;
    const int decimals = std::max(decimals_of(sp.fstart), decimals_of(sp.fend)) + digits;
    // In significant digits, so that steps of any size round alike.
    const int significant = decimals + static_cast<int>(std::floor(std::log10(step))) + 1;
    if (significant >= 17) return step;
    char text[48];
    std::snprintf(text, sizeof text, "%.*e", std::max(significant, 1) - 1, step);
    return std::strtod(text, nullptr);
}

std::vector<std::pair<std::string, Value>> fields(const Spectrum& sp) {
    const SpectrumHeader& h = sp.header;
    char date[40], time[40];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", h.IYEAR, h.IMONTH, h.IDAY);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", h.IHOUR, h.IMINUT, h.ISECND);
    // The screen shows a gain below 0.099 (V, as some recordings store it) in mV.
    const float gain = double(h.GAIN) < 0.099 ? h.GAIN * 1000.0f : h.GAIN;
    // A plain text spectrum holds a comment and the pairs: every recording
    // parameter the reader shows for it is made up (date, sample, points per
    // second) or zero, and is absent here. A text written by `korax convert`
    // carries the real ones.
    const bool text = sp.format == Spectrum::Format::Ascii;
    const bool recorded = !text || sp.header_carried;
    const auto given = [recorded](Value v) { return recorded ? v : Value{}; };
    return {
        {"file", sp.name},
        {"format", std::string(text ? "ASCII" : "PELMO")},
        {"comment", text_of(h.COMENT)},
        {"date", given(std::string(date))},
        {"time", given(std::string(time))},
        {"lamp", given(text_of(h.LAMP))},
        {"vkm_low_mV", given(h.VKMLO)},
        {"vkm_high_mV", given(h.VKMHI)},
        {"grid_V", given(h.GRID)},
        {"sample", given(text_of(h.SAMPLE))},
        {"pressure_mTorr", given(h.PRESS)},
        {"gain_mV", given(gain)},
        {"time_constant_s", given(h.TCONST)},
        {"phase_deg", given(h.PHASE)},
        {"delays_averages", given(text_of(h.NDELAV))},
        {"points_per_second", given(h.PTSSEC)},
        {"modulation_kHz", given(h.FMOD)},
        {"deviation_kHz", given(h.FDEV)},
        {"points", static_cast<long long>(sp.npts)},
        {"intensity_min", static_cast<long long>(sp.iymin)},
        {"intensity_max", static_cast<long long>(sp.iymax)},
        {"frequency_start", sp.fstart},
        {"frequency_end", sp.fend},
        // A PELMO step is stored as it is; a text one is computed.
        {"frequency_step", text && !sp.axis_carried ? step_as_read(sp) : sp.fstep},
        {"axis_linearised", sp.linearised},
    };
}

} // namespace

std::string info_text(const Spectrum& sp) {
    std::string t;
    for (const auto& [key, value] : fields(sp)) {
        t += key;
        t += ": ";
        std::visit(
            [&t](const auto& v) {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<V, std::string>)
                    t += v;
                else if constexpr (std::is_same_v<V, bool>)
                    t += v ? "yes" : "no";
                else if constexpr (!std::is_same_v<V, std::monostate>)
                    t += shortest(v);
            },
            value);
        t += '\n';
    }
    return t;
}

std::string info_json(const Spectrum& sp) {
    nlohmann::ordered_json j;
    for (const auto& field : fields(sp)) {
        // Named outside the binding: lambdas cannot capture structured bindings
        // in every compiler the project builds with.
        const std::string& key = field.first;
        const Value& value = field.second;
        std::visit(
            [&](const auto& v) {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<V, float>) {
                    // Through its shortest text, so JSON shows 0.05 rather than
                    // the double nearest the 32-bit value; NaN and infinities
                    // become null, as JSON has no numbers for them.
                    if (std::isfinite(v))
                        j[key] = std::stod(shortest(v));
                    else
                        j[key] = nullptr;
                } else if constexpr (std::is_same_v<V, double>) {
                    if (std::isfinite(v))
                        j[key] = v;
                    else
                        j[key] = nullptr;
                } else if constexpr (std::is_same_v<V, std::monostate>) {
                    j[key] = nullptr;
                } else {
                    j[key] = v;
                }
            },
            value);
    }
    // Text fields may hold any byte a recording left; replace what is not UTF-8.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int run_info(const InfoCommand& cmd) {
    return run_files(cmd.files, cmd.jobs, COMMAND, [&](std::size_t i, int) {
        FileOutcome o;
        Spectrum sp;
        if (const std::string why = load_spectrum(cmd.files[i], sp); !why.empty()) {
            o.ok = false;
            o.err = COMMAND + ": " + cmd.files[i] + ": " + why + "\n";
            return o;
        }
        if (cmd.json) {
            o.out = info_json(sp);
        } else {
            // A blank line ends each file's record, whichever files fail.
            o.out = info_text(sp) + "\n";
        }
        return o;
    });
}

} // namespace korax
