// PEAKFINDER: the results file character for character, the search's skipping
// and crossings, and the dialog that writes the file beside the spectrum.
#include "analysis/autopk.h"
#include "analysis/peak_search.h"

#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

namespace korax {
namespace {

const std::string HYPHENS(78, '-');

// A noise-free line y = 1000.5 - 2 (x - 50.5)^2 on points x = 1..100, cut at 0:
// integer samples (1000 at x = 50 and 51, a plateau of two equal points) and a
// vertex of 1000.5 between them.
void load_line(std::int32_t offset = 0) {
    auto& s = store();
    s.NPTS = 100;
    for (std::int32_t i = 1; i <= 100; ++i) {
        s.FREQ[std::size_t(i)] = i;
        const double y = 1000.5 - 2 * (i - 50.5) * (i - 50.5);
        s.INTENS[std::size_t(i)] = offset + std::max(0, static_cast<std::int32_t>(y));
    }
}

PeakSearchTotals search(std::int16_t nfit, std::int16_t cutoff, std::int16_t baseline,
                        std::string& text, double height = 2001) {
    PeakSearchSettings st;
    st.start = 1;
    st.end = store().NPTS;
    st.nfit = nfit;
    st.cutoff = cutoff;
    st.baseline = baseline;
    st.height = height;
    return search_lines(store().FREQ, store().INTENS, store().NPTS, st, text);
}

TEST(Autopk, HeadToTheCharacter) {
    const std::string expected = HYPHENS + "\r\n" +
                                 " KORAX PeakFinder RESULTS FOR SPECTRUM:\r\n"
                                 "                   /data/spec1.dat\r\n"
                                 "\r\n"
                                 "   cutoff:      500                    fitting width:    7\r\n"
                                 " baseline:      -20\r\n" +
                                 HYPHENS + "\r\n" +
                                 "\r\n"
                                 "    Frequency     Error   Intensity     FWHH\r\n"
                                 "\r\n";
    EXPECT_EQ(expected, results_head("/data/spec1.dat   ", 500, -20, 7));
}

TEST(Autopk, OneLineToTheCharacter) {
    store().reset();
    load_line();
    std::string text;
    const auto totals = search(9, 100, 0, text);
    // By hand: vertex 50.5, height 1000.5 -> 1000; half height 500.25 is crossed
    // between 34 (456) and 35 (520) at 34 + 44.25/64, and between 66 (520) and
    // 67 (456) at 66 + 19.75/64: FWHH 31.6171875. Bar: 1000 * 32 / 2001 -> 16.
    EXPECT_EQ("      50.50000 +- 0.00000    1000   31.61719  |----------------\r\n", text);
    EXPECT_EQ(1, totals.count);
    EXPECT_EQ(1, totals.with_fwhh);
    EXPECT_NEAR(31.6171875, totals.sum, 1e-6);

    // Seven points: q = 1, and the two equal top points are no candidate.
    text.clear();
    EXPECT_EQ(0, search(7, 100, 0, text).count);
    EXPECT_EQ("", text);
}

TEST(Autopk, BarAndDotColumn) {
    store().reset();
    load_line();
    std::string text;
    search(9, 100, 0, text, 1000.5); // intensity 1000 of 1000.5: the full bar
    EXPECT_NE(std::string::npos, text.find("  |" + std::string(32, '-') + "\r\n"));
    text.clear();
    search(9, 100, 1000, text); // intensity 0: a dot
    EXPECT_NE(std::string::npos, text.find("  |.\r\n"));
}

TEST(Autopk, CandidatesAfterALineAreSkipped) {
    auto& s = store();
    s.reset();
    s.NPTS = 100;
    for (std::int32_t i = 1; i <= 100; ++i) {
        s.FREQ[std::size_t(i)] = 1000 + 0.1 * i;
        s.INTENS[std::size_t(i)] = 0;
    }
    // Nine points: q = 2. 41 would be a candidate on its own (it is compared with
    // 37, 39, 43, 45), but it lies within 2q points after 40; 46 is examined.
    s.INTENS[40] = 500;
    s.INTENS[41] = 400;
    s.INTENS[46] = 300;
    std::string text;
    EXPECT_EQ(2, search(9, 100, 0, text).count);
    // Below the cutoff nothing is a candidate.
    text.clear();
    EXPECT_EQ(0, search(9, 600, 0, text).count);
}

TEST(Autopk, CrossingsFarFromTheLineAreFound) {
    auto& s = store();
    s.reset();
    s.NPTS = 20000;
    // The line of load_line moved to 5000.5 on a plateau of 1500 over points
    // 2001..12000: half height 1250.25 is crossed only at the plateau's edges,
    // at 2000 + 1250.25/1500 and 12000 + 249.75/1500, thousands of points away.
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        s.FREQ[std::size_t(i)] = i;
        const double y = 1000.5 - 2 * (i - 5000.5) * (i - 5000.5);
        s.INTENS[std::size_t(i)] =
            (i > 2000 && i <= 12000 ? 1500 : 0) + std::max(0, static_cast<std::int32_t>(y));
    }
    std::string text;
    const auto totals = search(9, 2000, 0, text);
    ASSERT_EQ(1, totals.count);
    EXPECT_NEAR(9999.333, totals.sum, 1e-5);
}

TEST(Autopk, SeveralThreadsWriteTheSameFileAsOne) {
    // Thousands of known lines (batches of the search and their shares among
    // the threads), some on a shelf whose edges hold their half-height
    // crossings far away, some flat-topped ones whose fits fail, and noise:
    // every line, count and sum as one thread gives them, and each line
    // where it was put.
    auto& s = store();
    s.reset();
    s.NPTS = 400000;
    std::mt19937 random(30);
    std::uniform_int_distribution<std::int32_t> noise(-30, 30);
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        s.FREQ[std::size_t(i)] = 100000 + 0.05 * i;
        const std::int32_t d = i % 97 - 48;
        const bool shelf = (i / 20000) % 3 == 1;
        const bool flat = i % 970 < 97;
        s.INTENS[std::size_t(i)] =
            noise(random) + (shelf ? 2500 : 0) +
            (flat ? (std::abs(d) < 6 ? 3000 : 0) : std::max(0, 4000 - 60 * d * d));
    }
    std::string one, several;
    PeakSearchSettings st;
    st.start = 1;
    st.end = s.NPTS;
    st.nfit = 7;
    st.cutoff = 1000;
    st.baseline = 0;
    st.height = 4000;
    std::vector<FoundLine> lines_one, lines_several;
    const auto a = search_lines(s.FREQ, s.INTENS, s.NPTS, st, one, {}, &lines_one);
    st.threads = 3;
    const auto b = search_lines(s.FREQ, s.INTENS, s.NPTS, st, several, {}, &lines_several);
    EXPECT_GT(a.count, 3000);
    EXPECT_GT(a.failed + a.count - a.with_fwhh, 0);
    EXPECT_EQ(one, several);
    EXPECT_EQ(a.count, b.count);
    EXPECT_EQ(a.failed, b.failed);
    EXPECT_EQ(a.sum, b.sum);
    EXPECT_EQ(a.sum2, b.sum2);
    ASSERT_EQ(lines_one.size(), lines_several.size());
    std::int32_t near = 0;
    for (const FoundLine& l : lines_one) {
        const double point = (l.frequency - 100000) / 0.05;
        near += l.fitted && std::abs(point - (std::round((point - 48) / 97) * 97 + 48)) < 0.5;
    }
    // On the shelf every noise top above the cutoff is a candidate too; the
    // true lines are all among the candidates.
    std::int32_t lines = 0;
    for (std::int32_t i = 1; i + 48 <= s.NPTS; ++i)
        lines += i % 97 == 48 && i % 970 >= 97;
    EXPECT_GE(near, lines);
}

