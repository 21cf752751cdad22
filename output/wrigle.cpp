// WRIGLE: the GLE script text of one strip of a strip plot, handed on in pieces
// to a target that writes it (GLEOUT writes a set of temporaries that replace
// the old pages as a whole) or keeps it.
#include "output/wrigle.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/utf8.h"
#include "output/xlab.h"

#include <cassert>
#include <cmath>

namespace korax {

namespace {

constexpr std::string_view crlf = "\r\n";

void put_line(std::string& out, std::string_view line) {
    out += line;
    out += crlf;
}

std::string rule() {
    return "!" + std::string(75, '-');
}

// Where the strip goes on the 29.5 x 21 cm page. The heights were single
// precision in the page layout from the start; they are kept so, although the
// printed fields come out the same either way.
struct Placement {
    float graph_y;
    float graph_height;
    float title_y;
};

Placement placement(std::int32_t strip, std::int32_t strips_per_page, std::int32_t position) {
    switch (strips_per_page) {
    case 1:
        return {2.0f, 20.0f, 19.5f};
    case 2:
        return {position == 1 ? 11.0f : 1.8f, 11.0f, 20.9f};
    default:
        if (strip % 3 == 0) return {1.8f, 7.4f, 21.2f};
        return {position == 1 ? 14.6f : 8.2f, 7.4f, 21.2f};
    }
}

// GLE opens the data file relative to the control file's own folder, and both
// lie in the same folder: the script names it without its folder.
std::string data_file_in_script(std::string_view base) {
    const auto slash = base.find_last_of("/\\");
    const std::string_view bare = slash == std::string_view::npos ? base : base.substr(slash + 1);
    std::string name(bare);
    name += ".dat";
    if (character_count(name) < 50) name = pad(name, 50);
    return name;
}

void put_header(std::string& out, std::string_view fname) {
    put_line(out, rule());
    put_line(out, "!      Plot of spectrum from file:  " + std::string(trim_right(fname)));
    put_line(out, rule());
    put_line(out, "!");
    put_line(out, "size 29.5 21");
    put_line(out, " ");
    put_line(out, "set lwidth 0.025");
    put_line(out, "set join round");
}

constexpr std::size_t SPILL_BYTES = 1 << 16;

void put_graph(std::string& out, double start, double end, double marker_spacing,
               const Placement& at, std::string_view base,
               const std::function<void(std::string&)>& spill) {
    put_line(out, " ");
    put_line(out, pad("amove" + fmt_fixed(-5.45f, 6, 2) + fmt_fixed(at.graph_y, 6, 2), 30));
    put_line(out, "begin graph");
    put_line(out, "    nobox");
    put_line(out, pad("    size 38.57" + fmt_fixed(at.graph_height, 6, 2), 30));
    put_line(out, "    d1 bigfile " + data_file_in_script(base));
    put_line(out, "    xaxis  min " + fmt_fixed(start, 10, 2) + " max " + fmt_fixed(end, 10, 2) +
                      " dticks " + fmt_fixed(10.0 * marker_spacing, 9, 2) + " dsubticks " +
                      fmt_fixed(marker_spacing, 9, 3));
    put_line(out, "    x2ticks off");
    put_line(out, "    xticks length 0.3");
    put_line(out, "    xsubticks length 0.12");
    put_line(out, "    xlabels hei 0.5 font texcmr");
    put_line(out, "    yaxis min  0.0 max 1.0");
    put_line(out, "    ylabels off");
    put_line(out, "    yticks off");
    put_line(out, "    d1 lstyle 1 smooth");
    strip_labels(start, end, 10.0 * marker_spacing, out, spill);
    put_line(out, "end graph");
}

void put_title(std::string& out, const Placement& at, std::string_view fname) {
    put_line(out, " ");
    put_line(out, "set font texcmr");
    put_line(out, "set hei 0.7");
    put_line(out, pad("amove" + fmt_fixed(0.3f, 6, 1) + fmt_fixed(at.title_y, 6, 1), 35));
    put_line(out, "text " + gle_title(fname));
    put_line(out, "!");
    put_line(out, rule());
}

} // namespace

void strip_labels(double start, double end, double interval, std::string& out,
                  const std::function<void(std::string&)>& spill) {
    double first = std::trunc(start / interval) * interval;
    if (first <= start) first += interval; // the first label lies after the strip start
    const double span = end - start;
    if (std::trunc(span / interval) <= 5) return;

    // The smallest label step that leaves at most five labelled intervals.
    auto step = static_cast<std::int64_t>(std::floor(span / (5.0 * interval)));
    if (step < 2) step = 2;
    while (step > 2 && span / (static_cast<double>(step - 1) * interval) <= 5.0)
        --step;
    while (span / (static_cast<double>(step) * interval) > 5.0)
        ++step;
    const auto k = static_cast<std::int32_t>(step);

    double a = first;
    double b = first + 6.0 * interval;
    XLAB(first, end, a, b, interval, k, out);
    while (end - interval > b) {
        const double next_a = b + interval;
        const double next_b = next_a + 6.0 * interval;
        // At frequencies so large that adding the interval changes nothing the
        // groups would never reach the strip end.
        if (!(next_b > b)) break;
        a = next_a;
        b = next_b;
        XLAB(first, end, a, b, interval, k, out);
        if (spill && out.size() >= SPILL_BYTES) spill(out);
    }
}

double strip_bytes(double start, double end, double marker_spacing) {
    const double interval = 10.0 * marker_spacing;
    std::string fixed;
    put_graph(fixed, start, start, marker_spacing, {2.0f, 20.0f, 19.5f}, "", {});
    double bytes = static_cast<double>(fixed.size());
    const double span = end - start;
    if (!(std::trunc(span / interval) > 5)) return bytes;
    double first = std::trunc(start / interval) * interval;
    if (first <= start) first += interval;
    std::string group;
    XLAB(first, end, first, first + 6.0 * interval, interval, 2, group);
    const double rest = (end - interval) - (first + 6.0 * interval);
    const double groups = 1.0 + (rest > 0 ? std::ceil(rest / (7.0 * interval)) : 0.0);
    return bytes + groups * static_cast<double>(group.size());
}

std::string control_file_name(std::string_view base, std::int32_t page) {
    // Pages 1..9 take one digit, 10..99 two; later pages simply take as many
    // digits as they need, so every page keeps a name of its own.
    return std::string(base) + std::to_string(page) + ".gle";
}

std::string gle_title(std::string_view fname) {
    const std::string_view name = file_part(trim_right(fname));
    std::string title;
    title.reserve(name.size() + 16);
    for (char c : name) {
        title += c;
        if (c == '_') title += "{\\tt-\\rm}";
    }
    return title;
}

void WRIGLE(double strip_start, double strip_end, double marker_spacing, std::int32_t strip,
            std::int32_t strips_per_page, std::string_view name, std::int32_t base_length,
            GleTarget& out) {
    assert(strip >= 1 && strips_per_page >= 1 && strips_per_page <= 3 && "bad strip numbering");
    assert(base_length >= 0 && static_cast<std::size_t>(base_length) <= name.size());
    const std::int32_t page = (strip - 1) / strips_per_page + 1;
    const std::int32_t position = strip - (page - 1) * strips_per_page;
    const Placement at = placement(strip, strips_per_page, position);
    const std::string_view base = name.substr(0, static_cast<std::size_t>(base_length));
    const auto spill = [&out](std::string& text) {
        out.append(text);
        text.clear();
    };

    std::string text;
    if (position == 1) {
        out.begin_page(page, control_file_name(base, page));
        put_header(text, name);
    }
    put_graph(text, strip_start, strip_end, marker_spacing, at, base, spill);
    if (position == 1) put_title(text, at, name);
    out.append(text);
}

void WRIGLE(double strip_start, double strip_end, double marker_spacing, std::int32_t strip,
            std::int32_t strips_per_page, std::string_view name, std::int32_t base_length,
            std::vector<GlePage>& pages) {
    struct Collect final : GleTarget {
        std::vector<GlePage>& pages;
        explicit Collect(std::vector<GlePage>& p) : pages(p) {}
        void begin_page(std::int32_t page, const std::string& file_name) override {
            GlePage& p = pages.emplace_back();
            p.number = page;
            p.file_name = file_name;
        }
        void append(std::string_view text) override {
            assert(!pages.empty() && "strips must come in order");
            pages.back().text += text;
        }
    } collect(pages);
    WRIGLE(strip_start, strip_end, marker_spacing, strip, strips_per_page, name, base_length,
           collect);
}

} // namespace korax
