// The information screen: layout, the gain rule, asterisk fill and the pause
// of a 17-row window.
#include "input/speinf.h"

#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

namespace korax {
namespace {

void fill_store() {
    auto& s = store();
    s.reset();
    auto& h = s.SPHEAD;
    set_field(h.COMENT, "Merged test");
    h.IDAY = 3, h.IMONTH = 11, h.IYEAR = 1994, h.IHOUR = 9, h.IMINUT = 5, h.ISECND = 30;
    set_field(h.LAMP, "L1");
    h.VKMLO = 12.345f, h.VKMHI = -3.5f, h.GRID = 1234567.0f;
    set_field(h.SAMPLE, "OCS");
    h.PRESS = 25.24f, h.GAIN = 2.5f, h.TCONST = 0.3f, h.PHASE = 90.0f;
    set_field(h.NDELAV, "3,16");
    h.PTSSEC = 51.0f, h.FMOD = 40.125f, h.FDEV = 1.5f;
    s.NPTS = 1234;
    s.IYMIN = -10000;
    s.IYMAX = 9999;
    s.FSTART = 12000.5;
    s.FEND = 12123.25;
    s.FSTEP = 0.1;
}

TEST(Speinf, FullScreenLayout) {
    fill_store();
    TestWindow w;
    std::int16_t rows = 30;
    SPEINF(rows);
    const char* expected[] = {
        "                                                            ___/\\_____/\\_/\\____",
        "                                                                |      |  |",
        "",
        "    Merged test",
        "",
        "",
        "",
        "           Time and Date:   9: 5:30,  3/11/1994",
        "",
        "                    Lamp:  L1",
        "          Vkm limits /mV:     12.35-   -3.50",
        "                 Grid /V:  ******",
        "",
        "                  Sample:  OCS",
        "  Sample pressure /mTorr:    25.2",
        "",
        "                Gain /mV:     2.5",
        "        Time constant /s:   0.300",
        "              Phase /deg:    90.0",
        "   N.delay, N.aver@point:   3,16",
        "       Points per second:    51.00",
        "",
        "   Modulation freq. /kHz:    40.125",
        "          deviation /kHz:     1.5",
        "",
        "    1234 points, ranging from     -10000  to      9999",
        "               frequency from   12000.50  to  12123.25, step size 0.10000",
        "",
        "                           Press ENTER to continue",
    };
    for (int r = 1; r <= 29; ++r)
        EXPECT_EQ(expected[r - 1], w.row(r)) << r;
}

TEST(Speinf, GainShownInMillivoltsBelowTheLimit) {
    struct Case {
        float gain;
        const char* shown;
    } cases[] = {{0.05f, "  50.0"}, {0.099f, "  99.0"}, {0.1f, "   0.1"}, {2.5f, "   2.5"}};
    for (const auto& c : cases) {
        fill_store();
        store().SPHEAD.GAIN = c.gain;
        TestWindow w;
        std::int16_t rows = 30;
        SPEINF(rows);
        EXPECT_EQ(std::string("                Gain /mV:  ") + c.shown, w.row(17)) << c.gain;
    }
}

TEST(Speinf, LoadingScreenStopsAfterTheCount) {
    fill_store();
    store().FSTART = store().FEND = 0.0;
    TestWindow w;
    std::int16_t rows = 30;
    SPEINF(rows);
    EXPECT_EQ("    1234 points, ranging from     -10000  to      9999", w.row(26));
    EXPECT_EQ("", w.row(27));
    EXPECT_FALSE(w.screen_contains("Press ENTER"));
}

TEST(Speinf, SeventeenRowsPauseAfterThePressure) {
    fill_store();
    TestWindow w(800, 540, 17);
    std::int16_t rows = 17;
    try {
        SPEINF(rows);
        FAIL() << "did not wait";
    } catch (const RunEnded& e) {
        EXPECT_EQ(2, e.status);
    }
    EXPECT_TRUE(w.screen_contains("  Sample pressure /mTorr:    25.2"));
    EXPECT_TRUE(w.screen_contains("                           Press ENTER "));
    EXPECT_FALSE(w.screen_contains("Gain"));

    TestWindow w2(800, 540, 17);
    w2.keys("x");
    w2.type("");
    SPEINF(rows);
    EXPECT_TRUE(w2.screen_contains("                           Press ENTER to continue"));
    EXPECT_TRUE(w2.screen_contains("                Gain /mV:     2.5"));
}

} // namespace
} // namespace korax