TEST(Autopk, MissingCrossingIsReportedAndLeftOutOfTheMean) {
    store().reset();
    load_line(1000);
    std::string text;
    // A baseline far below the data: half height is never reached.
    const auto totals = search(9, 1500, -30000, text);
    EXPECT_EQ(1, totals.count);
    EXPECT_EQ(0, totals.with_fwhh);
    EXPECT_NE(std::string::npos, text.find("  not found  |")) << text;
    const std::string summary = results_summary(totals);
    EXPECT_NE(std::string::npos, summary.find("Mean FWHH =  0.00000 +-  0.00000")) << summary;
}

TEST(Autopk, SummaryOfEqualWidthsHasZeroDeviation) {
    PeakSearchTotals t;
    for (int k = 0; k < 3; ++k) {
        t.sum += 0.1;
        t.sum2 += 0.1 * 0.1;
    }
    t.count = t.with_fwhh = 3;
    const std::string expected = " \r\n" + std::string(24, ' ') +
                                 "Mean FWHH =  0.10000 +-  0.00000\r\n"
                                 " Total number of identified lines =        3\r\n"
                                 "\r\n" +
                                 HYPHENS + "\r\n";
    EXPECT_EQ(expected, results_summary(t));
}

TEST(Autopk, LinesOfAFineAxisKeepTheDigitsOfTheirErrors) {
    const struct {
        double frequency, error;
        std::optional<double> fwhh;
        double step;
        const char* line;
    } cases[] = {
        // An MHz line as the layout writes it.
        {240046.02971, 0.00054, 0.26, 0.05,
         "  240046.02971 +- 0.00054     456    0.26000  |-------"},
        // On a wavenumber axis of step 1e-5, 0.02 points: the error's two
        // digits, and the frequency and the FWHH to the same decimals.
        {2000.001234567, 2.1e-7, 5.3e-5, 1e-5,
         " 2000.00123457 +- 0.00000021     456 0.00005300  |-------"},
        {2000.001234567, 2.1e-7, std::nullopt, 1e-5,
         " 2000.00123457 +- 0.00000021     456  not found  |-------"},
        // An error of one digit is not zero: the layout stays.
        {2000.001234567, 1.2e-5, 5.3e-5, 1e-5,
         "    2000.00123 +- 0.00001     456    0.00005  |-------"},
        // Too wide for the layout's field, with or without the digits.
        {1234567890.12, 2e-7, 5.3e-5, 1e-5,
         "************** +- 0.00000020     456    0.00005  |-------"},
        // A noiseless line's rounding keeps the layout.
        {50.500000417, 5.1e-8, 31.6171875, 1,
         "      50.50000 +- 0.00000     456   31.61719  |-------"},
    };
    for (const auto& c : cases) {
        std::string text;
        append_line(text, c.frequency, c.error, 456, c.fwhh, 2001, c.step);
        EXPECT_EQ(std::string(c.line) + "\r\n", text) << c.frequency << " +- " << c.error;
    }

    // The lines without a measurement say where they are to the same digits.
    std::string notes;
    append_note_line(notes, 240046.02971, "why", 0.0005);
    append_note_line(notes, 2000.000306191, "why", 2.1e-7);
    append_failed_line(notes, 2000.0000012, 0.05);
    append_failed_line(notes, 2000.0000012, 2e-7);
    EXPECT_EQ("  240046.02971   ** why\r\n"
              " 2000.00030619   ** why\r\n"
              "    2000.00000   ** line fit failed (no curvature)\r\n"
              " 2000.00000120   ** line fit failed (no curvature)\r\n",
              notes);

    PeakSearchTotals t;
    for (double w : {5e-7, 6e-7, 7e-7}) {
        t.sum += w;
        t.sum2 += w * w;
    }
    t.count = t.with_fwhh = 3;
    const std::string summary = results_summary(t);
    EXPECT_NE(std::string::npos, summary.find("Mean FWHH = 0.00000060 +- 0.00000008\r\n"))
        << summary;
}

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream o;
    o << in.rdbuf();
    return o.str();
}

class AutopkDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("korax_autopk_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        store().reset();
        load_line();
        store().FNAME = (dir / "spec1.dat").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    void run(std::int16_t cutoff = 100) {
        std::int32_t first = 1, last = 100;
        std::int16_t baseline = 0, nfit = 9;
        double height = 2001;
        AUTOPK(first, last, cutoff, baseline, nfit, height);
    }
    std::filesystem::path dir;
    TestWindow w;
};

TEST_F(AutopkDialog, WritesTheResultsNextToTheSpectrum) {
    w.type("2"); // not a range: the screen is drawn again
    w.type("1");
    w.type("peaks.txt");
    w.type("");
    run();
    const std::string file = read_file(dir / "peaks.txt");
    EXPECT_EQ(0u, file.find(HYPHENS + "\r\n KORAX PeakFinder RESULTS FOR SPECTRUM:\r\n"));
    EXPECT_NE(std::string::npos,
              file.find("\r\n      50.50000 +- 0.00000    1000   31.61719  |----------------\r\n"));
    EXPECT_NE(std::string::npos, file.find(" Total number of identified lines =        1\r\n"));
    EXPECT_TRUE(w.screen_contains("     PEAKFINDER found      1 transitions"));
    // The name ends its row and an empty row comes before the last line, as
    // after a save.
    int row = 30;
    while (row > 3 && w.row(row).empty())
        --row;
    EXPECT_EQ(std::string(40, ' ') + "Press ENTER to continue", w.row(row));
    EXPECT_EQ("", w.row(row - 1));
    EXPECT_TRUE(w.row(row - 2).ends_with("/peaks.txt")) << w.row(row - 2);
}

