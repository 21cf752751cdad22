// Drawing and text rules of the window, checked on the canvas and the grid.
#include "window/window.h"

#include "base/utf8.h"
#include "testing/test_window.h"
#include "window/inkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

namespace korax {
namespace {

// Pixels of one colour inside a rectangle (corners included).
int count(const Canvas& c, int colour, int x1 = 0, int y1 = 0, int x2 = -1, int y2 = -1) {
    if (x2 < 0) x2 = c.width() - 1;
    if (y2 < 0) y2 = c.height() - 1;
    int n = 0;
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x)
            n += c.pixel(x, y) == colour;
    return n;
}

TEST(Canvas, PaletteHasTheTextModeColours) {
    const auto& p = palette();
    EXPECT_EQ(0, p[0].r + p[0].g + p[0].b);
    EXPECT_EQ(170, p[1].b);
    EXPECT_EQ(0, p[1].r);
    EXPECT_EQ(85, p[6].g); // brown, not dark yellow
    EXPECT_EQ(85, p[8].r);
    EXPECT_EQ(255, p[12].r);
    EXPECT_EQ(85, p[12].g);
    EXPECT_EQ(255 * 3, p[15].r + p[15].g + p[15].b);
}

TEST(Graphics, EndPointIsNotDrawnAndXorTwiceRestores) {
    TestWindow tw(100, 60, 3);
    Window& w = tw.window();
    w.set_color(15);
    w.move_to_px(10, 10);
    w.line_to_px(20, 10);
    EXPECT_EQ(10, count(w.canvas(), 15));
    EXPECT_EQ(15, w.canvas().pixel(10, 10));
    EXPECT_EQ(0, w.canvas().pixel(20, 10));

    // A diagonal crossing other drawing, in exclusive-or, twice.
    const std::vector<std::uint8_t> before = w.canvas().pixels();
    w.set_write_mode(WriteMode::Xor);
    w.set_color(14);
    for (int pass = 0; pass < 2; ++pass) {
        w.move_to_px(3, 2);
        w.line_to_px(40, 30);
        w.line_to_px(12, 5);
        if (pass == 0) {
            EXPECT_NE(before, w.canvas().pixels());
        }
    }
    EXPECT_EQ(before, w.canvas().pixels());
}

TEST(Graphics, LinesAreClippedToThePlotArea) {
    TestWindow tw(100, 80, 4);
    Window& w = tw.window();
    w.set_plot_area(10, 20, 59, 49);
    w.set_plot_coords(0, 0, 49, 29);
    // Inside the area pixel (0,0) of the plot coordinates is its bottom-left.
    EXPECT_EQ(10, w.to_pixel_x(0));
    EXPECT_EQ(59, w.to_pixel_x(49));
    EXPECT_EQ(49, w.to_pixel_y(0));
    EXPECT_EQ(20, w.to_pixel_y(29));
    w.set_color(12);
    struct Case {
        double x0, y0, x1, y1;
        int pixels;
    } cases[] = {
        {-100, 10, 200, 10, 50},   // across left and right edges: the whole row
        {20, -50, 20, 100, 30},    // across bottom and top
        {-1e300, 5, 1e300, 5, 50}, // huge ends still clip, and do not hang
        {25, 10, 25, 1e308, 20},   // from inside out through the top: rows 10..29
        {1e9, 1e9, 2e9, 2e9, 0},   // entirely outside
        {0, 0, std::numeric_limits<double>::quiet_NaN(), 5, 0},
        {0, 0, std::numeric_limits<double>::infinity(), 0, 0},
    };
    for (const auto& c : cases) {
        w.set_text_background(0);
        w.clear_window();
        w.move_to(c.x0, c.y0);
        w.line_to(c.x1, c.y1);
        EXPECT_EQ(c.pixels, count(w.canvas(), 12))
            << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1;
        EXPECT_EQ(c.pixels, count(w.canvas(), 12, 10, 20, 59, 49));
    }
}

TEST(Graphics, FarEndKeepsTheDirectionOfTheLine) {
    TestWindow tw(100, 100, 5);
    Window& w = tw.window();
    w.set_plot_coords(0, 0, 99, 99);
    w.set_color(15);
    // Slope one half, towards a point some 1e12 pixels away.
    w.move_to(0, 0);
    w.line_to(2e12, 1e12);
    EXPECT_EQ(15, w.canvas().pixel(60, 99 - 30));
    EXPECT_EQ(15, w.canvas().pixel(98, 99 - 49));
    EXPECT_EQ(100, count(w.canvas(), 15));
}

TEST(Graphics, LineStylePhaseRunsAcrossSegments) {
    TestWindow tw(64, 40, 2);
    Window& w = tw.window();
    w.set_color(15);
    w.set_line_style(0x9999); // 1001 1001 1001 1001
    w.move_to_px(0, 5);
    w.line_to_px(6, 5);
    w.line_to_px(17, 5); // continues the pattern from pixel 6
    std::string row;
    for (int x = 0; x < 17; ++x)
        row += w.canvas().pixel(x, 5) ? '#' : '.';
    EXPECT_EQ("#..##..##..##..##", row);

    w.move_to_px(0, 7); // a move restarts the pattern
    w.line_to_px(3, 7);
    w.move_to_px(3, 8);
    w.line_to_px(8, 8);
    EXPECT_EQ(15, w.canvas().pixel(0, 7));
    EXPECT_EQ(15, w.canvas().pixel(3, 8));
    EXPECT_EQ(0, w.canvas().pixel(4, 8));
    EXPECT_EQ(15, w.canvas().pixel(6, 8));
}

TEST(Graphics, RectanglesAndFloodFill) {
    TestWindow tw(80, 60, 3);
    Window& w = tw.window();
    w.set_plot_coords(0, 0, 79, 59);
    w.set_color(15);
    w.rectangle(Fill::Outline, 10, 10, 30, 25); // 21 x 16 pixels
    EXPECT_EQ(2 * 21 + 2 * 14, count(w.canvas(), 15));
    // Something of the fill colour inside must not stop the fill.
    w.canvas().set_pixel(20, 40, 1);
    w.set_color(1);
    w.flood_fill(20, 40, 15); // window y of plot y 19 is 40
    EXPECT_EQ(19 * 14, count(w.canvas(), 1));
    EXPECT_EQ(0, count(w.canvas(), 1, 0, 0, 79, 33));

    // Starting on the boundary paints nothing; a fill is kept in the plot area.
    w.flood_fill(10, 34, 15);
    EXPECT_EQ(19 * 14, count(w.canvas(), 1));
    w.set_plot_area(0, 0, 39, 59);
    w.set_color(4);
    w.flood_fill(0, 0, 15);
    EXPECT_EQ(0, count(w.canvas(), 4, 40, 0, 79, 59));
    EXPECT_GT(count(w.canvas(), 4), 1000);

    w.set_color(2);
    w.set_plot_coords(0, 0, 39, 59);
    w.rectangle(Fill::Solid, 2, 2, 5, 4);
    EXPECT_EQ(4 * 3, count(w.canvas(), 2));
    w.set_text_background(7);
    w.clear_plot_area();
    EXPECT_EQ(40 * 60, count(w.canvas(), 7));
}

TEST(Text, RecordsFollowTheRowRules) {
    TestWindow tw(800, 540, 30);
    Window& w = tw.window();
    w.clear_window();
    w.write_line("first");
    w.write_line("");
    w.write_line("prompt: ", LineEnd::Stay);
    w.write_line("answer");
    EXPECT_EQ("first", tw.row(1));
    EXPECT_EQ("", tw.row(2));
    EXPECT_EQ("prompt: answer", tw.row(3));

    w.set_text_position(10, 75);
    w.write_line("0123456789"); // runs on into the next row
    EXPECT_EQ(std::string(74, ' ') + "012345", tw.row(10));
    EXPECT_EQ("6789", tw.row(11));

    w.set_text_position(20, 78);
    w.write_chars("abcdef"); // clipped at column 80
    w.write_line("next");
    EXPECT_EQ(std::string(77, ' ') + "abc", tw.row(20));
    EXPECT_EQ("next", tw.row(21));
    EXPECT_EQ(21, w.text_row());
}

TEST(Text, CharactersAreDrawnInTheirCells) {
    TestWindow tw(800, 540, 30);
    Window& w = tw.window();
    EXPECT_EQ(10, w.cell_width());
    EXPECT_EQ(18, w.cell_height());
    w.set_text_background(1);
    w.set_text_color(14);
    w.set_text_position(2, 3);
    w.write_chars("M ");
    // Cell (2,3) spans x 20..29, y 18..35: ink and background only there.
    EXPECT_GT(count(w.canvas(), 14, 20, 18, 29, 35), 10);
    EXPECT_EQ(10 * 18,
              count(w.canvas(), 14, 20, 18, 29, 35) + count(w.canvas(), 1, 20, 18, 29, 35));
    EXPECT_EQ(10 * 18, count(w.canvas(), 1, 30, 18, 39, 35));
    EXPECT_EQ(20 * 18, count(w.canvas(), 1) + count(w.canvas(), 14));
}

TEST(Text, ClearingThePlotAreaTakesItsCharactersAlong) {
    TestWindow tw(800, 540, 30);
    Window& w = tw.window();
    for (int row = 1; row <= 30; ++row) {
        w.set_text_position(row, 1);
        w.write_chars(std::string(80, 'x'));
    }
    // The viewer's plot area covers rows 3 to 28 (the centres of their first
    // and last cells too); a narrower area leaves the columns beside it.
    w.set_plot_area(2, 36, 797, 503);
    w.clear_plot_area();
    EXPECT_EQ(std::string(80, 'x'), tw.row(2));
    EXPECT_EQ("", tw.row(3));
    EXPECT_EQ("", tw.row(28));
    EXPECT_EQ(std::string(80, 'x'), tw.row(29));
    w.set_plot_area(0, 0, 799, 539);
    for (int row = 1; row <= 30; ++row) {
        w.set_text_position(row, 1);
        w.write_chars(std::string(80, 'x'));
    }
    w.set_plot_area(6, 36, 793, 53);
    w.clear_plot_area();
    EXPECT_EQ("x" + std::string(78, ' ') + "x", tw.row(3));
    EXPECT_EQ(std::string(80, 'x'), tw.row(4));
}

TEST(Text, LastRowScrollsOnlyWhenTheNextRecordComes) {
    TestWindow tw(800, 90, 5); // cells of 10 x 18
    Window& w = tw.window();
    w.set_text_background(7);
    w.clear_window();
    for (int i = 1; i <= 5; ++i)
        w.write_line("line " + std::to_string(i));
    w.set_text_background(2);
    EXPECT_EQ("line 1", tw.row(1));
    EXPECT_EQ("line 5", tw.row(5));
    // Mark a pixel of row 2 to follow it up one row.
    w.canvas().set_pixel(700, 20, 13);
    w.write_line("line 6");
    EXPECT_EQ("line 2", tw.row(1));
    EXPECT_EQ("line 6", tw.row(5));
    EXPECT_FALSE(tw.screen_contains("line 1"));
    EXPECT_EQ(13, w.canvas().pixel(700, 2));
    EXPECT_EQ(2, w.canvas().pixel(700, 80)); // the new row has the new background
    EXPECT_EQ(7, w.canvas().pixel(700, 70));
}

TEST(Text, ReadLineEchoesAndEdits) {
    TestWindow tw;
    Window& w = tw.window();
    w.clear_window();
    w.set_text_cursor(true);
    w.write_line(" Value: ", LineEnd::Stay);
    tw.keys("12x");
    tw.front_end.keys.push_back(8);
    tw.extended(75); // a cursor key is read and dropped
    tw.keys("5");
    tw.front_end.keys.push_back(27);
    tw.type(",7");
    EXPECT_EQ("125,7", w.read_line());
    EXPECT_EQ(" Value: 125,7", tw.row(1));
    w.write_line("after");
    EXPECT_EQ("after", tw.row(2));

    // A long answer is returned whole and wraps on the screen.
    const std::string long_name(95, 'n');
    tw.type(long_name);
    EXPECT_EQ(long_name, w.read_line());
    EXPECT_EQ(std::string(80, 'n'), tw.row(3));
    EXPECT_EQ(std::string(15, 'n'), tw.row(4));
}

TEST(Text, CursorBarIsVisibleOnEveryColourPairAndGoneWhenTheKeyArrives) {
    // Every text colour on every background: prompts use black on grey, light
    // red on grey and white on blue among others.
    TestWindow tw(800, 540, 30);
    Window& w = tw.window();
    tw.front_end.keep_pictures = true;
    w.set_text_cursor(true);
    for (int text = 0; text < 16; ++text) {
        for (int background = 0; background < 16; ++background) {
            w.set_text_color(text);
            w.set_text_background(background);
            w.clear_window();
            w.write_line(" ... ", LineEnd::Stay);
            const auto before = w.canvas().pixels();
            tw.keys("a");
            EXPECT_EQ('a', w.get_char());
            EXPECT_EQ(before, w.canvas().pixels()) << "the bar is taken off again";
            // The picture shown while waiting: the bar under column 6 of row 1
            // (x 50..59, y 16..17) stands out from the background.
            const Rect bar = tw.front_end.cursor_bar;
            EXPECT_EQ(50, bar.x1);
            EXPECT_EQ(59, bar.x2);
            EXPECT_EQ(16, bar.y1);
            EXPECT_EQ(17, bar.y2);
            for (int y = 16; y <= 17; ++y)
                for (int x = 50; x <= 59; ++x) {
                    const auto shown = tw.front_end.picture[std::size_t(y) * 800 + std::size_t(x)];
                    ASSERT_NE(background, shown) << "text " << text << " on " << background;
                    if (text != background) {
                        EXPECT_EQ(text, shown);
                    }
                }
        }
    }
    EXPECT_FALSE(tw.front_end.cursor_up);
    const auto blank = w.canvas().pixels();
    EXPECT_THROW(w.get_char(), RunEnded); // the script ran out
    EXPECT_EQ(blank, w.canvas().pixels());
    // Without the cursor nothing is drawn.
    w.set_text_cursor(false);
    tw.keys("b");
    EXPECT_EQ('b', w.get_char());
    EXPECT_EQ(blank, tw.front_end.picture);
}

// The pixels of one cell of an 800 x 540 window, for comparing glyphs.
std::vector<std::uint8_t> cell_pixels(const Canvas& c, int row, int column) {
    std::vector<std::uint8_t> out;
    for (int y = (row - 1) * 18; y < row * 18; ++y)
        for (int x = (column - 1) * 10; x < column * 10; ++x)
            out.push_back(c.pixel(x, y));
    return out;
}

TEST(Text, TextIsUtf8WithOneCellPerCharacter) {
    TestWindow tw(800, 540, 30);
    Window& w = tw.window();
    w.load_fonts();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.write_chars("sp\xC3\xA9"
                  "c.001|");
    EXPECT_EQ("sp\xC3\xA9"
              "c.001|",
              tw.row(1));
    EXPECT_EQ(10, w.text_column());
    // Bytes that are not UTF-8 are Latin-1 characters, each in its cell.
    w.set_text_position(2, 1);
    w.write_chars("\xE9t\xE9|");
    EXPECT_EQ("\xC3\xA9t\xC3\xA9|", tw.row(2));
    // A record wraps after 80 characters, not 80 bytes.
    w.set_text_position(3, 1);
    std::string long_name;
    for (int i = 0; i < 81; ++i)
        long_name += "\xC3\xA0";
    w.write_line(long_name);
    EXPECT_EQ(long_name.substr(0, 160), tw.row(3));
    EXPECT_EQ("\xC3\xA0", tw.row(4));
    EXPECT_TRUE(tw.screen_contains("c.001|"));
    EXPECT_TRUE(tw.screen_contains("\xE9t\xE9")); // found as it was written
    EXPECT_FALSE(tw.screen_contains("\xA9t"));    // never half a character

    // Typed: one key per character, BACKSPACE takes a whole character back.
    w.set_text_position(6, 1);
    tw.type("n\xC3\xA9\xE2\x82\xAC\b\b\xC3\xA0\xE2\x82\xAC");
    EXPECT_EQ("n\xC3\xA0\xE2\x82\xAC", w.read_line());
    EXPECT_EQ("n\xC3\xA0\xE2\x82\xAC", tw.row(6));

    // Drawn: every Latin-1 letter as itself, anything the font has no
    // picture for (controls 127..159 included) as one and the same box.
    w.set_text_position(8, 1);
    w.write_chars("\x7F\xC2\x80\xC2\x9F\xF4\x8F\xBF\xBD");
    const auto box = cell_pixels(w.canvas(), 8, 1);
    EXPECT_GT(std::count(box.begin(), box.end(), 0), 10);
    for (int column = 2; column <= 4; ++column)
        EXPECT_EQ(box, cell_pixels(w.canvas(), 8, column)) << column;
    EXPECT_EQ("\x7F\xC2\x80\xC2\x9F\xF4\x8F\xBF\xBD", tw.row(8));
    for (char32_t c = 0xA1; c <= 0xFF; ++c) {
        if (c == 0xAD) continue; // the soft hyphen may be drawn as nothing
        std::string letter;
        append_utf8(letter, c);
        w.set_text_position(9, 1);
        w.write_chars(letter);
        const auto drawn = cell_pixels(w.canvas(), 9, 1);
        EXPECT_NE(box, drawn) << std::hex << unsigned(c);
        EXPECT_GT(std::count(drawn.begin(), drawn.end(), 0), 0) << std::hex << unsigned(c);
    }
}

TEST(Keys, InkeyTurnsTwoCodeKeysNegative) {
    TestWindow tw;
    tw.extended(71);
    tw.front_end.keys.push_back(224);
    tw.front_end.keys.push_back(79);
    tw.keys("G");
    tw.extended(0);
    std::int16_t code = 0;
    EXPECT_EQ(KEY_HOME, INKEY(code));
    EXPECT_EQ(KEY_HOME, code);
    EXPECT_EQ(KEY_END, INKEY());
    EXPECT_EQ(71, INKEY());
    EXPECT_EQ(0, INKEY());

    tw.keys("ab");
    tw.extended(13); // an extended 13 is not ENTER
    tw.type("");
    tw.keys("z");
    wait_for_enter();
    EXPECT_EQ('z', INKEY());
}

TEST(Window, EndsAndFileBox) {
    TestWindow tw;
    Window& w = tw.window();
    tw.front_end.boxes.push_back(std::string("/data/a.001"));
    tw.front_end.boxes.push_back(std::nullopt);
    EXPECT_EQ("/data/a.001", w.open_file_box(" All Files (*.*), *.*;"));
    EXPECT_FALSE(w.open_file_box(" All Files (*.*), *.*;"));
    try {
        w.fatal_end();
    } catch (const RunEnded& e) {
        EXPECT_EQ(1, e.status);
    }
    EXPECT_TRUE(tw.front_end.held);
    try {
        w.normal_exit();
    } catch (const RunEnded& e) {
        EXPECT_EQ(0, e.status);
    }
    EXPECT_TRUE(tw.front_end.closed);
}

TEST(Window, SnapshotBringsBackScreenAndDrawingState) {
    TestWindow tw;
    Window& w = tw.window();
    w.set_text_background(7);
    w.clear_window();
    w.write_line("underneath");
    w.write_line("prompt: ", LineEnd::Stay);
    w.set_plot_area(100, 100, 300, 200);
    w.set_plot_coords(0, 0, 10, 10);
    w.set_write_mode(WriteMode::Xor);
    const Canvas before = w.canvas();
    const int row = w.text_row(), column = w.text_column();
    const Window::Snapshot saved = w.save_screen();

    // A question over it, with its own colours, area and text.
    w.set_plot_area(0, 0, 799, 539);
    w.set_write_mode(WriteMode::Copy);
    w.set_text_background(4);
    w.set_text_position(29, 1);
    w.write_line("Close anyway (Y/N)?");
    w.move_to(0, 0);
    w.line_to(500, 500);
    w.restore_screen(saved);

    EXPECT_EQ(before.pixels(), w.canvas().pixels());
    EXPECT_TRUE(tw.screen_contains("underneath"));
    EXPECT_FALSE(tw.screen_contains("Close anyway"));
    EXPECT_EQ(row, w.text_row());
    EXPECT_EQ(column, w.text_column());
    // The answer continues the prompt, and drawing uses the old area and XOR.
    w.write_line("x");
    EXPECT_EQ("prompt: x", tw.row(w.text_row()));
    EXPECT_EQ(w.to_pixel_x(5), 200);
    const Canvas answered = w.canvas();
    w.move_to(1, 5);
    w.line_to(9, 5);
    EXPECT_NE(answered.pixels(), w.canvas().pixels());
    w.move_to(1, 5);
    w.line_to(9, 5);
    EXPECT_EQ(answered.pixels(), w.canvas().pixels());

    // After the height toggle the old picture no longer fits and is left alone.
    w.set_geometry(800, 306, 17);
    w.restore_screen(saved);
    EXPECT_EQ(306, w.canvas().height());
}

// A question asked over the screen and taken away again: what the operator sees
// afterwards is the screen as it was, not the question.
TEST(Window, ScreenUnderTheCloseQuestionIsShownAgain) {
    TestWindow tw;
    Window& w = tw.window();
    w.write_line("the viewer");
    w.set_close_handler([&w] {
        const Window::Snapshot under = w.save_screen();
        w.set_text_position(30, 1);
        w.write_line("Close anyway (Y/N)?");
        const bool yes = w.get_char() == 'Y';
        w.restore_screen(under);
        return yes;
    });
    tw.front_end.keys = {TestFrontEnd::close_request, 'n', 'x'};
    EXPECT_EQ('x', w.get_char());
    EXPECT_FALSE(tw.screen_contains("Close anyway"));
    EXPECT_EQ(w.canvas().pixels(), tw.front_end.shown.pixels());

    tw.front_end.keys = {TestFrontEnd::close_request, 'Y', 'x'};
    try {
        w.get_char();
        ADD_FAILURE() << "the run went on after Y";
    } catch (const RunEnded& end) {
        EXPECT_EQ(0, end.status);
    }
    EXPECT_TRUE(tw.front_end.closed);
}

TEST(FrontEnd, FilterListSplitsIntoEntries) {
    const auto f = parse_filter_list(
        " All Files (*.*), *.*; Spectral Files (*.0*), *.0*; Spectral Files (*.1*), *.1*;"
        " Spectral Files (*.2*), *.2*; Spectral Files (*.3*), *.3*;");
    ASSERT_EQ(5u, f.size());
    EXPECT_EQ("All Files (*.*)", f[0].description);
    EXPECT_EQ("*.*", f[0].pattern);
    EXPECT_EQ("Spectral Files (*.3*)", f[4].description);
    EXPECT_EQ("*.3*", f[4].pattern);
    EXPECT_TRUE(parse_filter_list("").empty());
}

// The plain loop that polyline must match pixel for pixel.
void reference_polyline(Window& w, const std::vector<double>& x, const std::vector<std::int32_t>& y,
                        double lo, double hi) {
    auto clamp = [&](std::int32_t v) { return std::min(std::max(double(v), lo), hi); };
    w.move_to(x[0], clamp(y[0]));
    for (std::size_t i = 1; i < x.size(); ++i)
        w.line_to(x[i], clamp(y[i]));
}

TEST(Graphics, PolylineMatchesLineToPixelForPixel) {
    std::mt19937 random(12345);
    struct Case {
        int points;
        double x_span; // plot units; the plot is 0..1000 wide
        int y_range;
        WriteMode mode;
        std::uint16_t style;
        bool jitter = false; // x not in order
    } cases[] = {
        {200000, 1000, 4000, WriteMode::Copy, 0xFFFF, true},
        {3000, 1000, 4000, WriteMode::Copy, 0xFFFF, true},
        {4000, 4e7, 4000, WriteMode::Copy, 0xFFFF, true},
        {200000, 1000, 4000, WriteMode::Copy, 0xFFFF}, // many points per column
        {300, 1000, 4000, WriteMode::Copy, 0xFFFF},    // few points per column
        {5000, 3000, 20000, WriteMode::Copy, 0xFFFF},  // running off both sides, clamped
        {4000, 4e7, 4000, WriteMode::Copy, 0xFFFF},    // ends far outside: clipped in reals
        {20000, 1000, 4000, WriteMode::Xor, 0xFFFF},
        {3000, 1000, 4000, WriteMode::Copy, 0x9999},
    };
    for (const auto& c : cases) {
        std::vector<double> x(std::size_t(c.points));
        std::vector<std::int32_t> y(x.size());
        std::uniform_int_distribution<std::int32_t> dy(-c.y_range, c.y_range);
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = -(c.x_span - 1000) / 2 + c.x_span * double(i) / double(x.size() - 1);
            if (c.jitter && i % 5 == 0) x[i] -= c.x_span * 0.002 * double(dy(random)) / c.y_range;
            // Random walk with jumps: long vertical runs and steep segments.
            y[i] = i % 97 == 0 ? dy(random) : (i ? y[i - 1] : 0) + dy(random) / 64;
        }
        Canvas results[2];
        for (int k = 0; k < 2; ++k) {
            TestWindow tw(800, 540, 30);
            Window& w = tw.window();
            w.set_text_background(1);
            w.clear_window();
            w.set_plot_area(2, 34, 797, 505);
            w.set_plot_coords(0, -3000, 1000, 3000);
            w.set_color(15);
            w.set_write_mode(c.mode);
            w.set_line_style(c.style);
            if (k == 0)
                reference_polyline(w, x, y, -2500, 2500);
            else
                w.polyline(x, y, -2500, 2500);
            results[k] = w.canvas();
        }
        EXPECT_EQ(results[0].pixels(), results[1].pixels()) << c.points << " points";
        EXPECT_GT(count(results[1], 15) + count(results[1], 14), 100);
    }
}

