// GLEOUT: the dialog that cuts the displayed range into strips of 273 mm of paper
// and writes them as GLE scripts (one per page) and one shared data file. The
// plot settings outlive the call. The size of an output is known before any of
// it is built; the files are written one at a time into temporaries that
// replace the old files as a whole.
#include "output/gleout.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "base/safe_file_set.h"
#include "output/wrigle.h"
#include "spectrum/store.h"
#include "window/answer.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace korax {

GleSettings& GLESET() {
    static GleSettings settings;
    return settings;
}

std::optional<std::int32_t> read_menu_choice(std::string_view line) {
    return read_int<std::int32_t>(line, 2);
}

std::optional<YLimits> read_y_limits(std::string_view line) {
    // Two fields of 15 characters; a comma ends the first one early and the
    // second starts right after it.
    constexpr std::size_t width = 15;
    const std::string_view first = line.substr(0, std::min(width, line.size()));
    const auto comma = first.find(',');
    const std::size_t second_start = comma == std::string_view::npos ? first.size() : comma + 1;
    const auto lower = read_int<std::int32_t>(line.substr(0, second_start), int{width});
    const auto upper = read_int<std::int32_t>(line.substr(second_start), int{width});
    if (!lower || !upper) return std::nullopt;
    return YLimits{*lower, *upper};
}

namespace {

// Large-interval counts for the screen; values past any field width only have
// to stay wide enough to be shown as asterisks.
long long interval_count(double ratio) {
    const double t = std::trunc(ratio);
    if (!(std::fabs(t) < 1e15)) return std::numeric_limits<long long>::max();
    return static_cast<long long>(t);
}

// Rows of the menu screen besides the strip list.
constexpr int MENU_ROWS = 16;

// A count that may be far beyond any integer type, written in full.
std::string count_text(double n) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", n);
    return text;
}

std::int32_t truncated_limit(double y) {
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::trunc(std::clamp(y, lo, hi)));
}

// A real number in free form; empty lines are passed over until one comes.
std::optional<double> read_free_real(Window& w) {
    for (;;) {
        bool empty = false;
        const auto r = read_free_reals(w.read_line(), 1, &empty);
        if (r) return r->values[0];
        if (!empty) return std::nullopt;
    }
}

struct Dialog {
    Window& w;
    SpectrumStore& s;
    GleSettings& g;
    double& start;
    double& end;
    std::int32_t lower, upper;
    std::string fname, base, data_name;

    double strip_width() const { return STRIP_MM * g.plot_scaling; }
    double first_freq() const { return s.FREQ[1]; }
    double last_freq() const { return s.FREQ[static_cast<std::size_t>(s.NPTS)]; }

    void draw_menu() const;
    void item(std::int32_t choice);
    [[nodiscard]] bool write_output();
    [[nodiscard]] bool spectrum_would_be_replaced(const std::vector<std::string>& existing) const;
    std::vector<std::string> existing_outputs(double pages) const;
};

