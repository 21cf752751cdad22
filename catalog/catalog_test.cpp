// The catalogue reader by its columns, the letter encoding of large quantum
// numbers, refusals of files that are not catalogues, and the frequency index
// checked against plain scans.
#include "catalog/catalog.h"
#include "catalog/catalog_table.h"
#include "testing/test_catalog_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <sys/stat.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

// A line as the prediction programs write it (F13.4 F8.4 F8.4 I2 F10.4 I3 I7 I4 12A2).
std::string cat_line(double freq, double unc, double lg, int fmt, const std::string& qn) {
    char text[128];
    std::snprintf(text, sizeof text, "%13.4f%8.4f%8.4f%2d%10.4f%3d%7d%4d%s", freq, unc, lg, 3,
                  12.3456, 7, 28503, fmt, qn.c_str());
    return text;
}

TEST(CatalogColumns, FieldsAreReadByColumnNotByBlanks) {
    // Uncertainty and intensity abut: "0.8432-12.2048".
    auto r = parse_catalog_line("  118830.5312 10.8432-12.2048 3  120.5000 63 -28503 303"
                                "31 131      30 130   ");
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(118830.5312, r->freq);
    EXPECT_DOUBLE_EQ(10.8432, r->unc);
    EXPECT_DOUBLE_EQ(-12.2048, r->lgint);
    EXPECT_EQ(3, r->dof);
    EXPECT_DOUBLE_EQ(120.5, r->elower);
    EXPECT_EQ(63, r->gup);
    EXPECT_EQ(-28503, r->tag); // experimental frequency
    EXPECT_EQ(303, r->qnfmt);
    PredictedLine l;
    l.qn_text = r->qn_text;
    l.qnfmt = 303;
    EXPECT_EQ("31 1 31 <- 30 1 30", quantum_number_text(l));
}

TEST(CatalogColumns, LetterEncodingOfLargeQuantumNumbers) {
    struct Case {
        const char* field;
        std::optional<int> value;
    } cases[] = {
        {"  ", 0},
        {" 0", 0},
        {" 9", 9},
        {"99", 99},
        {"-1", -1},
        {"-9", -9},
        {"A0", 100},
        {"A9", 109},
        {"B3", 113},
        {"Z9", 359},
        {"a0", -10},
        {"a9", -19},
        {"b0", -20},
        {"z9", -269},
        {"-0", std::nullopt},
        {"A ", std::nullopt},
        {"*1", std::nullopt},
        {" x", std::nullopt},
        {"--", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, decode_qn(c.field[0], c.field[1])) << '"' << c.field << '"';
}

TEST(CatalogColumns, FormatCodeSetsTheNumberOfQuantumNumbers) {
    struct Case {
        int fmt;
        std::string qn; // upper 6 fields then lower 6
        std::string shown;
    } cases[] = {
        {101, " 5           4", "5 <- 4"},
        {303, "A1 3A1      A0 2A0", "101 3 101 <- 100 2 100"},
        {1404, " 3 1 2 4     2 1 1 3", "3 1 2 4 <- 2 1 1 3"},
        {6, " 1 2 3 4 5 6a1 2 3 4 5 6", "1 2 3 4 5 6 <- -11 2 3 4 5 6"},
        {303, " 3*1 2       2 1 1", "3 *1 2 <- 2 1 1"},
        // The tens digit flags half-integers, coded rounded up; its lowest
        // bit stands for the last quantum number.
        {314, " 3 1 2 4     2 1 1 3", "3 1 2 7/2 <- 2 1 1 5/2"},
        {324, " 3 1 2 4     2 1 1 3", "3 1 3/2 4 <- 2 1 1/2 3"},
        {1434, " 3 1 2 4     2 1 1 3", "3 1 3/2 7/2 <- 2 1 1/2 5/2"},
        {172, " 2 3         1 0", "3/2 5/2 <- 1/2 -1/2"}, // bits beyond the count unused
        {111, "A0          Z9", "199/2 <- 717/2"},
        {181, "A0          Z9", "100 <- 359"}, // a bit for a fourth number from the end
    };
    for (const auto& c : cases) {
        auto r = parse_catalog_line(cat_line(1000, 0.01, -3, c.fmt, c.qn));
        ASSERT_TRUE(r) << c.fmt;
        PredictedLine l;
        l.qn_text = r->qn_text;
        l.qnfmt = static_cast<std::int16_t>(c.fmt);
        EXPECT_EQ(c.shown, quantum_number_text(l)) << c.fmt;
        EXPECT_EQ(c.qn.find('*') == std::string::npos, quantum_numbers(l).ok) << c.fmt;
    }
    // The assignment file takes the numbers as coded.
    PredictedLine l;
    l.qnfmt = 314;
    l.qn_text.fill(' ');
    const std::string qn = " 3 1 2 4     2 1 1 3";
    std::copy(qn.begin(), qn.end(), l.qn_text.begin());
    EXPECT_EQ(4, quantum_numbers(l).values[3]);
}

TEST(CatalogColumns, LinesThatCannotBeRead) {
    const std::string good = cat_line(1000, 0.01, -3, 303, " 3 1 2       2 1 1");
    ASSERT_TRUE(parse_catalog_line(good));
    // Label after column 80, kept and trimmed.
    // The label is a view into the line, which must outlive it.
    const std::string with_label = good + std::string(80 - good.size(), ' ') + "  CH3OH, v=0  ";
    auto labelled = parse_catalog_line(with_label);
    ASSERT_TRUE(labelled);
    EXPECT_EQ("CH3OH, v=0", labelled->label);

    EXPECT_FALSE(parse_catalog_line(""));
    EXPECT_FALSE(parse_catalog_line("    1000.0000"));
    // Cut inside the last lower-state quantum number.
    EXPECT_FALSE(parse_catalog_line(good.substr(0, good.size() - 1)));
    EXPECT_FALSE(parse_catalog_line(cat_line(0, 0.01, -3, 303, " 3 1 2       2 1 1")));
    EXPECT_FALSE(parse_catalog_line(cat_line(-5, 0.01, -3, 303, " 3 1 2       2 1 1")));
    std::string inf = good;
    inf.replace(0, 13, "          inf");
    EXPECT_FALSE(parse_catalog_line(inf));
    std::string letters = good;
    letters.replace(21, 8, "  abcdef");
    EXPECT_FALSE(parse_catalog_line(letters));
    std::string blank_freq = good;
    blank_freq.replace(0, 13, std::string(13, ' '));
    EXPECT_FALSE(parse_catalog_line(blank_freq));
}

// A line from its fields, each exactly as wide as its columns, so that a
// case shows what stands in which column.
std::string columns(std::vector<std::string> fields) {
    static constexpr std::size_t WIDTHS[] = {13, 8, 8, 2, 10, 3, 7, 4, 24};
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(WIDTHS[i], fields[i].size()) << "field " << i << ": \"" << fields[i] << '"';
        line += fields[i];
    }
    return line;
}