TEST(Fonts, GraphicsTextDrawsInTheGraphicsColour) {
    TestWindow tw(400, 200, 10);
    Window& w = tw.window();
    w.load_fonts();
    EXPECT_FALSE(w.select_font("t'Arial"));
    EXPECT_FALSE(w.select_font("t'Arial'hx"));
    for (const char* spec :
         {"t'Arial'h18w9e", "t'No Such Face At All'h20w10i", "t'Arial'h75w25ei"}) {
        ASSERT_TRUE(w.select_font(spec));
        w.clear_window();
        w.set_color(11);
        w.move_to_px(5, 5);
        w.draw_text("KORAX");
        EXPECT_GT(count(w.canvas(), 11), 20) << spec;
        EXPECT_EQ(0, count(w.canvas(), 11, 0, 0, 399, 4)) << spec; // nothing above the position
        EXPECT_TRUE(tw.row(1).empty()); // graphics text leaves the grid alone
    }
    // Width follows w: the same text is about twice as wide at w 20 as at w 10.
    auto extent = [&](const char* spec) {
        EXPECT_TRUE(w.select_font(spec));
        w.clear_window();
        w.move_to_px(0, 0);
        w.draw_text("abcdefghij");
        int right = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 400; ++x)
                if (w.canvas().pixel(x, y) == 11) right = std::max(right, x);
        return right;
    };
    const int narrow = extent("t'Arial'h20w10"), wide = extent("t'Arial'h20w20");
    EXPECT_NEAR(100, narrow, 15);
    EXPECT_NEAR(200, wide, 25);
}

