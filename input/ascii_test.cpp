// The two-column ASCII reader: number forms, pair rules, the data checks with
// their reports, and the rescaling to -10000..10000.
#include "input/ascii.h"

#include "input/header_line.h"

#include "input/pairs.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace korax {
namespace {

TEST(AsciiNumbers, AcceptedAndRefusedForms) {
    struct Case {
        const char* token;
        bool ok;
        double value;
    } cases[] = {
        {"1", true, 1.0},        {"-2.5", true, -2.5},   {"+3.", true, 3.0},
        {".5", true, 0.5},       {"1e3", true, 1000.0},  {"1.5D2", true, 150.0},
        {"2d-1", true, 0.2},     {"-1E+05", true, -1e5}, {"3.4e38", true, 3.4e38},
        {"1e-50", true, 1e-50},  {"nan", false, 0},      {"inf", false, 0},
        {"-Infinity", false, 0}, {"0x1p3", false, 0},    {"1e999", false, 0},
        {"1e39", false, 0},      {"1.5.2", false, 0},    {"e5", false, 0},
        {"1e", false, 0},        {"--1", false, 0},      {"", false, 0},
        {".", false, 0},         {"12abc", false, 0},    {"1,5", false, 0},
    };
    for (const auto& c : cases) {
        const auto x = parse_real(c.token);
        const auto y = parse_real32(c.token);
        ASSERT_EQ(c.ok, x.has_value()) << c.token;
        ASSERT_EQ(c.ok, y.has_value()) << c.token;
        if (c.ok) {
            EXPECT_EQ(c.value, *x) << c.token;
            EXPECT_EQ(static_cast<float>(c.value), *y) << c.token;
        }
    }
    // The intensity is rounded once from its decimal form, not via a double.
    EXPECT_EQ(0.1f, *parse_real32("0.1"));
    EXPECT_EQ(0.1, *parse_real("0.1"));
}

// Decimal forms with up to 20 digits and exponents on both sides of the fast
// range, against the C library's correctly rounded conversion.
TEST(AsciiNumbers, RoundingMatchesTheCLibrary) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> digit(0, 9), length(1, 20), exponent(-50, 50), coin(0, 3);
    for (int n = 0; n < 20000; ++n) {
        std::string t = coin(rng) == 0 ? "-" : "";
        const int digits = length(rng);
        const int point = std::uniform_int_distribution<int>(0, digits)(rng);
        for (int i = 0; i < digits; ++i) {
            if (i == point) t += '.';
            t += static_cast<char>('0' + digit(rng));
        }
        if (coin(rng) != 0) {
            t += coin(rng) ? 'e' : 'E';
            t += std::to_string(exponent(rng));
        }
        errno = 0;
        const float f = std::strtof(t.c_str(), nullptr);
        if (errno != ERANGE) {
            ASSERT_TRUE(parse_real32(t).has_value()) << t;
            ASSERT_EQ(f, *parse_real32(t)) << t;
        }
        errno = 0;
        const double d = std::strtod(t.c_str(), nullptr);
        if (errno != ERANGE && std::fabs(d) < 3.0e38) {
            ASSERT_TRUE(parse_real(t).has_value()) << t;
            ASSERT_EQ(d, *parse_real(t)) << t;
        }
    }
}

// Decimals just beside a point halfway between two floats, close enough that
// their nearest double is that point: rounding the double again would tie to
// even, which is wrong on one side. Large and small powers of ten alike.
TEST(AsciiNumbers, FloatsBesideAHalfwayPoint) {
    for (const char* token :
         {"2.674223780632019", "-2.674223780632019", "70.31815719604492", "0.3516206294298172",
          "6.240849150344729e-03", "3.074385079848696E-09", "4.450282867765054e-4",
          "1.0000000596046448", "16777217", "33554434.99999999"}) {
        const float expected = std::strtof(token, nullptr);
        ASSERT_TRUE(parse_real32(token).has_value()) << token;
        EXPECT_EQ(expected, *parse_real32(token)) << token;
    }
}

