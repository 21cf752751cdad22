// XLAB: one group of the frequency-axis label lines, an "xplaces" line with up to
// seven tick positions and an "xnames" line that labels some of them and gives
// the others an empty name, so GLE pairs every place with exactly one name.
#include "output/xlab.h"

#include "base/format.h"

#include <array>
#include <cmath>
#include <string_view>

namespace korax {

namespace {

enum class NumberClass { Thousandths, Hundredths, Tenths, Whole };

NumberClass number_class(double interval) {
    if (interval < 0.01) return NumberClass::Thousandths;
    if (interval < 0.1) return NumberClass::Hundredths;
    if (interval < 1.0) return NumberClass::Tenths;
    return NumberClass::Whole;
}

// Nine columns; a number too wide fills them with asterisks.
std::string number_field(double x, NumberClass cls) {
    switch (cls) {
    case NumberClass::Thousandths:
        return fmt_fixed(x, 9, 3);
    case NumberClass::Hundredths:
        return fmt_fixed(x, 9, 2);
    case NumberClass::Tenths:
        return fmt_fixed(x, 9, 1);
    case NumberClass::Whole:
        break;
    }
    // std::round rounds halves away from zero; beyond nine digits the field
    // overflows anyway, so no value has to reach a 64-bit integer.
    const double whole = std::round(x);
    if (!(std::fabs(whole) < 1e15)) return std::string(9, '*');
    return fmt_int(static_cast<long long>(whole), 9);
}

// The line under construction. Its fixed width is what keeps a group whose
// positions stop advancing (frequencies so large that adding the interval
// changes nothing) from growing without end: such a group overflows it.
class LineBuffer {
  public:
    static constexpr std::size_t columns = 128;

    explicit LineBuffer(std::string_view start) : m_used(start.size()) {
        m_text.fill(' ');
        start.copy(m_text.data(), start.size());
    }
    [[nodiscard]] bool put(std::string_view field) {
        if (m_next + field.size() > columns) return false;
        field.copy(m_text.data() + m_next, field.size());
        m_next += field.size();
        m_used = m_next;
        return true;
    }
    // The separating blank after a full field: written while it fits, the
    // position moves on in any case.
    void separate() {
        if (m_next < columns) m_used = m_next + 1;
        ++m_next;
    }
    std::string_view text() const { return {m_text.data(), m_used}; }

  private:
    std::array<char, columns> m_text{};
    std::size_t m_used;
    std::size_t m_next = m_used;
};

constexpr std::string_view crlf = "\r\n";

void put_line(std::string& out, std::string_view line) {
    out += line;
    out += crlf;
}

} // namespace

void XLAB(double first_label, double strip_end, double group_start, double group_end,
          double interval, std::int32_t step, std::string& out) {
    const NumberClass cls = number_class(interval);
    // Ticks at group_start, group_start + interval, ... by repeated addition,
    // while inside the strip and the group.
    const auto next = [&](double x) {
        const double n = x + interval;
        return (n >= strip_end || n > group_end + 0.000001) ? std::nan("") : n;
    };

    put_line(out, "!");
    const auto fail = [&] {
        put_line(out, "!");
        put_line(out, "! SORRY - Could not generate xnames/xplaces lines");
        put_line(out, "!");
    };

    LineBuffer places(" xplaces ");
    for (double x = group_start; !std::isnan(x); x = next(x)) {
        const std::string field = number_field(x, cls);
        if (!places.put(field)) return fail();
        if (field.front() != ' ') places.separate();
    }
    put_line(out, places.text());

    // Labels every `step` intervals counted from the strip's first label, so they
    // stay in step across groups. Positions are compared in thousandths of a
    // unit, rounded, so that the rounding of the repeated additions cannot push
    // a label position just below its multiple and lose the label.
    const long long label_step = std::llround(step * interval * 1000.0);
    LineBuffer names(" xnames ");
    for (double x = group_start; !std::isnan(x); x = next(x)) {
        const long long r = std::llround((x - first_label) * 1000.0);
        const bool labelled = label_step > 0 && r % label_step == 0;
        std::string field = "   \" \"   ";
        if (labelled) {
            field = number_field(x, cls);
            field.insert(field.begin(), '"');
            field.push_back('"');
        }
        if (!names.put(field)) return fail();
    }
    put_line(out, names.text());
    put_line(out, "!");
}

} // namespace korax
