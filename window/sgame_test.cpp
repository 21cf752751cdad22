// The banner, inspected pixel by pixel off-screen.
#include "window/sgame.h"

#include "testing/test_window.h"

#include <gtest/gtest.h>

namespace korax {
namespace {

class Banner : public ::testing::Test {
  protected:
    void SetUp() override {
        m_window.window().set_text_background(7);
        m_window.window().clear_window();
    }
    void TearDown() override { set_banner_seed(std::nullopt); }
    const Canvas& canvas() { return m_window.window().canvas(); }

    TestWindow m_window;
};

TEST_F(Banner, FillStaysBelowTheTrace) {
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        set_banner_seed(seed);
        m_window.window().clear_window();
        SGAME();
        for (int x = 0; x < 800; ++x) {
            // The trace is held above the bottom row, so the fill runs along it.
            ASSERT_EQ(1, canvas().pixel(x, 539)) << "seed " << seed << " x " << x;
            int top = 0;
            while (top < 540 && canvas().pixel(x, top) != 15)
                ++top;
            ASSERT_LT(top, 539) << "no trace in column " << x;
            for (int y = 0; y < top; ++y)
                ASSERT_EQ(7, canvas().pixel(x, y)) << "seed " << seed << " x " << x << " y " << y;
        }
    }
}

TEST_F(Banner, NewLinesEachTimeButRepeatableFromASeed) {
    set_banner_seed(7);
    SGAME();
    const auto first = canvas().pixels();
    m_window.window().clear_window();
    SGAME();
    EXPECT_NE(first, canvas().pixels());

    set_banner_seed(7);
    m_window.window().clear_window();
    SGAME();
    EXPECT_EQ(first, canvas().pixels());
}

} // namespace
} // namespace korax