std::vector<std::pair<double, float>> scan(std::string_view text) {
    std::vector<std::pair<double, float>> out;
    PairScanner s(text);
    while (auto p = s.next())
        out.emplace_back(p->x, p->y);
    return out;
}

TEST(AsciiPairs, FreeFormatRules) {
    using P = std::vector<std::pair<double, float>>;
    struct Case {
        const char* text;
        P pairs;
    } cases[] = {
        {"100.5, 3\n101 4\n", {{100.5, 3}, {101, 4}}},
        {"1\t2\r\n3 ,4\r\n", {{1, 2}, {3, 4}}},
        {"1.0D1 2.5d-1\n", {{10, 0.25f}}},
        {"1\n\n 2\n3 4\n", {{1, 2}, {3, 4}}},    // pair over lines
        {"1,\n2\n", {{1, 2}}},                   // comma, then next line
        {"1 2 3 junk\n4 5\n", {{1, 2}, {4, 5}}}, // rest ignored
        {"freq intens\n1 2\n-- next scan --\n3 4\n", {{1, 2}, {3, 4}}},
        {"1\nnot a number\n3 4\n", {{3, 4}}}, // lone number lost
        {"nan 1\n2 inf\n0x10 1\n1e999 2\n1 1e39\n5 6\n", {{5, 6}}},
        {"1 2\n3", {{1, 2}}}, // cut pair not counted
        {"1 2", {{1, 2}}},    // no final line end
        {",1 2\n1,,2\n7 8\n", {{7, 8}}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.pairs, scan(c.text)) << c.text;
}

// A text that ends with a line end is read by a shortcut for the common forms
// of pairs; every form must read as in a text that does not (a blank after
// it), where only the general way is taken.
TEST(AsciiPairs, ShortcutReadsAsTheGeneralWay) {
    const char* forms[] = {
        "1 2",
        "-0 -0.0",
        "+1.5D2 +3",
        "1e 2",
        "5 6 7",
        "1,2",
        "1 ,2",
        "1\t2\r",
        "1 2\r x",
        "1\n2",
        "1 2abc",
        "0.1 0.1",
        ".5 5.",
        "- 5",
        "1 2.674223780632019",
        "3.4e38 1",
        "1 3.4e38",
        "1e39 1",
        "1 1e-50",
        "1e9999 5",
        "1 2e-0999",
        "1,,2",
        ", 1 2",
        "00000000000000000000001 5",
        "123456789012345678901 5",
        "1.00000000000000000001 5",
        "9007199254740993 1",
        "1 16777217",
        "1 33554434.99999999",
        "240000.05 -6.85e-05",
        "1 2                   3",
        "1                          2",
    };
    for (const char* form : forms) {
        const std::string text = std::string(form) + "\n7 8\n";
        const auto general = scan(text + " ");
        const auto shortcut = scan(text);
        ASSERT_FALSE(general.empty()) << form;
        ASSERT_EQ(general.size(), shortcut.size()) << form;
        for (std::size_t i = 0; i < general.size(); ++i) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(general[i].first),
                      std::bit_cast<std::uint64_t>(shortcut[i].first))
                << form;
            EXPECT_EQ(std::bit_cast<std::uint32_t>(general[i].second),
                      std::bit_cast<std::uint32_t>(shortcut[i].second))
                << form;
        }
    }
}