// FNV-1a of every pixel: a fingerprint of a whole picture.
std::uint64_t fingerprint(const Canvas& c) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::uint8_t p : c.pixels())
        h = (h ^ p) * 1099511628211ull;
    return h;
}

// A screenful of text in every colour pair, as the screens of the program
// write it; drawn the same way in every window size.
void fill_with_text(Window& w) {
    w.load_fonts();
    w.set_text_background(7);
    w.clear_window();
    for (int row = 1; row <= w.rows(); ++row) {
        w.set_text_color(row % 16);
        w.set_text_background((row * 7 + 3) % 16);
        w.set_text_position(row, 1);
        std::string line;
        for (int c = 0; c < 80; ++c)
            line += static_cast<char>(33 + (row * 80 + c) % 94);
        w.write_chars(line);
    }
}

TEST(Text, ColumnsSpreadOverTheWholeWidth) {
    // The 800-pixel window is the picture it always was: this fingerprint was
    // taken from the 10-pixel cells before the columns were spread.
    {
        TestWindow tw(800, 540, 30);
        fill_with_text(tw.window());
        EXPECT_EQ(810463655051815482ull, fingerprint(tw.window().canvas()));
    }
    // 1024 pixels: column c starts at floor((c - 1) * 1024 / 80), so the cells
    // are 12 or 13 pixels wide and the last one ends at the right edge.
    TestWindow tw(1024, 690, 30);
    Window& w = tw.window();
    EXPECT_EQ(0, w.column_x(1));
    EXPECT_EQ(512, w.column_x(41));
    EXPECT_EQ(1011, w.column_x(80));
    EXPECT_EQ(1024, w.column_x(81));
    fill_with_text(w);
    const int ch = w.cell_height();
    for (int row = 1; row <= 30; ++row) {
        const int background = (row * 7 + 3) % 16, ink = row % 16;
        for (int x = 0; x < 1024; ++x) {
            const int p = w.canvas().pixel(x, (row - 1) * ch);
            ASSERT_TRUE(p == background || p == ink) << "row " << row << " x " << x;
        }
    }
    // Each character lies in its own cell: a lone "M" at column 41 inks only
    // pixels 512..524.
    w.set_text_background(1);
    w.clear_window();
    w.set_text_color(14);
    w.set_text_position(5, 41);
    w.write_chars("M");
    EXPECT_GT(count(w.canvas(), 14, 512, 4 * ch, 524, 5 * ch - 1), 10);
    EXPECT_EQ(count(w.canvas(), 14), count(w.canvas(), 14, 512, 4 * ch, 524, 5 * ch - 1));
}

} // namespace
} // namespace korax
