// Stick heights, the searches over several catalogues (ties, ends, thresholds)
// and the sticks as they land on the canvas.
#include "catalog/catalog.h"
#include "catalog/overlay.h"

#include "base/format.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace korax {
namespace {

Catalog make_catalog(std::vector<std::pair<double, float>> freq_lg) {
    std::vector<PredictedLine> lines;
    for (auto [f, lg] : freq_lg) {
        PredictedLine l;
        l.freq = f;
        l.lgint = lg;
        l.qnfmt = 101;
        l.qn_text.fill(' ');
        lines.push_back(l);
    }
    Catalog c;
    c.set_lines(std::move(lines), {""});
    return c;
}

TEST(Overlay, StickHeights) {
    struct Case {
        double lg, lg_max;
        StickScale scale;
        double fraction;
    } cases[] = {
        {-3, -3, StickScale::Linear, 1.0},       {-4, -3, StickScale::Linear, 0.1},
        {-5, -3, StickScale::Linear, 0.01},      {-3, -3, StickScale::Logarithmic, 1.0},
        {-6, -3, StickScale::Logarithmic, 0.5},  {-9, -3, StickScale::Logarithmic, 0.0},
        {-20, -3, StickScale::Logarithmic, 0.0}, // below the shown decades: not negative
        {-2, -3, StickScale::Linear, 1.0},       // stronger than the "strongest": clipped
        {NAN, -3, StickScale::Linear, 1.0},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(c.fraction, stick_fraction(c.lg, c.lg_max, c.scale), 1e-12) << c.lg;
    // Clipped to the plot, and never less than one pixel.
    EXPECT_EQ(400, stick_pixels(1.0, 400));
    EXPECT_EQ(400, stick_pixels(7.0, 400));
    EXPECT_EQ(1, stick_pixels(0.0, 400));
    EXPECT_EQ(40, stick_pixels(0.1, 400));
    EXPECT_EQ(0, stick_pixels(0.5, 0));
}

TEST(Overlay, NearestPredictionAndItsTies) {
    CatalogSession s;
    s.add(make_catalog({{100.0, -5}, {102.0, -4}, {104.0, -6}}));
    s.add(make_catalog({{98.0, -3}, {102.0, -2}, {102.0, -1}, {106.0, -6}}));
    struct Case {
        double f;
        LineRef want;
    } cases[] = {
        {100.4, {0, 0}},
        {99.0, {1, 0}},  // equally far from 98 and 100: the stronger, catalogue 2's 98
        {103.0, {1, 2}}, // 102 and 104 equally far; of the three at 102 the strongest
        {101.0, {1, 2}}, // 100 (-5) and 102 (-1): the stronger
        {0.0, {1, 0}},   // below everything
        {1e9, {1, 3}},   // above everything
    };
    for (const auto& c : cases) {
        auto r = nearest_prediction(s, c.f);
        ASSERT_TRUE(r) << c.f;
        EXPECT_EQ(c.want, *r) << c.f;
    }
    // Within a tolerance, nearest first, then stronger.
    auto found = predictions_within(s, 101.0, 1.0);
    std::vector<LineRef> want = {{1, 2}, {1, 1}, {0, 1}, {0, 0}};
    EXPECT_EQ(want, found);
    EXPECT_TRUE(predictions_within(s, 101.0, 0.5).empty());
    EXPECT_FALSE(nearest_prediction(CatalogSession{}, 5.0));
}

TEST(Overlay, CandidatesRankedByScoreThenIntensity) {
    // freq, unc, lgint: measured at 100.0 +- 0.03.
    const struct {
        double freq;
        float unc, lg;
    } lines[] = {
        {100.10, 0.04f, -3}, // 0.10 / 0.05 = 2.0
        {99.96, 0.00f, -5},  // 0.04 / 0.03 = 1.3: nearer in score, weak
        {100.05, 0.0f, -6},  // 1.7
        {100.30, 0.40f, -2}, // 0.30 / 0.401 = 0.7: far, but loosely predicted
        {99.94, 0.00f, -4},  // 2.0, as the first, but weaker
    };
    std::vector<PredictedLine> v;
    for (const auto& l : lines) {
        PredictedLine p;
        p.freq = l.freq;
        p.unc = l.unc;
        p.lgint = l.lg;
        p.qnfmt = 101;
        p.qn_text.fill(' ');
        v.push_back(p);
    }
    std::sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.freq < b.freq; });
    Catalog c;
    c.set_lines(std::move(v), {""});
    CatalogSession s;
    s.add(std::move(c));
    const auto found = predictions_within(s, 100.0, 1.0);
    ASSERT_EQ(5u, found.size());
    std::vector<double> order;
    for (const auto& r : rank_predictions(s, found, 100.0, 0.03))
        order.push_back(s.frequency(r.line));
    EXPECT_EQ((std::vector<double>{100.30, 99.96, 100.05, 100.10, 99.94}), order);
    const auto ranked = rank_predictions(s, found, 100.0, 0.03);
    EXPECT_NEAR(0.3 / std::hypot(0.4, 0.03), ranked[0].score, 1e-6);
    // Without any uncertainty the score is |o-c| itself.
    EXPECT_NEAR(0.04, rank_predictions(s, found, 100.0, 0.0)[0].score, 1e-6);
}

