// The GLE control files page by page, against scripts written out by hand.
#include "output/wrigle.h"
#include "testing/test_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korax {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
    auto lines = crlf_lines(text);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::ptrdiff_t(lines.size()));
    return lines;
}

std::vector<std::string> matching(const std::vector<std::string>& lines, std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& l : lines)
        if (l.starts_with(prefix)) found.push_back(l);
    return found;
}

const std::string rule = "!" + std::string(75, '-');

TEST(Wrigle, OneStripPage) {
    const std::string name = "/data/MY_SPEC.001";
    std::vector<GlePage> pages;
    WRIGLE(3, 276, 1.0, 1, 1, name, 13, pages);
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("/data/MY_SPEC1.gle", pages[0].file_name);
    const auto lines = lines_of(pages[0].text);

    const std::vector<std::string> head = {
        rule,
        "!      Plot of spectrum from file:  /data/MY_SPEC.001",
        rule,
        "!",
        "size 29.5 21",
        " ",
        "set lwidth 0.025",
        "set join round",
        " ",
        "amove -5.45  2.00             ",
        "begin graph",
        "    nobox",
        "    size 38.57 20.00          ",
        // The data file lies next to the control file: named without the folder.
        "    d1 bigfile MY_SPEC.dat                                       ",
        "    xaxis  min       3.00 max     276.00 dticks     10.00 dsubticks     1.000",
        "    x2ticks off",
        "    xticks length 0.3",
        "    xsubticks length 0.12",
        "    xlabels hei 0.5 font texcmr",
        "    yaxis min  0.0 max 1.0",
        "    ylabels off",
        "    yticks off",
        "    d1 lstyle 1 smooth",
    };
    const std::vector<std::string> tail = {
        "end graph",
        " ",
        "set font texcmr",
        "set hei 0.7",
        "amove   0.3  19.5                  ",
        "text MY_{\\tt-\\rm}SPEC.001",
        "!",
        rule,
    };
    ASSERT_EQ(head.size() + 16 + tail.size(), lines.size()); // four label groups of four lines
    EXPECT_EQ(head, std::vector(lines.begin(), lines.begin() + std::ptrdiff_t(head.size())));
    EXPECT_EQ(tail, std::vector(lines.end() - std::ptrdiff_t(tail.size()), lines.end()));
    EXPECT_EQ(65u, head[13].size());
    EXPECT_EQ(" xplaces        10", lines[head.size() + 1].substr(0, 18));
}

TEST(Wrigle, SevenStripsThreePerPage) {
    std::vector<GlePage> pages;
    for (int strip = 1; strip <= 7; ++strip)
        WRIGLE(100.0 * (strip - 1), 100.0 * strip, 1.0, strip, 3, "S.001", 1, pages);
    ASSERT_EQ(3u, pages.size());
    EXPECT_EQ("S1.gle", pages[0].file_name);
    EXPECT_EQ("S2.gle", pages[1].file_name);
    EXPECT_EQ("S3.gle", pages[2].file_name);

    const auto first = lines_of(pages[0].text);
    const std::vector<std::string> places = {
        "amove -5.45 14.60             ", "amove   0.3  21.2                  ",
        "amove -5.45  8.20             ", "amove -5.45  1.80             "};
    EXPECT_EQ(places, matching(first, "amove"));
    EXPECT_EQ(3u, matching(first, "    size 38.57  7.40").size());
    EXPECT_EQ(1u, matching(first, "size 29.5 21").size());
    // Strips in order, the title between the first and the second graph.
    EXPECT_EQ((std::vector<std::string>{
                  "    xaxis  min       0.00 max     100.00 dticks     10.00 dsubticks     1.000",
                  "    xaxis  min     100.00 max     200.00 dticks     10.00 dsubticks     1.000",
                  "    xaxis  min     200.00 max     300.00 dticks     10.00 dsubticks     1.000"}),
              matching(first, "    xaxis"));
    EXPECT_EQ(rule, first.front());
    EXPECT_EQ("end graph", first.back());

    const auto last = lines_of(pages[2].text);
    EXPECT_EQ((std::vector<std::string>{"amove -5.45 14.60             ",
                                        "amove   0.3  21.2                  "}),
              matching(last, "amove"));
    EXPECT_EQ(1u, matching(last, "text S.001").size());
    EXPECT_EQ(1u, matching(last, "size 29.5 21").size());
    EXPECT_EQ(rule, last.back());
}

TEST(Wrigle, TwoStripsPerPage) {
    std::vector<GlePage> pages;
    for (int strip = 1; strip <= 3; ++strip)
        WRIGLE(50.0 * strip, 50.0 * strip + 50, 1.0, strip, 2, "T.001", 1, pages);
    ASSERT_EQ(2u, pages.size());
    EXPECT_EQ((std::vector<std::string>{"amove -5.45 11.00             ",
                                        "amove   0.3  20.9                  ",
                                        "amove -5.45  1.80             "}),
              matching(lines_of(pages[0].text), "amove"));
    EXPECT_EQ(2u, matching(lines_of(pages[0].text), "    size 38.57 11.00").size());
}

TEST(Wrigle, NamesAndTitles) {
    EXPECT_EQ("S13.gle", control_file_name("S1", 3));
    EXPECT_EQ("S112.gle", control_file_name("S1", 12));
    EXPECT_EQ("dir/S100.gle", control_file_name("dir/S", 100)); // past 99: still distinct
    EXPECT_EQ("dir/S101.gle", control_file_name("dir/S", 101));

    EXPECT_EQ("MY_{\\tt-\\rm}SPEC_{\\tt-\\rm}A.001", gle_title("/data/x_y/MY_SPEC_A.001"));
    EXPECT_EQ("A_{\\tt-\\rm}B.DAT", gle_title("D:\\SPEC\\A_B.DAT  "));
    EXPECT_EQ("plain.001", gle_title("plain.001"));
    const std::string long_name(70, 'n');
    EXPECT_EQ(long_name + "_{\\tt-\\rm}", gle_title("/d/" + long_name + "_"));

    // A name with accents: its bytes as typed, the data file field padded to
    // 65 characters like any other.
    std::vector<GlePage> pages;
    WRIGLE(3, 276, 1.0, 1, 1,
           "/data/sp\xC3\xA9"
           "c_\xC3\xBC.001",
           14, pages);
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ("/data/sp\xC3\xA9"
              "c_\xC3\xBC"
              "1.gle",
              pages[0].file_name);
    const auto lines = lines_of(pages[0].text);
    const auto data = matching(lines, "    d1 bigfile ");
    ASSERT_EQ(1u, data.size());
    EXPECT_EQ("    d1 bigfile sp\xC3\xA9"
              "c_\xC3\xBC.dat" +
                  std::string(40, ' '),
              data[0]);
    EXPECT_EQ(1u, matching(lines, "text sp\xC3\xA9"
                                  "c_{\\tt-\\rm}\xC3\xBC.001")
                      .size());
}

} // namespace
} // namespace korax