TEST(CatalogColumns, FieldsAtTheirLimits) {
    const std::string qn = " 3 1 2       2 1 1      ";
    struct Case {
        std::vector<std::string> fields;
        bool read;
        double freq = 0, unc = 0;
        int gup = 0, tag = 0;
        bool wavenumbers = false, experimental = false;
    } cases[] = {
        // Every column filled to its width.
        {{"99999999.9999", "999.9999", "-99.9999", "-9", "-9999.9999", "999", "9999999", "9999",
          qn},
         true,
         99999999.9999,
         999.9999,
         999,
         9999999,
         false,
         false},
        // Degeneracies beyond 999: a letter in the hundreds place.
        {{"     1000.000", "  0.0100", " -3.0000", " 3", "   12.3456", "A00", "  28503", " 303",
          qn},
         true,
         1000,
         0.01,
         1000,
         28503,
         false,
         false},
        {{"     1000.000", "  0.0100", " -3.0000", " 3", "   12.3456", "B23", "  28503", " 303",
          qn},
         true,
         1000,
         0.01,
         1123,
         28503,
         false,
         false},
        {{"     1000.000", "  0.0100", " -3.0000", " 3", "   12.3456", "Z99", "  28503", " 303",
          qn},
         true,
         1000,
         0.01,
         3599,
         28503,
         false,
         false},
        // A negative uncertainty, -0.0000 too: the line is in wavenumbers. A
        // negative tag: a laboratory frequency.
        {{"    2143.2712", " -0.0001", " -3.0000", " 3", "   12.3456", "  3", "-999999", " 303",
          qn},
         true,
         2143.2712,
         -0.0001,
         3,
         -999999,
         true,
         true},
        {{"    2143.2712", " -0.0000", " -3.0000", " 3", "   12.3456", "  3", "  28503", " 303",
          qn},
         true,
         2143.2712,
         -0.0,
         3,
         28503,
         true,
         false},
        {{"    2143.2712", "  0.0000", " -3.0000", " 3", "   12.3456", "   ", "  28503", " 303",
          qn},
         true,
         2143.2712,
         0.0,
         0,
         28503,
         false,
         false},
        // Letters a degeneracy cannot hold.
        {{"     1000.000", "  0.0100", " -3.0000", " 3", "   12.3456", "a00", "  28503", " 303",
          qn},
         false},
        {{"     1000.000", "  0.0100", " -3.0000", " 3", "   12.3456", " A0", "  28503", " 303",
          qn},
         false},
        {{"     1000.000", "  0.0100", " -3.0000", " 3", "   12.3456", "A0 ", "  28503", " 303",
          qn},
         false},
        {{"     1000.000", "  0.0100", " -3.0000", " 3", "   12.3456", "AA0", "  28503", " 303",
          qn},
         false},
    };
    for (const auto& c : cases) {
        const std::string line = columns(c.fields);
        auto r = parse_catalog_line(line);
        ASSERT_EQ(c.read, r.has_value()) << line;
        if (!r) continue;
        EXPECT_EQ(c.freq, r->freq) << line;
        EXPECT_EQ(c.unc, r->unc) << line;
        EXPECT_EQ(c.gup, r->gup) << line;
        EXPECT_EQ(c.tag, r->tag) << line;
        EXPECT_EQ(c.wavenumbers, r->in_wavenumbers()) << line;
        EXPECT_EQ(c.experimental, r->experimental()) << line;
    }
    EXPECT_EQ(-99.9999, parse_catalog_line(columns(cases[0].fields))->lgint);
    EXPECT_EQ(-9999.9999, parse_catalog_line(columns(cases[0].fields))->elower);
    EXPECT_EQ(-9, parse_catalog_line(columns(cases[0].fields))->dof);
}