void Dialog::draw_menu() const {
    const double width = strip_width();
    const double big = 10.0 * g.marker_spacing;
    const double range = last_freq() - first_freq();

    w.clear_window();
    w.write_line(" ");
    w.write_line(heading("g l e   O U T P U T"));
    w.write_line("");
    w.write_line("");
    w.write_line(blanks(22) + "min" + blanks(9) + "max" + blanks(10) + "range" + blanks(3) +
                 "10*mark" + blanks(5) + "mm");
    w.write_line(" full SPECTRUM: " + fmt_fixed(first_freq(), 12, 2) +
                 fmt_fixed(last_freq(), 12, 2) + fmt_fixed(range, 12, 2) +
                 fmt_int(interval_count(range / big), 7));
    w.write_line("");
    const long long per_strip = interval_count(width / big);
    // Every strip is listed, the window scrolling as it must, except for an
    // output so large that it needs the operator's yes: its list could take
    // hours, so only the strips that fit between the heading and the menu are
    // listed, and one line counts the rest.
    const double strips = strip_count(start, end, g.plot_scaling);
    const int room = std::max(0, w.rows() - MENU_ROWS);
    const auto npts = static_cast<std::size_t>(std::max(s.NPTS, 0));
    const bool large = gle_output_is_large(gle_output_size(
        start, end, g, std::span<const double>(s.FREQ.data() + 1, npts), fname.size()));
    const double shown = !large || strips <= room ? strips : std::max(0, room - 1);
    std::int32_t number = 0;
    for_each_strip(start, end, g.plot_scaling, [&](const Strip& strip) {
        if (number >= shown) return false;
        ++number;
        w.write_line("      STRIP:" + fmt_int(number, 2) + "  " + fmt_fixed(strip.start, 12, 2) +
                     fmt_fixed(strip.end, 12, 2) + fmt_fixed(width, 12, 2) + fmt_int(per_strip, 7) +
                     fmt_fixed(strip.paper_mm, 10, 1));
        return true;
    });
    if (shown < strips)
        w.write_line(shown > 0 ? "      ... and " + count_text(strips - shown) + " more strips"
                               : "      " + count_text(strips) + " strips");
    w.write_line(" ");
    w.write_line("      1: Strips per page =" + fmt_int(g.strips_per_page, 7));
    w.write_line("      2:  Marker spacing =" + fmt_fixed(g.marker_spacing, 11, 3) + "          [" +
                 fmt_fixed(g.marker_spacing / g.plot_scaling, 8, 2) + " mm]");
    w.write_line("      3:    Plot scaling =" + fmt_fixed(g.plot_scaling, 11, 3) + " units/mm");
    w.write_line("      4:        Y-limits =" + fmt_int(lower, 7) + fmt_int(upper, 7));
    w.write_line("      5: Start frequency =" + fmt_fixed(start, 11, 3));
    w.write_line("      6: End   frequency =" + fmt_fixed(end, 11, 3));
    w.write_line("");
    w.write_line("      Select 1-6 (ENTER=OK, -ve=exit) ..... ", LineEnd::Stay);
}

// A rejected or unreadable answer leaves everything as it was.
void Dialog::item(std::int32_t choice) {
    w.write_line(" ");
    switch (choice) {
    case 1: {
        w.write_line(" Number of strips per page (1,2,or 3) =  ", LineEnd::Stay);
        const auto n = read_menu_choice(w.read_line());
        if (n && *n >= 1 && *n <= 3) g.strips_per_page = *n;
        break;
    }
    case 2: {
        w.write_line("  New marker spacing:  ", LineEnd::Stay);
        const auto v = read_free_real(w);
        if (v && marker_spacing_accepted(*v)) g.marker_spacing = *v;
        break;
    }
    case 3: {
        w.write_line("  New plot scaling:  ", LineEnd::Stay);
        const auto v = read_free_real(w);
        if (v && plot_scaling_accepted(*v)) g.plot_scaling = *v;
        break;
    }
    case 4: {
        w.write_line(" Y-axis limits of data: " + fmt_int(s.IYMIN, 7) + fmt_int(s.IYMAX, 7));
        w.write_line("");
        w.write_line(" Specify new MINY,MAXY: ", LineEnd::Stay);
        const auto y = read_y_limits(w.read_line());
        if (!y || y->upper <= y->lower) break;
        if (y->lower <= s.IYMIN && y->upper <= s.IYMIN) break;
        if (y->lower >= s.IYMAX && y->upper >= s.IYMAX) break;
        lower = y->lower;
        upper = y->upper;
        break;
    }
    case 5: {
        w.write_line(" New start frequency =  ", LineEnd::Stay);
        const auto v = read_free_real(w);
        if (v && *v < end && *v >= first_freq() - strip_width()) start = *v;
        break;
    }
    case 6: {
        w.write_line("   New end frequency =  ", LineEnd::Stay);
        const auto v = read_free_real(w);
        if (v && *v > start && *v >= first_freq() - strip_width()) end = *v;
        break;
    }
    default:
        break;
    }
}

