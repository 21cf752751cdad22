// `korax info`: the recording parameters of the information screen, for
// scripts and file managers: "key: value" lines, or one JSON object per file.
#include "batch/commands.h"
#include "batch/runner.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
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

using Value = std::variant<std::string, long long, float, double>;

std::vector<std::pair<std::string, Value>> fields(const Spectrum& sp) {
    const SpectrumHeader& h = sp.header;
    char date[40], time[40];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", h.IYEAR, h.IMONTH, h.IDAY);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", h.IHOUR, h.IMINUT, h.ISECND);
    // The screen shows a gain below 0.099 (V, as some recordings store it) in mV.
    const float gain = double(h.GAIN) < 0.099 ? h.GAIN * 1000.0f : h.GAIN;
    return {
        {"file", sp.name},
        {"format", std::string(sp.format == Spectrum::Format::Pelmo ? "PELMO" : "ASCII")},
        {"comment", text_of(h.COMENT)},
        {"date", std::string(date)},
        {"time", std::string(time)},
        {"lamp", text_of(h.LAMP)},
        {"vkm_low_mV", h.VKMLO},
        {"vkm_high_mV", h.VKMHI},
        {"grid_V", h.GRID},
        {"sample", text_of(h.SAMPLE)},
        {"pressure_mTorr", h.PRESS},
        {"gain_mV", gain},
        {"time_constant_s", h.TCONST},
        {"phase_deg", h.PHASE},
        {"delays_averages", text_of(h.NDELAV)},
        {"points_per_second", h.PTSSEC},
        {"modulation_kHz", h.FMOD},
        {"deviation_kHz", h.FDEV},
        {"points", static_cast<long long>(sp.npts)},
        {"intensity_min", static_cast<long long>(sp.iymin)},
        {"intensity_max", static_cast<long long>(sp.iymax)},
        {"frequency_start", sp.fstart},
        {"frequency_end", sp.fend},
        {"frequency_step", sp.fstep},
        {"axis_linearised", std::string(sp.linearised ? "yes" : "no")},
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
                else
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
