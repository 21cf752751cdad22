// The axis label lines of the GLE strips.
#include "output/wrigle.h"
#include "output/xlab.h"
#include "testing/test_lines.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace korax {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
    return crlf_lines(text);
}

std::string labels(double start, double end, double interval) {
    std::string out;
    strip_labels(start, end, interval, out);
    return out;
}

const std::string no_name = "   \" \"   ";
std::string places(std::initializer_list<const char*> numbers) {
    std::string s = " xplaces ";
    for (const char* n : numbers)
        s += n;
    return s;
}

TEST(Xlab, StripFrom3To276InGroupsOfSeven) {
    // D = 10, first label 10, 27 intervals: k = 6, labels at 10, 70, 130, 190, 250.
    const std::vector<std::string> expected = {
        "!",
        places({"       10", "       20", "       30", "       40", "       50", "       60",
                "       70"}),
        " xnames \"       10\"" + no_name + no_name + no_name + no_name + no_name + "\"       70\"",
        "!",
        "!",
        places({"       80", "       90", "      100", "      110", "      120", "      130",
                "      140"}),
        " xnames " + no_name + no_name + no_name + no_name + no_name + "\"      130\"" + no_name,
        "!",
        "!",
        places({"      150", "      160", "      170", "      180", "      190", "      200",
                "      210"}),
        " xnames " + no_name + no_name + no_name + no_name + "\"      190\"" + no_name + no_name,
        "!",
        "!",
        // 280 lies beyond the strip end: the last group has six positions.
        places({"      220", "      230", "      240", "      250", "      260", "      270"}),
        " xnames " + no_name + no_name + no_name + "\"      250\"" + no_name + no_name,
        "!",
    };
    EXPECT_EQ(expected, lines_of(labels(3, 276, 10)));
}

TEST(Xlab, LabelCountAndFirstPosition) {
    // 5.9 large intervals are too few for labels; exactly 6 get them with k = 2.
    EXPECT_EQ("", labels(3, 62, 10));
    const auto six = lines_of(labels(3, 63, 10));
    ASSERT_EQ(4u, six.size());
    EXPECT_EQ(
        places({"       10", "       20", "       30", "       40", "       50", "       60"}),
        six[1]);
    EXPECT_EQ(" xnames \"       10\"" + no_name + "\"       30\"" + no_name + "\"       50\"" +
                  no_name,
              six[2]);

    // A start on a multiple of D gets its first label one interval later.
    const auto on_multiple = lines_of(labels(20, 100, 10));
    ASSERT_GE(on_multiple.size(), 2u);
    EXPECT_EQ(" xplaces        30", on_multiple[1].substr(0, 18));
}

TEST(Xlab, NumberClassFollowsInterval) {
    struct Case {
        double start, end, interval;
        const char* first_place; // the first xplaces entry
        const char* first_name;  // the first xnames entry, always a label
    };
    const Case cases[] = {
        {0.2, 10.0, 0.5, "      0.5", "\"      0.5\""},   // marker 0.05: one decimal
        {1.0, 1.6, 0.05, "     1.05", "\"     1.05\""},   // two decimals
        {1.0, 1.06, 0.005, "    1.005", "\"    1.005\""}, // three decimals
        {-13, 100, 10, "      -10", "\"      -10\""},     // truncation toward zero
        {2.4, 60, 2.5, "        3", "\"        3\""},     // 2.5 rounded away from zero
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first_place);
        const auto lines = lines_of(labels(c.start, c.end, c.interval));
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(std::string(" xplaces ") + c.first_place, lines[1].substr(0, 18));
        EXPECT_EQ(std::string(" xnames ") + c.first_name, lines[2].substr(0, 19));
    }
}

TEST(Xlab, WholeNumbersRoundHalvesAwayFromZero) {
    std::string out;
    XLAB(2.5, 100, 2.5, 17.5, 2.5, 2, out);
    EXPECT_EQ(places({"        3", "        5", "        8", "       10", "       13", "       15",
                      "       18"}),
              lines_of(out)[1]);
    out.clear();
    XLAB(-17.5, 0, -17.5, -2.5, 2.5, 2, out);
    EXPECT_EQ(places({"      -18", "      -15", "      -13", "      -10", "       -8", "       -5",
                      "       -3"}),
              lines_of(out)[1]);
}

TEST(Xlab, FullFieldsGetASeparatingBlank) {
    std::string out;
    XLAB(123456789, 123456800, 123456789, 123456790, 1, 2, out);
    EXPECT_EQ(" xplaces 123456789 123456790 ", lines_of(out)[1]);
    EXPECT_EQ(" xnames \"123456789\"" + no_name, lines_of(out)[2]);
}

TEST(Xlab, PositionsThatStopAdvancingGiveTheFailureText) {
    // At 1e15 adding 0.01 changes nothing: the group would never end.
    const double start = 1e15;
    const auto lines = lines_of(labels(start, start + 0.125, 0.01));
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("!", lines[0]);
    EXPECT_EQ("!", lines[1]);
    EXPECT_EQ("! SORRY - Could not generate xnames/xplaces lines", lines[2]);
    EXPECT_EQ("!", lines[3]);
}

} // namespace
} // namespace korax