TEST_F(CatalogFile, ReadsSortsAndCountsSkippedLines) {
    std::string text = cat_line(2000, 0.01, -2, 303, " 3 1 2       2 1 1") + "\r\n" +
                       cat_line(1000, 0.02, -4, 303, " 4 1 3       3 1 2") + "\n" +
                       "junk line\n\n" + cat_line(-1, 0.01, -2, 303, " 3 1 2       2 1 1") + "\n" +
                       cat_line(1500, 0.01, -3, 303, " 5 1 4       4 1 3").substr(0, 60);
    Catalog c;
    CatalogLoad load = read_catalog(write("a.cat", text), c);
    EXPECT_EQ("", load.error);
    EXPECT_EQ(3u, load.skipped); // junk, negative frequency, truncated last line
    ASSERT_EQ(2u, c.size());
    EXPECT_DOUBLE_EQ(1000, c.lines()[0].freq);
    EXPECT_DOUBLE_EQ(2000, c.lines()[1].freq);
}

TEST_F(CatalogFile, WavenumberLinesAreKeptInMHz) {
    const std::string qn = " 3 1 2       2 1 1      ";
    std::string text = columns({"  240046.0325", "  0.0051", " -4.1061", " 3", "   79.7640", "Z99",
                                " -28503", " 303", qn}) +
                       "\n" +
                       columns({"       7.9000", " -0.0001", " -5.0000", " 3", "   79.7640", " 41",
                                "  28503", " 303", qn}) +
                       "\n";
    Catalog c;
    CatalogLoad load = read_catalog(write("mixed.cat", text), c);
    ASSERT_EQ("", load.error);
    EXPECT_EQ(0u, load.skipped) << "a degeneracy of 3599 keeps its line";
    ASSERT_EQ(2u, c.size());
    // 7.9 cm-1 is 236837.24 MHz: below the MHz line.
    const PredictedLine& wn = c.lines()[0];
    EXPECT_DOUBLE_EQ(7.9 * 29979.2458, wn.freq);
    EXPECT_FLOAT_EQ(static_cast<float>(0.0001 * 29979.2458), wn.unc);
    EXPECT_TRUE(wn.given_in_wavenumbers);
    EXPECT_FALSE(wn.experimental);
    const PredictedLine& mhz = c.lines()[1];
    EXPECT_EQ(240046.0325, mhz.freq);
    EXPECT_FALSE(mhz.given_in_wavenumbers);
    EXPECT_TRUE(mhz.experimental);
}