TEST(Overlay, NextAndPreviousAcrossCataloguesAndAtTheEnds) {
    CatalogSession s;
    s.add(make_catalog({{10, -5}, {30, -1}, {50, -5}}));
    s.add(make_catalog({{20, -5}, {30, -5}, {40, -2}, {200, 0}}));
    auto freq = [&](std::optional<LineRef> r) { return r ? s.line(*r).freq : -1.0; };
    const double low = 5, high = 100; // the spectrum
    const double any = -1e30;
    EXPECT_EQ(20, freq(adjacent_prediction(s, 10, false, low, high, any)));
    EXPECT_EQ(30, freq(adjacent_prediction(s, 20, false, low, high, any)));
    EXPECT_EQ(40, freq(adjacent_prediction(s, 30, false, low, high, any))) << "strictly above";
    EXPECT_EQ(50, freq(adjacent_prediction(s, 40, false, low, high, any)));
    EXPECT_EQ(-1, freq(adjacent_prediction(s, 50, false, low, high, any))) << "200 lies beyond";
    EXPECT_EQ(40, freq(adjacent_prediction(s, 50, true, low, high, any)));
    EXPECT_EQ(10, freq(adjacent_prediction(s, 20, true, low, high, any)));
    EXPECT_EQ(-1, freq(adjacent_prediction(s, 10, true, low, high, any)));
    EXPECT_EQ(-1, freq(adjacent_prediction(s, 10, true, 15, high, any))) << "10 lies below";
    // Above a threshold only.
    EXPECT_EQ(30, freq(adjacent_prediction(s, 0, false, low, high, -2)));
    EXPECT_EQ(40, freq(adjacent_prediction(s, 30, false, low, high, -2)));
    EXPECT_EQ(-1, freq(adjacent_prediction(s, 40, false, low, high, -2)));
    EXPECT_EQ(30, freq(adjacent_prediction(s, 40, true, low, high, -2)));
    EXPECT_EQ(200, freq(adjacent_prediction(s, 40, false, low, 1000, -0.5)));
}

TEST(Overlay, IdentificationRow) {
    CatalogSession s;
    Catalog c = make_catalog({{240046.0325, -4.1061f}});
    auto lines = c.lines();
    lines[0].unc = 0.0051f;
    lines[0].qnfmt = 303;
    std::string qn = "20 119      19 118      ";
    std::copy(qn.begin(), qn.end(), lines[0].qn_text.begin());
    lines[0].label = 1;
    c.set_lines(lines, {"", "OCS"});
    s.add(c);
    const std::string plain = identification_row(s, {0, 0}, std::nullopt);
    const std::string measured = identification_row(s, {0, 0}, 240046.0297);
    EXPECT_EQ(80u, plain.size());
    EXPECT_EQ(80u, measured.size());
    EXPECT_EQ("1:  240046.0325 +- 0.0051  lg -4.1061  20 1 19 <- 19 1 18  OCS", trim_right(plain));
    EXPECT_EQ("1:  240046.0325 +- 0.0051  lg -4.1061  o-c  -0.0028  20 1 19 <- 19 1 18  OCS",
              trim_right(measured));
}

