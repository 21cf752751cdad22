// GLE output: the strips, the data lines and their selection, the answers and
// the dialog that writes the files.
#include "output/gleout.h"

#include "output/wrigle.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

std::string file_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(GleStrips, ListAndLastStrip) {
    // 546 units at 2 units/mm: one strip of 273 mm.
    auto one = strip_list(1000, 1546, 2.0);
    ASSERT_EQ(1u, one.size());
    EXPECT_EQ(1546, one[0].end);
    EXPECT_EQ(273, one[0].paper_mm);

    // A strip ending exactly at the end frequency is the last and full length.
    auto exact = strip_list(0, 546, 1.0);
    ASSERT_EQ(2u, exact.size());
    EXPECT_EQ(273, exact[1].start);
    EXPECT_EQ(273, exact[1].paper_mm);

    // An overshooting last strip shows what remains of the range.
    auto over = strip_list(0, 1000, 1.0);
    ASSERT_EQ(4u, over.size());
    EXPECT_EQ(819, over[3].start);
    EXPECT_EQ(1092, over[3].end);
    EXPECT_EQ(181, over[3].paper_mm);
}

TEST(GleStrips, CountWithoutMakingThem) {
    const struct {
        double start, end, scaling;
    } table[] = {
        {1000, 1546, 2.0},           // one strip
        {0, 546, 1.0},               // ends exactly on the end frequency
        {0, 1000, 1.0},              // overshoots
        {240000, 2400399.95, 0.146}, // a digit too many: 54,000 strips
        {0.1, 0.7, 0.0011},          // widths that do not add up exactly
        {1e15, 1e15 + 1, 0.0011},    // a width too small to move the start
    };
    for (const auto& row : table)
        EXPECT_EQ(static_cast<double>(strip_list(row.start, row.end, row.scaling).size()),
                  strip_count(row.start, row.end, row.scaling))
            << row.start << " " << row.end << " " << row.scaling;
    // Far beyond any list: worked out, not counted.
    EXPECT_NEAR(2.5e10, strip_count(240000, 1e12, 0.1463), 1e8);
}

TEST(GleSettingsRanges, BoundsOfMarkerSpacingAndPlotScaling) {
    EXPECT_FALSE(marker_spacing_accepted(0.001)); // the bound is 0.001 in single precision
    EXPECT_TRUE(marker_spacing_accepted(0.0010000000474974513));
    EXPECT_TRUE(marker_spacing_accepted(1000));
    EXPECT_FALSE(marker_spacing_accepted(1000.0001));
    EXPECT_FALSE(plot_scaling_accepted(0.001)); // exclusive
    EXPECT_TRUE(plot_scaling_accepted(0.0011));
    EXPECT_TRUE(plot_scaling_accepted(1000));
    EXPECT_FALSE(plot_scaling_accepted(1000.0001));
}

TEST(GleAnswers, MenuChoiceAndYLimits) {
    struct Choice {
        const char* line;
        std::optional<std::int32_t> value;
    };
    for (const Choice& c : {Choice{"12", 12}, Choice{"123", 12}, Choice{"", 0}, Choice{"-1", -1},
                            Choice{" 3", 3}, Choice{"x", std::nullopt}}) {
        EXPECT_EQ(c.value, read_menu_choice(c.line)) << c.line;
    }

    struct Limits {
        const char* line;
        bool readable;
        std::int32_t lower, upper;
    };
    const Limits cases[] = {
        {"100,2000", true, 100, 2000},
        {"100 2000", true, 1002000, 0}, // one field, the blank dropped
        {"            100           2000", true, 100, 2000},
        {"-5,", true, -5, 0},
        {"", true, 0, 0},
        {"1e3,2000", false, 0, 0},
    };
    for (const Limits& c : cases) {
        SCOPED_TRACE(c.line);
        const auto y = read_y_limits(c.line);
        ASSERT_EQ(c.readable, y.has_value());
        if (!y) continue;
        EXPECT_EQ(c.lower, y->lower);
        EXPECT_EQ(c.upper, y->upper);
    }
}