TEST_F(CatalogFile, LongLinesAreCutAndTheRestSkipped) {
    const std::string good = cat_line(1000, 0.01, -3, 303, " 3 1 2       2 1 1");
    const std::string pad80 = good + std::string(80 - good.size(), ' ');
    // A label far past the bound; a line of 5 MB of junk, across the reader's
    // 4 MB blocks; a line of exactly the bound before its CR LF; the last
    // line long and without a line end.
    const std::string text = pad80 + std::string(10000, 'L') + "\n" + std::string(5 << 20, 'x') +
                             "\n" + good + "\n" + pad80 + std::string(4096 - 80, 'M') + "\r\n" +
                             pad80 + std::string(6000, 'E');
    const std::string path = write("long.cat", text);
    Catalog c;
    CatalogLoad load = read_catalog(path, c);
    ASSERT_EQ("", load.error);
    EXPECT_EQ(1u, load.skipped);
    EXPECT_EQ(3u, load.cut);
    ASSERT_EQ(4u, c.size());
    EXPECT_EQ("4 lines read, 1 skipped, 3 cut at 4096 bytes", load_summary(c.size(), load));
    std::size_t longest = 0;
    for (const auto& label : c.labels())
        longest = std::max(longest, label.size());
    EXPECT_EQ(4096u - 80, longest);
    std::ostringstream out, err;
    EXPECT_EQ(0, write_catalog_table(path, -INFINITY, INFINITY, out, err));
    EXPECT_EQ(path + ": 4 lines read, 1 skipped, 3 cut at 4096 bytes\n", err.str());
}

TEST_F(CatalogFile, FilesThatAreNotCatalogues) {
    std::string junk(5000, '\0');
    std::mt19937 random(5);
    for (auto& ch : junk)
        ch = static_cast<char>(random());
    fs::create_directory(dir / "folder");
    ASSERT_EQ(0, ::mkfifo((dir / "fifo").c_str(), 0600));
    struct Case {
        std::string path, error_start;
    } cases[] = {
        {write("empty.cat", ""), "is empty"},
        {write("junk.cat", junk), "is not a line catalogue"},
        {write("spectrum.txt", "comment\n240000.0 12\n240000.05 13\n"), "is not a line catalogue"},
        {(dir / "folder").string(), "is a folder"},
        {(dir / "fifo").string(), "is not a regular file"},
        {(dir / "missing.cat").string(), "cannot be opened"},
    };
    for (const auto& k : cases) {
        Catalog c;
        c.path = "before";
        CatalogLoad load = read_catalog(k.path, c);
        EXPECT_EQ(0u, load.error.rfind(k.error_start, 0)) << k.path << ": " << load.error;
        EXPECT_EQ("before", c.path);
        EXPECT_EQ(0u, c.size());
        std::ostringstream out, err;
        EXPECT_EQ(1, write_catalog_table(k.path, -INFINITY, INFINITY, out, err)) << k.path;
        EXPECT_NE(std::string::npos, err.str().find(k.error_start)) << err.str();
    }
}

TEST_F(CatalogFile, TableKeepsTheRangeAndReportsSkippedLines) {
    std::string text = cat_line(1000, 0.01, -2, 303, " 3 1 2       2 1 1") + "\n" +
                       cat_line(1500, 0.02, -4, 303, "A0 1 3      a1 1 2") + "\n" + "bad\n" +
                       cat_line(2000, 0.01, -3, 303, " 5 1 4       4 1 3") + "\n";
    std::ostringstream out, err;
    EXPECT_EQ(0, write_catalog_table(write("t.cat", text), 1200, 2000, out, err));
    EXPECT_EQ("frequency\tuncertainty\tlog10_intensity\tdegrees_of_freedom\tlower_energy\t"
              "upper_degeneracy\ttag\tqn_format\tupper_state\tlower_state\tlabel\n"
              "1500.0000\t0.0200\t-4.0000\t3\t12.3456\t7\t28503\t303\t100,1,3\t-11,1,2\t\n"
              "2000.0000\t0.0100\t-3.0000\t3\t12.3456\t7\t28503\t303\t5,1,4\t4,1,3\t\n",
              out.str());
    EXPECT_NE(std::string::npos, err.str().find("3 lines read, 1 skipped")) << err.str();
}