// The files of the output that exist now: the data file, then the pages
// 1..`pages` in page order. One pass over the folder finds them, however many
// pages the settings ask for.
std::vector<std::string> Dialog::existing_outputs(double pages) const {
    std::vector<std::string> found;
    std::error_code ec;
    if (std::filesystem::exists(data_name, ec)) found.push_back(data_name);
    std::string native = base;
    std::replace(native.begin(), native.end(), '\\', '/');
    const auto slash = native.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    const std::string stem = slash == std::string::npos ? native : native.substr(slash + 1);
    std::vector<std::pair<double, std::string>> numbered;
    for (std::filesystem::directory_iterator it(folder, ec), stop; !ec && it != stop;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(stem) || !name.ends_with(".gle")) continue;
        const std::string digits = name.substr(stem.size(), name.size() - stem.size() - 4);
        if (digits.empty() || digits.front() == '0' || digits.size() > 15 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const double number = std::stod(digits);
        if (number <= pages) numbered.emplace_back(number, base + digits + ".gle");
    }
    std::sort(numbered.begin(), numbered.end());
    for (auto& [number, name] : numbered)
        found.push_back(std::move(name));
    return found;
}

// GLE output must never replace the spectrum it was made from: an ASCII
// spectrum called "X.dat" would otherwise be overwritten by its own plot data.
bool Dialog::spectrum_would_be_replaced(const std::vector<std::string>& existing) const {
    std::error_code ec;
    return std::any_of(existing.begin(), existing.end(), [&](const std::string& path) {
        return path == fname || std::filesystem::equivalent(path, fname, ec);
    });
}

// Hands WRIGLE's pages to a set of temporaries, one file at a time, and shows
// on one row how far a large output has come.
struct SetTarget final : GleTarget {
    SafeFileSet& set;
    Window& w;
    double pages;
    int progress_row = 0; // 0: no progress shown
    bool failed = false;

    SetTarget(SafeFileSet& s, Window& window, double page_count)
        : set(s), w(window), pages(page_count) {}
    void begin_page(std::int32_t page, const std::string& file_name) override {
        if (failed) return;
        if (set.add(file_name, OpenMode::Unknown) != SafeFile::Status::Ok) failed = true;
        if (progress_row > 0 && (page % 10 == 0 || page == pages)) {
            w.set_text_position(progress_row, 1);
            w.write_line("     Writing page" + fmt_int(page, 11) + " of " + count_text(pages),
                         LineEnd::Stay);
            w.flush();
        }
    }
    void append(std::string_view text) override {
        if (!failed) set.write(text);
    }
};