TEST(GleNames, BaseName) {
    EXPECT_EQ("spec", gle_base_name("spec"));
    EXPECT_EQ("spec", gle_base_name("spec   "));
    EXPECT_EQ("", gle_base_name(".hidden"));
    EXPECT_EQ("/data/", gle_base_name("/data/.x"));
    EXPECT_EQ("/data/v1.2/ocs", gle_base_name("/data/v1.2/ocs.001"));
    EXPECT_EQ("D:\\SPEC\\A", gle_base_name("D:\\SPEC\\A.B.DAT"));
    EXPECT_EQ("/data/run", gle_base_name("/data/run 3.001"));
}

TEST(GleData, LineIsPrintfWithAsteriskFill) {
    const auto printf_field = [](double v, int width) {
        char b[512];
        const int n = std::snprintf(b, sizeof b, "%*.4f", width, v);
        return n > width ? std::string(std::size_t(width), '*') : std::string(b, std::size_t(n));
    };
    std::vector<std::pair<double, double>> values = {
        {12000.5, 0.25},
        {9999999.99994, 9999.99994},
        {9999999.99995, 9999.99995},
        {10000000, 10000},
        {-999999.99994, -999.99994},
        {-999999.99995, -999.99995},
        {-0.0, -0.0},
        {-0.00004, -0.00004},
        {0.00005, 0.00005},
        {1e300, -1e300},
        {0.5, 1.0},
        {-1000000, -1000},
        {99999999.5, -99999999.5},
        {1e8, 1e12},
        // Exact binary halves of the fourth decimal round to even.
        {1.03125, 0.96875},
        {12000.03125, -0.03125},
        {-2.40625, 0.15625},
    };
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> wide(-2e7, 2e7), narrow(-2000, 12000);
    std::uniform_int_distribution<int> exponent(-8, 8);
    for (int k = 0; k < 20000; ++k) {
        const double scale = std::pow(10.0, exponent(random));
        values.emplace_back(wide(random) / scale, narrow(random) / scale);
    }
    // Just beside the halves, where a scaled product could round the wrong way.
    std::uniform_int_distribution<long long> tenth_thousandths(-99999999999, 99999999999);
    for (int k = 0; k < 20000; ++k) {
        const double half = (static_cast<double>(tenth_thousandths(random)) + 0.5) / 10000.0;
        values.emplace_back(half, std::nextafter(half, 0.0) / 1000.0);
        values.emplace_back(std::nextafter(half, 1e300), half / 10000.0);
    }
    for (const auto& [f, v] : values) {
        char line[DATA_LINE_BYTES];
        format_data_line(line, f, v);
        ASSERT_EQ(printf_field(f, 12) + printf_field(v, 9) + "\r\n",
                  std::string(line, DATA_LINE_BYTES))
            << f << " " << v;
    }
    char line[DATA_LINE_BYTES];
    format_data_line(line, 12000.5, 0.25);
    EXPECT_EQ("  12000.5000   0.2500\r\n", std::string(line, DATA_LINE_BYTES));
    // Not a number is not a value of the field either.
    format_data_line(line, NAN, INFINITY);
    EXPECT_EQ(std::string(21, '*') + "\r\n", std::string(line, DATA_LINE_BYTES));
}

TEST(GleData, SelectionAndNormalisation) {
    const std::vector<double> freq = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::int32_t> intens = {0, 100, 200, 300, 400, 500, 50, 0};
    std::string text;
    const auto n = gle_data_text("/d/x.001  ", freq, intens, 2.5, 6.5, 100, 500,
                                 [&](std::string_view s) { text += s; });
    EXPECT_EQ(4u, n);
    EXPECT_EQ("!  Spectrum from file:  /d/x.001\r\n"
              "!\r\n"
              "      3.0000   0.2500\r\n"
              "      4.0000   0.5000\r\n"
              "      5.0000   0.7500\r\n"
              "      6.0000   1.0000\r\n",
              text);
}

// The dialog, driven by keys, against a spectrum in a temporary folder.
class GleDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/korax-gle-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(tmpl));
        dir = tmpl;
        GLESET() = GleSettings{};
        SpectrumStore& s = store();
        s.reset();
        s.FNAME = (dir / "MY_SPEC.001").string();
        // 1000..1546 in steps of 0.5, a smooth line shape between 0 and 1000.
        s.NPTS = 1093;
        for (std::int32_t i = 1; i <= s.NPTS; ++i) {
            s.FREQ[std::size_t(i)] = 1000 + 0.5 * (i - 1);
            const double x = (i - 500) / 20.0;
            s.INTENS[std::size_t(i)] = static_cast<std::int32_t>(1000 / (1 + x * x));
        }
        s.IYMIN = 0;
        s.IYMAX = 1000;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    TestWindow t;
    double start = 1000, end = 1546, ylow = 0.4, yhigh = 1000.9;
};

