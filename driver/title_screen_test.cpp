// The title screen, inspected pixel by pixel off-screen.
#include "driver/title_screen.h"

#include "driver/config_file.h"
#include "spectrum/store.h"
#include "testing/test_window.h"
#include "window/sgame.h"

#include <gtest/gtest.h>

namespace korax {
namespace {

class TitleScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        store().SCREEN = screen_geometry(800, 540, 30);
        m_window.window().set_text_background(7);
        m_window.window().clear_window();
    }
    void TearDown() override { set_banner_seed(std::nullopt); }
    const Canvas& canvas() { return m_window.window().canvas(); }

    TestWindow m_window;
};

TEST_F(TitleScreen, BandsTitleCapacityAndBanner) {
    set_banner_seed(1);
    draw_title_screen();
    const Canvas& c = canvas();
    EXPECT_EQ(8, c.pixel(1, 1));    // top band
    EXPECT_EQ(15, c.pixel(799, 0)); // its lines reach the right edge
    EXPECT_EQ(15, c.pixel(799, 110));
    EXPECT_EQ(7, c.pixel(400, 111)); // light edge under the top band
    EXPECT_EQ(8, c.pixel(5, 130));   // lower band
    EXPECT_EQ(8, c.pixel(799, 141));
    EXPECT_EQ(0, c.pixel(799, 142)); // dark edge under it
    EXPECT_EQ(7, c.pixel(400, 200)); // nothing leaked into the screen below

    // The title starts at (799 - 620) / 2 = 89.
    int leftmost = 800;
    for (int y = 2; y < 110; ++y)
        for (int x = 0; x < 800; ++x)
            if (c.pixel(x, y) == 11) leftmost = std::min(leftmost, x);
    EXPECT_GE(leftmost, 89);
    EXPECT_LE(leftmost, 89 + 12);

    // Capacity line at row 142 / (539 / 30) -> 8, plus 2, column 65.
    EXPECT_EQ(std::string(64, ' ') + " 3000000 points", m_window.row(10));
    EXPECT_EQ(10, m_window.window().text_row());
    EXPECT_EQ(1, m_window.window().text_column());
    EXPECT_EQ(1, c.pixel(400, 539));
}

} // namespace
} // namespace korax