TEST(Overlay, IdentificationRowInEitherUnit) {
    // One MHz line and one cm-1 line, as the reader keeps them (in MHz); the
    // second a laboratory frequency with half-integer quantum numbers.
    auto line = [](double mhz, float unc, bool wavenumbers, bool experimental, int fmt,
                   const std::string& qn) {
        PredictedLine l;
        l.freq = mhz;
        l.unc = unc;
        l.lgint = -4.1061f;
        l.qnfmt = static_cast<std::int16_t>(fmt);
        l.qn_text.fill(' ');
        std::copy(qn.begin(), qn.end(), l.qn_text.begin());
        l.given_in_wavenumbers = wavenumbers;
        l.experimental = experimental;
        return l;
    };
    const double c = MHZ_PER_WAVENUMBER;
    Catalog cat;
    cat.set_lines(
        {line(240046.0325, 0.0051f, false, false, 303, "20 119      19 118"),
         line(8.0125 * c, static_cast<float>(0.0001 * c), true, true, 112, " 2 3         1 2")},
        {""});
    CatalogSession s;
    s.add(cat);
    struct Case {
        FrequencyUnit unit;
        std::size_t line;
        std::optional<double> observed;
        const char* row;
    } cases[] = {
        {FrequencyUnit::MHz, 0, 240046.0297,
         "1:  240046.0325 +- 0.0051  lg -4.1061  o-c  -0.0028  20 1 19 <- 19 1 18"},
        // 8.0125 cm-1 = 240208.70697 MHz
        {FrequencyUnit::MHz, 1, 240208.7011,
         "1:  240208.7070 +- 2.9979 MHz<cm-1 exp  lg -4.1061  o-c  -0.0059  2 5/2 <- 1 3/2"},
        {FrequencyUnit::Wavenumber, 1, 8.012488,
         "1:     8.012500 +- 0.000100 cm-1 exp  lg -4.1061  o-c  -0.000012  2 5/2 <- 1 3/2"},
        {FrequencyUnit::Wavenumber, 0, std::nullopt,
         // 240046.0325 MHz = 8.0070737 cm-1
         "1:     8.007074 +- 0.000000 cm-1<MHz  lg -4.1061  20 1 19 <- 19 1 18"},
    };
    for (const auto& k : cases) {
        s.unit = k.unit;
        const std::string row = identification_row(s, {0, k.line}, k.observed);
        EXPECT_EQ(80u, row.size());
        EXPECT_EQ(std::string(k.row), trim_right(row));
    }
}

TEST(Overlay, TheSpectrumsUnitFollowsTheLinesInItsRange) {
    const double c = MHZ_PER_WAVENUMBER;
    CatalogSession s;
    // Rotational lines near 240 GHz and three infrared lines near 2143 cm-1.
    s.add(make_catalog(
        {{240016.9, -4}, {240046.0, -4}, {2143.0 * c, -3}, {2143.3 * c, -3}, {2143.6 * c, -3}}));
    struct Case {
        double first, last;
        FrequencyUnit unit;
    } cases[] = {
        {240000, 240100, FrequencyUnit::MHz},        // two lines as MHz, none as cm-1
        {2140, 2150, FrequencyUnit::Wavenumber},     // three as cm-1
        {2150, 2140, FrequencyUnit::Wavenumber},     // a falling axis
        {100, 200, FrequencyUnit::MHz},              // none either way
        {8.0055, 8.0065, FrequencyUnit::Wavenumber}, // 240016.9 MHz read as cm-1
        {1e11, 1.1e11, FrequencyUnit::MHz},          // an axis in Hz
    };
    for (const auto& k : cases) {
        s.choose_unit(k.first, k.last);
        EXPECT_EQ(k.unit, s.unit) << k.first;
    }
    // Searches take and give the spectrum's unit.
    s.choose_unit(2140, 2150);
    auto r = nearest_prediction(s, 2143.29);
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(2143.3, s.frequency(*r));
    EXPECT_EQ(2u, predictions_within(s, 2143.15, 0.2).size());
}

TEST(Overlay, JumpsInWavenumbersVisitEveryLineOnce) {
    // MHz lines over a spectrum in cm-1: one in thirty of these frequencies,
    // taken to cm-1 and back, lands a rounding step below itself, and a jump
    // must still move on from the line the cursor sits on.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> mhz(2000 * MHZ_PER_WAVENUMBER,
                                               3000 * MHZ_PER_WAVENUMBER);
    std::vector<std::pair<double, float>> lines;
    for (int i = 0; i < 2000; ++i)
        lines.push_back({mhz(random), -3});
    CatalogSession s;
    s.add(make_catalog(lines));
    s.unit = FrequencyUnit::Wavenumber;
    std::size_t distinct = 1;
    for (std::size_t i = 1; i < s.catalogs[0].size(); ++i)
        distinct += s.catalogs[0].lines()[i].freq != s.catalogs[0].lines()[i - 1].freq;
    for (bool previous : {false, true}) {
        double f = previous ? 3000 : 1999;
        std::size_t visits = 0;
        while (auto r = adjacent_prediction(s, f, previous, 1999, 3000, -1e30)) {
            ASSERT_TRUE(previous ? s.frequency(*r) < f : s.frequency(*r) > f);
            f = s.frequency(*r);
            ASSERT_LE(++visits, distinct);
        }
        EXPECT_EQ(distinct, visits) << (previous ? "downwards" : "upwards");
    }
}