TEST_F(GleDialog, MenuDefaultsAndItems) {
    t.type("12"); // above 6: only redraws
    t.type("2");
    t.type("0.001"); // rejected
    t.type("4");
    t.type("100 2000"); // read as 1002000 and 0: rejected
    t.type("4");
    t.type("-5,0"); // both at or below the data's minimum
    t.type("4");
    t.type("1000,1200"); // both at or above its maximum
    t.type("-1");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_TRUE(t.screen_contains("_____g l e   O U T P U T_____"));
    EXPECT_TRUE(t.screen_contains(" full SPECTRUM:      1000.00     1546.00      546.00     54"));
    EXPECT_TRUE(
        t.screen_contains("      STRIP: 1       1000.00     1546.00      546.00     54     273.0"));
    EXPECT_TRUE(t.screen_contains("      1: Strips per page =      1"));
    EXPECT_TRUE(t.screen_contains("      2:  Marker spacing =      1.000          [    0.50 mm]"));
    EXPECT_TRUE(t.screen_contains("      3:    Plot scaling =      2.000 units/mm"));
    EXPECT_TRUE(t.screen_contains("      4:        Y-limits =      0   1000"));
    EXPECT_TRUE(t.screen_contains("      5: Start frequency =   1000.000"));
    EXPECT_TRUE(t.screen_contains("      6: End   frequency =   1546.000"));
    EXPECT_TRUE(t.front_end.keys.empty());
    EXPECT_EQ(1.0, GLESET().marker_spacing);

    // A later call on another view keeps the scaling; accepted answers stick.
    start = 1100;
    end = 1200;
    t.type("4");
    t.type("100,2000");
    t.type("1");
    t.type("3");
    t.type("2");
    t.type(""); // an empty line is passed over
    t.type(" 0.5 ");
    t.type("3");
    t.type("1000");
    t.type("5");
    t.type("1050");
    t.type("6");
    t.type("1040"); // below the start: rejected
    t.type("-5");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_TRUE(t.screen_contains("      4:        Y-limits =    100   2000"));
    EXPECT_EQ(3, GLESET().strips_per_page);
    EXPECT_EQ(0.5, GLESET().marker_spacing);
    EXPECT_EQ(1000, GLESET().plot_scaling);
    EXPECT_EQ(1050, start);
    EXPECT_EQ(1200, end);
}

TEST_F(GleDialog, WritesDataAndControlFilesNextToTheSpectrum) {
    t.type("3");
    t.type("1"); // 273 units per strip: three strips
    t.type("");
    t.type("");
    start = 1000;
    end = 1600;
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_TRUE(
        t.screen_contains("              Data written to " + (dir / "MY_SPEC.dat").string()));
    EXPECT_TRUE(
        t.screen_contains("      Control file written to " + (dir / "MY_SPEC1.gle").string()));
    EXPECT_TRUE(t.screen_contains("f i n i s h e d,   Press ENTER to continue"));
    EXPECT_TRUE(fs::exists(dir / "MY_SPEC2.gle"));
    EXPECT_TRUE(fs::exists(dir / "MY_SPEC3.gle"));
    EXPECT_FALSE(fs::exists(dir / "MY_SPEC4.gle"));

    const std::string data = file_text(dir / "MY_SPEC.dat");
    EXPECT_TRUE(data.starts_with("!  Spectrum from file:  " + (dir / "MY_SPEC.001").string() +
                                 "\r\n!\r\n   1000.0000   0.0010\r\n"))
        << data.substr(0, 120);
    // Every point from 1000 to 1546: 1093 lines after the two comment lines.
    EXPECT_EQ(1095, std::count(data.begin(), data.end(), '\n'));
}

