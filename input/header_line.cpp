// The comment line that carries a PELMO header through a two-column text. The
// line is read back field by field and then written again from what was read:
// only a line identical to that one counts, so an edited or cut line is an
// ordinary comment and never a header half understood.
#include "input/header_line.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace korax {

namespace {

constexpr std::string_view MARK = " |PELMO header|";

void put_float(std::string& t, float v) {
    char text[32];
    if (std::isfinite(v)) {
        t.append(text, std::to_chars(text, text + sizeof text, v).ptr);
    } else {
        // The bits, so that a NaN keeps its payload.
        std::snprintf(text, sizeof text, "0x%08x", std::bit_cast<std::uint32_t>(v));
        t += text;
    }
}

void put_double(std::string& t, double v) {
    char text[40];
    t.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

template <std::size_t N> void put_text(std::string& t, const std::array<char, N>& field) {
    t += '[';
    t.append(field.data(), N);
    t += ']';
}

// Reads the fields in the order header_line writes them.
class Fields {
  public:
    explicit Fields(std::string_view line) : m_rest(line) {}

    bool word(std::string_view w) {
        if (!m_rest.starts_with(w)) return false;
        m_rest.remove_prefix(w.size());
        return true;
    }
    // A whole number up to `until` (or the end of the line when it is 0).
    bool integer(std::int16_t& v, char until) {
        int n = 0;
        const auto [p, ec] = std::from_chars(m_rest.data(), m_rest.data() + m_rest.size(), n);
        if (ec != std::errc() || n < INT16_MIN || n > INT16_MAX) return false;
        v = static_cast<std::int16_t>(n);
        m_rest.remove_prefix(static_cast<std::size_t>(p - m_rest.data()));
        return until == 0 || word(std::string_view(&until, 1));
    }
    bool integer(std::int32_t& v) {
        const auto [p, ec] = std::from_chars(m_rest.data(), m_rest.data() + m_rest.size(), v);
        m_rest.remove_prefix(static_cast<std::size_t>(p - m_rest.data()));
        return ec == std::errc();
    }
    template <class T> bool real(T& v) {
        const std::string_view token = m_rest.substr(0, m_rest.find(' '));
        const char* end = token.data() + token.size();
        if constexpr (std::is_same_v<T, float>) {
            if (token.starts_with("0x")) {
                std::uint32_t bits = 0;
                const auto [p, ec] = std::from_chars(token.data() + 2, end, bits, 16);
                if (ec != std::errc() || p != end) return false;
                v = std::bit_cast<float>(bits);
                m_rest.remove_prefix(token.size());
                return true;
            }
        }
        const auto [p, ec] = std::from_chars(token.data(), end, v);
        if (ec != std::errc() || p != end) return false;
        m_rest.remove_prefix(token.size());
        return true;
    }
    template <std::size_t N> bool text(std::array<char, N>& field) {
        if (m_rest.size() < N + 2 || m_rest[0] != '[' || m_rest[N + 1] != ']') return false;
        std::memcpy(field.data(), m_rest.data() + 1, N);
        m_rest.remove_prefix(N + 2);
        return true;
    }

  private:
    std::string_view m_rest;
};

} // namespace

std::string header_line(const SpectrumHeader& h, std::int32_t points, double fstart, double fend,
                        double fstep) {
    std::string t(h.COMENT.data(), h.COMENT.size());
    t += MARK;
    char date[80];
    std::snprintf(date, sizeof date, " date %04d-%02d-%02d time %02d:%02d:%02d lamp ", h.IYEAR,
                  h.IMONTH, h.IDAY, h.IHOUR, h.IMINUT, h.ISECND);
    t += date;
    put_text(t, h.LAMP);
    t += " vkm_mV ";
    put_float(t, h.VKMLO);
    t += ' ';
    put_float(t, h.VKMHI);
    t += " grid_V ";
    put_float(t, h.GRID);
    t += " sample ";
    put_text(t, h.SAMPLE);
    t += " pressure_mTorr ";
    put_float(t, h.PRESS);
    t += " gain ";
    put_float(t, h.GAIN);
    t += " time_constant_s ";
    put_float(t, h.TCONST);
    t += " phase_deg ";
    put_float(t, h.PHASE);
    t += " delays_averages ";
    put_text(t, h.NDELAV);
    t += " points_per_second ";
    put_float(t, h.PTSSEC);
    t += " modulation_kHz ";
    put_float(t, h.FMOD);
    t += " deviation_kHz ";
    put_float(t, h.FDEV);
    t += " points ";
    t += std::to_string(points);
    t += " axis ";
    put_double(t, fstart);
    t += ' ';
    put_double(t, fend);
    t += ' ';
    put_double(t, fstep);
    return t;
}

std::optional<CarriedHeader> carried_header(std::string_view line) {
    CarriedHeader c;
    SpectrumHeader& h = c.header;
    if (line.size() < h.COMENT.size()) return std::nullopt;
    std::memcpy(h.COMENT.data(), line.data(), h.COMENT.size());
    Fields f(line.substr(h.COMENT.size()));
    const bool read =
        f.word(MARK) && f.word(" date ") && f.integer(h.IYEAR, '-') && f.integer(h.IMONTH, '-') &&
        f.integer(h.IDAY, ' ') && f.word("time ") && f.integer(h.IHOUR, ':') &&
        f.integer(h.IMINUT, ':') && f.integer(h.ISECND, ' ') && f.word("lamp ") && f.text(h.LAMP) &&
        f.word(" vkm_mV ") && f.real(h.VKMLO) && f.word(" ") && f.real(h.VKMHI) &&
        f.word(" grid_V ") && f.real(h.GRID) && f.word(" sample ") && f.text(h.SAMPLE) &&
        f.word(" pressure_mTorr ") && f.real(h.PRESS) && f.word(" gain ") && f.real(h.GAIN) &&
        f.word(" time_constant_s ") && f.real(h.TCONST) && f.word(" phase_deg ") &&
        f.real(h.PHASE) && f.word(" delays_averages ") && f.text(h.NDELAV) &&
        f.word(" points_per_second ") && f.real(h.PTSSEC) && f.word(" modulation_kHz ") &&
        f.real(h.FMOD) && f.word(" deviation_kHz ") && f.real(h.FDEV) && f.word(" points ") &&
        f.integer(c.points) && f.word(" axis ") && f.real(c.fstart) && f.word(" ") &&
        f.real(c.fend) && f.word(" ") && f.real(c.fstep);
    // Written again from what was read: anything but the writer's own form is
    // not a carried header.
    if (!read || header_line(h, c.points, c.fstart, c.fend, c.fstep) != line) return std::nullopt;
    return c;
}

} // namespace korax