class AsciiRead : public ::testing::Test {
  protected:
    void SetUp() override {
        store().reset();
        store().SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
        path = std::filesystem::temp_directory_path() /
               ("korax_ascii_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
        store().FNAME = path.string();
    }
    void TearDown() override { std::filesystem::remove(path); }
    bool read(const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
        try {
            return read_ascii_spectrum();
        } catch (const RunEnded&) {
            ADD_FAILURE() << "the reader ended the run";
            return false;
        }
    }
    std::filesystem::path path;
    TestWindow w;
};

TEST_F(AsciiRead, RescalesAndFillsHeader) {
    // Bit patterns in the PELMO reader's first bytes must not survive as numbers.
    store().SPHEAD.GAIN = 123.0f;
    ASSERT_TRUE(read("OCS test comment\r\n1 0.3\n2 70.6\n3.5 35.45\n4 10\n"));
    const auto& s = store();
    EXPECT_EQ(4, s.NPTS);
    // Worked out in single precision: scale = 20000 / (70.6f - 0.3f) = 284.49503
    EXPECT_EQ(-10000, s.INTENS[1]);
    EXPECT_EQ(9999, s.INTENS[2]); // 9999.998 truncated
    EXPECT_EQ(0, s.INTENS[3]);
    EXPECT_EQ(-7240, s.INTENS[4]);
    EXPECT_EQ(3.5, s.FREQ[3]);
    EXPECT_EQ(1.0, s.FSTART);
    EXPECT_EQ(4.0, s.FEND);
    EXPECT_EQ(1.0, s.FSTEP);
    EXPECT_EQ(-10000, s.IYMIN);
    EXPECT_EQ(10000, s.IYMAX);
    EXPECT_EQ(51.0f, s.SPHEAD.PTSSEC);
    EXPECT_EQ(0.0f, s.SPHEAD.GAIN);
    EXPECT_EQ(1, s.SPHEAD.IDAY);
    EXPECT_EQ(1, s.SPHEAD.IMONTH);
    EXPECT_EQ(2000, s.SPHEAD.IYEAR);
    EXPECT_EQ(" 7.060E+01          ", field_text(s.SPHEAD.SAMPLE));
    EXPECT_EQ(std::string(6, ' '), field_text(s.SPHEAD.LAMP));
    EXPECT_EQ("OCS test comment" + std::string(56, ' '), field_text(s.SPHEAD.COMENT));

    EXPECT_EQ("  Successful ASCII input from: " + path.string(), w.row(1));
    EXPECT_EQ("    OCS test comment", w.row(4));
    EXPECT_EQ("       4 points:  intensity from  3.0000E-01 to  7.0600E+01", w.row(7));
    EXPECT_EQ("                  frequency from        1.00 to        4.00", w.row(8));
}

TEST_F(AsciiRead, DataChecksAndTheirCounters) {
    struct Case {
        const char* content;
        const char* message;
        int counter; // 0: no "Failed at point:" line
    } cases[] = {
        {"c\n1 1\n2 2\n3 3\n", "Too few X,Y pairs", 4},
        {"c\n1 5\n2 5\n", "Zero range of Y-values", 3},
        {"c\n", "Too few X,Y pairs", 1},
        {"c\n1 1\n3 2\n2 3\n4 4\n5 5\n", "Frequencies not continuously increasing", 6},
        {"c\n7 1\n7 2\n7 3\n7 4\n", "Zero frequency range", 5},
        {"", "Problem with the comment", 0},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(read(c.content)) << c.content;
        EXPECT_EQ("          File:  " + path.string(), w.row(2)) << c.content;
        EXPECT_EQ(std::string("          Unsuccessful ASCII input:  ") + c.message, w.row(4));
        char line[80];
        std::snprintf(line, sizeof line, "                   Failed at point:  %7d", c.counter);
        EXPECT_EQ(c.counter ? std::string(line) : std::string(), w.row(5)) << c.content;
    }
    std::filesystem::remove(path);
    EXPECT_FALSE(read_ascii_spectrum());
    EXPECT_EQ("          Unsuccessful ASCII input:  The file could not be opened again", w.row(4));
}

TEST_F(AsciiRead, EqualNeighboursLoad) {
    ASSERT_TRUE(read("c\n1 1\n2 2\n2 3\n4 4\n"));
    EXPECT_EQ(4, store().NPTS);
    EXPECT_EQ(2.0, store().FREQ[3]);
}

TEST_F(AsciiRead, CapacityAndFlatLargeFiles) {
    std::string big = "big\n";
    big.reserve(16 * std::size_t(MAXPTS));
    char line[40];
    for (int i = 1; i <= MAXPTS + 2; ++i) {
        std::snprintf(line, sizeof line, "%d %d\n", i, i % 7);
        big += line;
    }
    ASSERT_TRUE(read(big));
    EXPECT_EQ(MAXPTS, store().NPTS);
    EXPECT_EQ(double(MAXPTS), store().FEND);

    // All intensities equal in a file of MAXPTS pairs: refused, not divided by zero.
    std::string flat = "flat\n";
    flat.reserve(12 * std::size_t(MAXPTS));
    for (int i = 1; i <= MAXPTS; ++i) {
        std::snprintf(line, sizeof line, "%d 3\n", i);
        flat += line;
    }
    EXPECT_FALSE(read(flat));
    EXPECT_EQ("          Unsuccessful ASCII input:  Zero range of Y-values", w.row(4));
    EXPECT_EQ("                   Failed at point:  3000001", w.row(5));
}

// A text whose comment line carries a PELMO header (as `korax convert` writes
// it) reads back with that header; its intensities stay as they are only while
// all are whole 16-bit numbers, and its axis is the carried one only while the
// points lie on it. Anything else about the line makes it a plain comment.
TEST_F(AsciiRead, CarriedHeader) {
    SpectrumHeader h;
    h.clear();
    set_field(h.COMENT, "OCS  J=20-19  [a comment | with bars]");
    h.IDAY = 7, h.IMONTH = 12, h.IYEAR = 2002, h.IHOUR = -3, h.IMINUT = 51, h.ISECND = 54;
    set_field(h.LAMP, "OB]24");
    h.VKMLO = 1520.5f, h.GAIN = 0.05f, h.PRESS = -0.0f;
    h.PHASE = std::bit_cast<float>(0x7fc00123u); // a NaN with a payload
    h.TCONST = std::numeric_limits<float>::infinity();
    set_field(h.SAMPLE, "[OCS] ");
    set_field(h.NDELAV, "2, 8");
    // The stored end is not what start + 4 steps give, as in some recordings.
    const double fstart = 240000.0, fstep = 0.1, fend = 240000.4000001;
    const std::string line = header_line(h, 5, fstart, fend, fstep);
    std::string pairs;
    for (int k = 0; k < 5; ++k) {
        char t[64];
        std::snprintf(t, sizeof t, "%.17g %d\r\n", fstart + k * fstep, k == 2 ? 30000 : -k);
        pairs += t;
    }
    std::string edited = line;
    edited.replace(edited.find(" gain 0.05 "), 11, " gain 0.050 ");

    struct Case {
        const char* what;
        std::string text;
        bool carried, rescaled, axis;
    } cases[] = {
        {"as written", line + "\r\n" + pairs, true, false, true},
        {"a fraction", line + "\r\n" + pairs + "240000.5 0.5\r\n", true, true, false},
        {"beyond 16 bits", line + "\r\n" + pairs + "240000.5 32768\r\n", true, true, false},
        {"a point more", line + "\r\n" + pairs + "240000.5 7\r\n", true, false, false},
        {"edited", edited + "\r\n" + pairs, false, true, false},
        {"cut", line.substr(0, line.size() - 4) + "\n" + pairs, false, true, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(read(c.text)) << c.what;
        const auto& s = store();
        const SpectrumHeader& got = s.SPHEAD;
        EXPECT_EQ(field_text(h.COMENT), field_text(got.COMENT)) << c.what;
        EXPECT_EQ(c.carried ? 2002 : 2000, got.IYEAR) << c.what;
        EXPECT_EQ(c.carried ? h.PTSSEC : 51.0f, got.PTSSEC) << c.what;
        if (c.carried) {
            EXPECT_EQ(51, got.IMINUT) << c.what;
            EXPECT_EQ(-3, got.IHOUR) << c.what;
            EXPECT_EQ(field_text(h.LAMP), field_text(got.LAMP)) << c.what;
            EXPECT_EQ(field_text(h.SAMPLE), field_text(got.SAMPLE)) << c.what;
            EXPECT_EQ(field_text(h.NDELAV), field_text(got.NDELAV)) << c.what;
            for (const auto& [want, have] : {std::pair{h.VKMLO, got.VKMLO},
                                             {h.GAIN, got.GAIN},
                                             {h.PRESS, got.PRESS},
                                             {h.PHASE, got.PHASE},
                                             {h.TCONST, got.TCONST},
                                             {h.FDEV, got.FDEV}})
                EXPECT_EQ(std::bit_cast<std::uint32_t>(want), std::bit_cast<std::uint32_t>(have))
                    << c.what;
        }
        if (c.rescaled) {
            EXPECT_EQ(-10000, s.IYMIN) << c.what;
            EXPECT_EQ(10000, s.IYMAX) << c.what;
            EXPECT_EQ(-10000, s.INTENS[5]) << c.what;
        } else {
            EXPECT_EQ(-4, s.IYMIN) << c.what;
            EXPECT_EQ(30000, s.IYMAX) << c.what;
            EXPECT_EQ(-1, s.INTENS[2]) << c.what;
            EXPECT_EQ(30000, s.INTENS[3]) << c.what;
        }
        EXPECT_EQ(c.axis ? fend : s.FREQ[s.NPTS], s.FEND) << c.what;
        EXPECT_EQ(c.axis ? fstep : (s.FEND - s.FSTART) / (s.NPTS - 1), s.FSTEP) << c.what;
    }
}

// The file is read in blocks of a few megabytes: pairs cut by a block's end,
// pairs over several lines, junk and blank lines must read as from the whole
// text at once, wherever the blocks happen to end.
TEST_F(AsciiRead, BlocksReadLikeTheWholeText) {
    const char* pieces[] = {
        "%d 1.5\n", "%d,\n\n\n  2.25\n",  "junk line %d\n",     "\n\n", "%d\t-3e1 trailing\n",
        "%d 4\r\n", "%d\nnot a number\n", "  %d   0.0625   \n",
    };
    std::string text = "comment\n";
    char line[64];
    int frequency = 0;
    const auto add_pieces = [&](std::size_t up_to) {
        for (std::size_t k = 0; text.size() < up_to; ++k) {
            std::snprintf(line, sizeof line, pieces[(k * 7 + k / 8) % 8], ++frequency);
            text += line;
        }
    };
    // The first block is 4 MiB: end it between the two lines of a pair.
    const std::size_t block = std::size_t(4) << 20;
    add_pieces(block - 64);
    const std::string cut = std::to_string(++frequency) + ",";
    text.append(block - 1 - cut.size() - text.size(), '\n');
    text += cut;
    text += "\n\n 5\n";
    ASSERT_EQ(block, text.find("\n\n 5\n") + 1);
    add_pieces(std::size_t(9) << 20);
    text += "999999999 7"; // no line end at the end of the file

    std::vector<NumberPair> expected;
    PairScanner whole(std::string_view(text).substr(text.find('\n') + 1));
    while (const auto p = whole.next())
        expected.push_back(*p);

    ASSERT_TRUE(read(text));
    const auto& s = store();
    ASSERT_EQ(static_cast<std::int32_t>(expected.size()), s.NPTS);
    for (std::int32_t i = 1; i <= s.NPTS; ++i)
        ASSERT_EQ(expected[static_cast<std::size_t>(i - 1)].x, s.FREQ[i]) << i;
    EXPECT_EQ(999999999.0, s.FEND);
    EXPECT_EQ(10000, s.INTENS[s.NPTS]); // the largest intensity, from the unended last line
}

} // namespace
} // namespace korax