TEST_F(GleDialog, ExistingFilesAreReplacedOnlyAfterYes) {
    fs::path data = dir / "MY_SPEC.dat";
    {
        std::ofstream old(data);
        old << "old";
    }
    t.type(""); // write: the question stands on the screen when the keys run out
    EXPECT_THROW(GLEOUT(start, end, ylow, yhigh), RunEnded);
    EXPECT_TRUE(t.screen_contains(" ALREADY EXISTS, OVERWRITE (Y/N)?"));

    t.type("");
    t.type("n"); // keep the old files: back to the menu
    t.type("-1");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_EQ("old", file_text(data));
    EXPECT_FALSE(fs::exists(dir / "MY_SPEC1.gle"));

    t.type("");
    t.type("y");
    t.type(""); // "f i n i s h e d"
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_TRUE(file_text(data).starts_with("!  Spectrum from file:  "));
    EXPECT_TRUE(fs::exists(dir / "MY_SPEC1.gle"));

    t.type("");
    t.type(""); // ENTER alone is no yes either
    t.type("-1");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_TRUE(t.front_end.keys.empty());
    t.type("");
    EXPECT_THROW(GLEOUT(start, end, ylow, yhigh), RunEnded);
    EXPECT_TRUE(t.screen_contains(" and 1 more ALREADY EXIST,"));
}

TEST_F(GleDialog, ManyPagesAreAllWritten) {
    // 0.01 units/mm: strips of 2.73 units, 200 pages, with three-digit numbers.
    t.type("3");
    t.type("0.01");
    t.type("");
    t.type("");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_TRUE(fs::exists(dir / "MY_SPEC.dat"));
    EXPECT_TRUE(fs::exists(dir / "MY_SPEC99.gle"));
    EXPECT_TRUE(fs::exists(dir / "MY_SPEC100.gle"));
    EXPECT_TRUE(fs::exists(dir / "MY_SPEC200.gle"));
    EXPECT_FALSE(fs::exists(dir / "MY_SPEC201.gle"));
    EXPECT_NE(std::string::npos,
              file_text(dir / "MY_SPEC200.gle").find("xaxis  min    1543.27 max    1546.00"));
}

TEST_F(GleDialog, SizeIsKnownBeforeAndMatchesWhatIsWritten) {
    // Layouts from plain to label-heavy; the estimate is within a tenth of
    // the bytes actually written and the page count is exact.
    const struct {
        GleSettings settings;
        double start, end;
    } table[] = {
        {{1, 1.0, 2.0}, 1000, 1546},
        {{3, 1.0, 0.05}, 1000, 1546},
        {{2, 0.0011, 1.0}, 1000, 1546},
        {{1, 0.0011, 5.0}, 1000, 1010},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.settings.plot_scaling);
        fs::remove_all(dir);
        fs::create_directories(dir);
        GLESET() = row.settings;
        const auto& s = store();
        const GleOutputSize size =
            gle_output_size(row.start, row.end, row.settings,
                            std::span(s.FREQ.data() + 1, std::size_t(s.NPTS)), s.FNAME.size());
        EXPECT_FALSE(gle_output_is_large(size));
        start = row.start;
        end = row.end;
        t.type("");
        t.type("");
        GLEOUT(start, end, ylow, yhigh);
        double bytes = 0, pages = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            bytes += static_cast<double>(fs::file_size(e.path()));
            pages += e.path().extension() == ".gle";
        }
        EXPECT_EQ(pages, size.pages);
        EXPECT_NEAR(bytes, size.bytes, bytes / 10);
    }
}