TEST(CatalogIndex, MaximaAndThresholdSearchesAgreeWithPlainScans) {
    for (std::size_t n : {0u, 1u, 63u, 64u, 65u, 4096u, 4097u, 300000u}) {
        std::mt19937 random(static_cast<unsigned>(n));
        std::vector<PredictedLine> lines(n);
        for (std::size_t i = 0; i < n; ++i) {
            lines[i].freq = 1000.0 + static_cast<double>(i);
            lines[i].lgint = static_cast<float>(-8.0 + 8.0 * (random() % 10000) / 10000.0);
        }
        Catalog c;
        c.set_lines(lines, {""});
        for (int trial = 0; trial < 200; ++trial) {
            std::size_t a = n ? random() % (n + 1) : 0, b = n ? random() % (n + 1) : 0;
            if (a > b) std::swap(a, b);
            float want = -INFINITY;
            for (std::size_t i = a; i < b; ++i)
                want = std::max(want, lines[i].lgint);
            ASSERT_EQ(want, c.max_lgint(a, b)) << n << " [" << a << "," << b << ")";

            // Searches from any starting point, against a plain binary search.
            const double f = 999.5 + static_cast<double>(random() % (n + 2));
            const std::size_t plain = static_cast<std::size_t>(
                std::lower_bound(lines.begin(), lines.end(), f,
                                 [](const PredictedLine& l, double x) { return l.freq < x; }) -
                lines.begin());
            ASSERT_EQ(plain, c.lower_bound(f)) << n << " " << f;
            ASSERT_EQ(std::max(plain, a), c.lower_bound(f, a)) << n << " " << f << " from " << a;

            // Thresholds near the top make the hits rare and far apart.
            float threshold = -0.05f * static_cast<float>(random() % 40);
            std::optional<std::size_t> next, previous;
            for (std::size_t i = a; i < n && !next; ++i)
                if (lines[i].lgint >= threshold) next = i;
            ASSERT_EQ(next, c.next_at_least(a, threshold)) << n << " from " << a;
            if (n > 0) {
                std::size_t from = std::min(a, n - 1);
                for (std::size_t i = from + 1; i > 0 && !previous; --i)
                    if (lines[i - 1].lgint >= threshold) previous = i - 1;
                ASSERT_EQ(previous, c.previous_at_least(from, threshold)) << n << " from " << from;
            }
        }
    }
}

TEST(CatalogIndex, ColumnMaximaSparseExactDenseWithinAColumn) {
    // 200,000 lines over 1000 units at random frequencies.
    std::mt19937 random(3);
    std::vector<PredictedLine> lines(200000);
    for (auto& l : lines) {
        l.freq = 1000.0 + 1000.0 * (random() % 1000000) / 1e6;
        l.lgint = static_cast<float>(-8.0 + 6.0 * (random() % 10000) / 10000.0);
    }
    Catalog c;
    c.set_lines(lines, {""});
    const auto& sorted = c.lines();
    struct Case {
        double from, to;
        std::size_t width;
    } cases[] = {
        {1000.0, 1002.0, 100}, {1400.0, 1450.0, 800}, {990.0, 2010.0, 800}, {1000.0, 2000.0, 50}};
    for (const auto& k : cases) {
        const double per = (k.to - k.from) / static_cast<double>(k.width);
        std::vector<float> exact(k.width, -INFINITY), got(k.width);
        for (const auto& l : sorted) {
            if (l.freq < k.from || l.freq >= k.to) continue;
            // Column i holds [from + i * per, from + (i + 1) * per), boundaries
            // computed as written, so that rounding cannot move a line.
            auto i = static_cast<std::size_t>(
                std::min(std::floor((l.freq - k.from) / per), static_cast<double>(k.width - 1)));
            while (i + 1 < k.width && l.freq >= k.from + static_cast<double>(i + 1) * per)
                ++i;
            while (i > 0 && l.freq < k.from + static_cast<double>(i) * per)
                --i;
            exact[i] = std::max(exact[i], l.lgint);
        }
        c.column_maxima(c.lower_bound(k.from), c.lower_bound(k.to), k.from, per, got);
        const bool dense = c.lower_bound(k.to) - c.lower_bound(k.from) > 4 * 64 * k.width;
        for (std::size_t i = 0; i < k.width; ++i) {
            if (!dense) {
                ASSERT_EQ(exact[i], got[i]) << k.from << " column " << i;
                continue;
            }
            // A block may lend a line to the column before its end: each column
            // shows its own strongest line or one of its neighbours'.
            float near = exact[i];
            if (i > 0) near = std::max(near, exact[i - 1]);
            if (i + 1 < k.width) near = std::max(near, exact[i + 1]);
            ASSERT_LE(got[i], near) << k.from << " column " << i;
        }
        EXPECT_EQ(*std::max_element(exact.begin(), exact.end()),
                  *std::max_element(got.begin(), got.end()));
    }
}

} // namespace
} // namespace korax