// true: the output was written and the dialog ends; false: back to the menu.
bool Dialog::write_output() {
    if (lower == upper) {
        w.write_line(" ");
        write_red_line(w, "     Y-limits " + std::to_string(lower) + " and " +
                              std::to_string(upper) +
                              " are equal: nothing written. Set other limits with item 4.");
        press_enter(w, PressEnter::Right);
        return false;
    }

    const auto npts = static_cast<std::size_t>(std::max(s.NPTS, 0));
    const std::span<const double> freq(s.FREQ.data() + 1, npts);
    const GleOutputSize size = gle_output_size(start, end, g, freq, fname.size());
    const std::vector<std::string> existing = existing_outputs(size.pages);

    w.write_line(" ");
    w.write_line("");
    if (spectrum_would_be_replaced(existing)) {
        write_red_line(w, "     Output NOT written: it would replace the spectrum file " + fname);
        press_enter(w, PressEnter::Right);
        return false;
    }
    const auto yes = [&] {
        const std::string answer = w.read_line();
        const auto letter = answer.find_first_not_of(' ');
        return letter != std::string::npos && (answer[letter] == 'Y' || answer[letter] == 'y');
    };
    // Settings a digit away from sensible ones can ask for thousands of pages
    // or gigabytes: say so before anything is written.
    if (gle_output_is_large(size)) {
        w.write_line("     " + count_text(size.pages) + " pages (" +
                         count_text(std::ceil(size.bytes / 1e6)) +
                         " MB) will be written, continue (Y/N)?  ",
                     LineEnd::Stay);
        if (!yes()) return false;
    }
    // Files are never replaced without the operator's yes: one question covers
    // the whole set, named by the first file that exists.
    if (!existing.empty()) {
        const auto more = existing.size() - 1;
        w.write_line("     " + existing.front() +
                         (more > 0 ? " and " + std::to_string(more) + " more" : "") +
                         " ALREADY EXIST" + (more > 0 ? "" : "S") + ", OVERWRITE (Y/N)?  ",
                     LineEnd::Stay);
        if (!yes()) return false;
    }

    SafeFileSet set;
    SetTarget target(set, w, size.pages);
    // Outputs that needed a yes show their progress and a shortened list;
    // every other output keeps the plain screen.
    const bool large = gle_output_is_large(size);
    if (large) {
        w.write_line("");
        target.progress_row = w.text_row();
    }
    if (set.add(data_name, OpenMode::Unknown) == SafeFile::Status::Ok) {
        gle_data_text(fname, freq, std::span(s.INTENS.data() + 1, npts), start, end, lower, upper,
                      [&](std::string_view text) { set.write(text); });
        std::int32_t number = 0;
        for_each_strip(start, end, g.plot_scaling, [&](const Strip& strip) {
            WRIGLE(strip.start, strip.end, g.marker_spacing, ++number, g.strips_per_page, fname,
                   static_cast<std::int32_t>(base.size()), target);
            return !target.failed;
        });
    }
    const bool written = set.commit();
    if (target.progress_row > 0) w.write_line("");
    const std::vector<std::string> errors = error_lines(set.error_text());
    if (!written) {
        write_red_line(w, "     Cannot write " + set.failed_path() + ": " + errors.front());
        for (std::size_t i = 1; i < errors.size(); ++i)
            write_red_line(w, "     " + errors[i]);
        press_enter(w, PressEnter::Right);
        return false;
    }

    w.write_line("     "
                 "         Data written to ",
                 LineEnd::Stay);
    write_red_line(w, data_name);
    // One line per page; of a large output only those that fit on the screen,
    // then one line for the rest.
    const double room = std::max(1, w.rows() - 10);
    const double listed = !large || size.pages <= room ? size.pages : room - 1;
    for (std::int32_t page = 1; page <= listed; ++page) {
        w.write_line("     "
                     " Control file written to ",
                     LineEnd::Stay);
        write_red_line(w, control_file_name(base, page));
    }
    if (listed < size.pages) {
        w.write_line("      ... and " + count_text(size.pages - listed) +
                         " more control files, the last ",
                     LineEnd::Stay);
        write_red_line(w, control_file_name(base, static_cast<std::int32_t>(size.pages)));
    }
    if (!set.error_text().empty())
        for (const std::string& line : errors)
            write_red_line(w, "     " + line);

    w.write_line(" ");
    w.write_line("");
    w.write_line(blanks(25) + "f i n i s h e d,   Press ENTER to continue", LineEnd::Stay);
    wait_for_enter();
    return true;
}

} // namespace

void GLEOUT(double& start, double& end, double& ylow, double& yhigh) {
    GleSettings& g = GLESET();
    if (g.strips_per_page == 0) g.strips_per_page = 1;
    if (g.marker_spacing == 0) g.marker_spacing = 1.0;
    if (g.plot_scaling == 0) g.plot_scaling = (end - start) / STRIP_MM;

    Dialog d{window(), store(), g, start, end, truncated_limit(ylow), truncated_limit(yhigh),
             {},       {},      {}};
    d.fname = std::string(trim_right(d.s.FNAME));
    d.base = gle_base_name(d.fname);
    d.data_name = d.base + ".dat";

    for (;;) {
        d.draw_menu();
        const auto choice = read_menu_choice(d.w.read_line());
        if (!choice || *choice > 6) continue;
        if (*choice < 0) return;
        if (*choice == 0) {
            if (d.write_output()) return;
            continue;
        }
        d.item(*choice);
    }
}

} // namespace korax