TEST_F(GleDialog, MenuListsEveryStripUnlessTheOutputNeedsAYes) {
    // A plot scaling of 0.01: 200 strips of 2.73 units on 200 pages, all
    // listed, the window scrolling them past its top as any long list.
    t.type("3");
    t.type("0.01");
    t.type("-1");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_EQ("      STRIP:**       1543.27     1546.00        2.73      0     273.0", t.row(21));
    EXPECT_EQ("      1: Strips per page =      1", t.row(23));
    EXPECT_FALSE(t.screen_contains("more strips"));
    EXPECT_FALSE(t.screen_contains("_____g l e   O U T P U T")) << "scrolled away";

    // 0.0011: 1819 pages, which need a yes; 13 strips fit on 30 rows, and one
    // line counts the rest.
    t.type("3");
    t.type("0.0011");
    t.type("-1");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_EQ("_____g l e   O U T P U T" + std::string(56, '_'), t.row(2));
    EXPECT_EQ("      STRIP:13       1003.60     1003.90        0.30      0     273.0", t.row(20));
    EXPECT_EQ("      ... and 1806 more strips", t.row(21));

    // More than 1000 pages: nothing is written without a yes.
    t.type("3");
    t.type("0.0011");
    t.type(""); // the question stands on the screen when the keys run out
    EXPECT_THROW(GLEOUT(start, end, ylow, yhigh), RunEnded);
    EXPECT_TRUE(t.screen_contains("     1819 pages (2 MB) will be written, continue (Y/N)?"));
    t.type("");
    t.type("N");
    t.type("-1");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_TRUE(t.front_end.keys.empty());
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(GleDialog, RefusesEqualLimitsAndUnwritableFolders) {
    ylow = 5.2;
    yhigh = 5.9; // both truncate to 5
    t.type("");
    EXPECT_THROW(GLEOUT(start, end, ylow, yhigh), RunEnded);
    EXPECT_TRUE(t.screen_contains("are equal: nothing written"));
    EXPECT_FALSE(fs::exists(dir / "MY_SPEC.dat"));

    // The run is ended at the failure's "Press ENTER" to see its message.
    std::ofstream(dir / "plain") << "x";
    store().FNAME = (dir / "plain" / "X.001").string();
    yhigh = 100;
    t.type("");
    EXPECT_THROW(GLEOUT(start, end, ylow, yhigh), RunEnded);
    EXPECT_TRUE(t.screen_contains("     Cannot write " + (dir / "plain" / "X.dat").string() +
                                  ": Not a directory"));

    // An ASCII spectrum called S.dat must not be replaced by its own plot data.
    std::ofstream(dir / "S.dat") << "spectrum";
    store().FNAME = (dir / "S.dat").string();
    t.type("");
    t.type("");
    t.type("-1");
    GLEOUT(start, end, ylow, yhigh);
    EXPECT_EQ("spectrum", file_text(dir / "S.dat"));
    EXPECT_FALSE(fs::exists(dir / "S1.gle"));
}

// Renders a control file with the real GLE; the output must be free of errors
// and warnings.
std::string gle_problems(const fs::path& control) {
    const std::string command = "cd '" + control.parent_path().string() + "' && gle -d eps '" +
                                control.filename().string() + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "cannot run gle";
    std::string out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    const int status = ::pclose(pipe);
    std::string lower = out;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (status != 0 || lower.find("error") != std::string::npos ||
        lower.find("warning") != std::string::npos)
        return control.filename().string() + ": " + out;
    return {};
}

bool have_gle() {
    return std::system("gle -info > /dev/null 2>&1") == 0;
}

TEST_F(GleDialog, GleRendersEveryLayoutAndNumberClass) {
    if (!have_gle()) GTEST_SKIP() << "the gle program is not installed (package gle-graphics)";
    struct Case {
        const char* per_page;
        const char* marker;
        const char* scaling;
        double start, end;
        int pages;
    };
    const Case cases[] = {
        {"1", "1", "1", 1000, 1546, 2},        // whole-number labels
        {"2", "0.05", "0.1", 1100, 1160, 2},   // one decimal
        {"3", "0.005", "0.01", 1200, 1208, 1}, // two decimals
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.per_page);
        GLESET() = GleSettings{};
        for (const auto& e : fs::directory_iterator(dir))
            fs::remove(e.path());
        for (const char* answer : {"1", c.per_page, "2", c.marker, "3", c.scaling, "", ""})
            t.type(answer);
        start = c.start;
        end = c.end;
        GLEOUT(start, end, ylow, yhigh);
        for (int page = 1; page <= c.pages; ++page) {
            const fs::path control = dir / ("MY_SPEC" + std::to_string(page) + ".gle");
            ASSERT_TRUE(fs::exists(control));
            EXPECT_NE(std::string::npos, file_text(control).find(" xplaces "));
            EXPECT_EQ("", gle_problems(control));
        }
        EXPECT_FALSE(fs::exists(dir / ("MY_SPEC" + std::to_string(c.pages + 1) + ".gle")));
    }

    // Three decimals need a marker spacing below the dialog's range.
    std::vector<GlePage> pages;
    WRIGLE(1000.0, 1000.06, 0.0005, 1, 1, (dir / "MY_SPEC.001").string(),
           static_cast<std::int32_t>((dir / "MY_SPEC").string().size()), pages);
    ASSERT_EQ(1u, pages.size());
    EXPECT_NE(std::string::npos, pages[0].text.find("\" 1000.005\""));
    std::ofstream(pages[0].file_name, std::ios::binary) << pages[0].text;
    EXPECT_EQ("", gle_problems(pages[0].file_name));
}

} // namespace
} // namespace korax