TEST_F(AutopkDialog, AnExistingFileIsKeptUnlessTheOperatorSaysYes) {
    { std::ofstream(dir / "peaks.txt") << "old"; }
    w.type("1");
    w.type("peaks.txt");
    w.type("N");
    w.type("other.txt");
    w.type("");
    run();
    EXPECT_EQ("old", read_file(dir / "peaks.txt"));
    EXPECT_NE(std::string::npos, read_file(dir / "other.txt").find("PeakFinder"));

    w.type("1");
    w.type("peaks.txt");
    w.type("maybe"); // anything but Y or N abandons PEAKFINDER
    run();
    EXPECT_EQ("old", read_file(dir / "peaks.txt"));

    w.type("1");
    w.type("peaks.txt");
    w.type("y");
    w.type("");
    run(200);
    EXPECT_NE(std::string::npos, read_file(dir / "peaks.txt").find("   cutoff:      200"));
}

TEST_F(AutopkDialog, EnterAloneAtANamePromptLeavesWithoutOutput) {
    { std::ofstream(dir / "peaks.txt") << "old"; }
    // In a folder that cannot take the file the operator still gets out.
    w.type("1");
    w.type("nosuchfolder/peaks.txt");
    w.type("");
    run();
    // And at the new-name prompt after a no.
    w.type("1");
    w.type("peaks.txt");
    w.type("n");
    w.type("   ");
    run();
    EXPECT_TRUE(w.front_end.keys.empty());
    EXPECT_FALSE(w.screen_contains("PEAKFINDER found"));
    EXPECT_EQ("old", read_file(dir / "peaks.txt"));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST_F(AutopkDialog, AFileThatCannotBeCreatedIsReportedAndAskedAgain) {
    std::filesystem::create_directories(dir / "afolder");
    w.type("1");
    w.type("nosuchfolder/peaks.txt");
    w.type("afolder");
    w.type("peaks.txt");
    w.type("");
    run();
    EXPECT_FALSE(w.screen_contains("THIS FILE ALREADY EXISTS"));
    EXPECT_TRUE(std::filesystem::exists(dir / "peaks.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "afolder"));
}

} // namespace
} // namespace korax