TEST(Overlay, SticksOnTheCanvas) {
    TestWindow tw(200, 100, 30);
    Window& w = tw.window();
    w.set_plot_area(10, 10, 109, 59); // 100 x 50 pixels
    w.set_text_background(1);
    w.clear_plot_area();
    CatalogSession s;
    // Columns: 1000 + c per pixel column. Two lines share column 20 (the weaker
    // must not shorten the stronger); 2000 lies outside the view.
    s.add(make_catalog({{1020.0, -3}, {1020.2, -5}, {1050.0, -4}, {2000.0, 0}}));
    s.add(make_catalog({{1080.0, -3.5f}}));
    s.assigned[0] = {2};
    draw_overlay(w, s, 1000.0, 1099.0, 100, 50);
    auto height_at = [&](int col, int color) {
        int h = 0;
        for (int y = 59; y >= 10 && tw.window().canvas().pixel(10 + col, y) == color; --y)
            ++h;
        return h;
    };
    EXPECT_EQ(45, height_at(20, 10)) << "the strongest in view: 90 % of the plot";
    EXPECT_EQ(5, height_at(50, 10)) << "a tenth of it";
    EXPECT_EQ(14, height_at(80, 13)) << "second catalogue, its own colour, 10^-0.5";
    EXPECT_EQ(0, height_at(21, 10));
    EXPECT_EQ(1, tw.window().canvas().pixel(10 + 19, 59)) << "nothing between the sticks";
    // The assigned line's crossbar, beside its stick's column too.
    EXPECT_EQ(15, tw.window().canvas().pixel(10 + 47, 59 - 5));
    EXPECT_EQ(15, tw.window().canvas().pixel(10 + 53, 59 - 5));
    // Logarithmic: the line one decade down stands at 5/6 of the tallest.
    s.scale = StickScale::Logarithmic;
    w.clear_plot_area();
    draw_overlay(w, s, 1000.0, 1099.0, 100, 50);
    EXPECT_EQ(38, height_at(50, 10));
    // Zoomed far out: one column holds everything; nothing leaves the plot area.
    w.clear_plot_area();
    draw_overlay(w, s, 0.0, 1e7, 100, 50);
    EXPECT_EQ(10, tw.window().canvas().pixel(10, 59 - 44));
    EXPECT_EQ(1, tw.window().canvas().pixel(10, 59 - 45));
    EXPECT_EQ(13, tw.window().canvas().pixel(10, 59)) << "the second catalogue drawn last";
    for (int x = 0; x < 200; ++x)
        for (int y : {0, 9, 60, 99})
            ASSERT_NE(10, tw.window().canvas().pixel(x, y)) << x << "," << y;
}

// Found by fuzzing: a quantum-number field holding a tab and a NUL cannot be
// decoded, and the identification row carried the control bytes into the text
// grid, where they do not take one cell each.
TEST(Overlay, ControlBytesInQuantumNumbersAreNotShown) {
    const std::string line =
        std::string("    1000.0000  0.0100 -3.0000 3    1.0000  7  99001 303") +
        std::string(" 3\t1\0002       2 1 1      ", 24);
    auto r = parse_catalog_line(line);
    ASSERT_TRUE(r);
    PredictedLine l;
    l.freq = r->freq;
    l.qn_text = r->qn_text;
    l.qnfmt = static_cast<std::int16_t>(r->qnfmt);
    EXPECT_FALSE(quantum_numbers(l).ok);
    EXPECT_EQ("3 ?1 ?2 <- 2 1 1", quantum_number_text(l));
    Catalog c;
    c.set_lines({l}, {""});
    CatalogSession s;
    s.add(c);
    for (char ch : identification_row(s, {0, 0}, std::nullopt))
        EXPECT_GE(static_cast<unsigned char>(ch), 0x20);
}

} // namespace
} // namespace korax
