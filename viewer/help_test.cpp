// The help screen in the two window heights.
#include "testing/test_window.h"
#include "viewer/commands.h"

#include <gtest/gtest.h>

namespace korax {
namespace {

TEST(Help, OnePageOf28LinesIn30Rows) {
    TestWindow tw(800, 540, 30);
    tw.window().set_text_position(1, 1);
    std::int16_t rows = 30;
    HELP(rows);
    EXPECT_EQ("", tw.row(1));
    EXPECT_EQ("_____A V A I L A B L E   O P T I O N S" + std::string(42, '_'), tw.row(2));
    EXPECT_EQ("         A,S - shift screen window over the spectrum", tw.row(4));
    EXPECT_EQ("               All of the above are fast/slow for upper/lower case", tw.row(10));
    EXPECT_EQ(" <HOME><END> - move to beginning/end of spectrum", tw.row(13));
    EXPECT_EQ("           B - baseline subtraction", tw.row(17));
    EXPECT_EQ("       ENTER - exits this help screen / exits KORAX", tw.row(28));
    EXPECT_EQ("", tw.row(29));
    EXPECT_FALSE(tw.screen_contains("Press ENTER"));
    EXPECT_EQ(28, tw.window().text_row());
}

TEST(Help, SeventeenRowsPauseAfterTheFirstPage) {
    TestWindow tw(800, 540, 17);
    tw.window().set_text_position(1, 1);
    std::int16_t rows = 17;
    tw.keys("x"); // not ENTER: the page stays; the test then runs out of keys
    EXPECT_THROW(HELP(rows), RunEnded);
    EXPECT_EQ("               Press ENTER", tw.row(17));
    EXPECT_EQ("         F/^ - manual frequency limits / toggle window height", tw.row(15));

    TestWindow again(800, 540, 17);
    again.window().set_text_position(1, 1);
    again.keys("x\r");
    HELP(rows);
    EXPECT_EQ("       ENTER - exits this help screen / exits KORAX", again.row(17));
    EXPECT_EQ("           = - average of last two measured frequencies", again.row(15));
}

} // namespace
} // namespace korax
