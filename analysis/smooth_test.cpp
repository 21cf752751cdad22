// Savitzky-Golay smoothing: the coefficients, the mirrored ends, the fast pass
// against the plain order, the prompt, and the passes over the store.
#include "analysis/smooth.h"

#include "analysis/smoothing_passes.h"

#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace korax {
namespace {

// The end rule applied as often as needed: 0 -> 1, n + 1 -> n.
std::int32_t reflect(std::int64_t j, std::int32_t n) {
    while (j < 1 || j > n)
        j = j < 1 ? 1 - j : 2 * std::int64_t(n) + 1 - j;
    return static_cast<std::int32_t>(j);
}

// The plain order: k = -m..m, each term double(y) * double(float coefficient).
std::vector<std::int32_t> reference_pass(const std::vector<std::int32_t>& in, std::int32_t n,
                                         const std::vector<float>& coef) {
    const int m = int(coef.size()) / 2;
    std::vector<std::int32_t> out(std::size_t(n) + 1);
    for (std::int32_t i = 1; i <= n; ++i) {
        double sum = 0;
        for (int k = -m; k <= m; ++k)
            sum += double(in[std::size_t(reflect(i + k, n))]) * double(coef[std::size_t(k + m)]);
        out[std::size_t(i)] = static_cast<std::int32_t>(sum);
    }
    return out;
}

std::vector<float> coefficients(int m) {
    std::vector<float> c(std::size_t(2 * m + 1));
    smoothing_coefficients(m, c);
    return c;
}

TEST(Smooth, FivePointCoefficientsAreTheClassicWeights) {
    const auto c = coefficients(2);
    const double expected[] = {-3, 12, 17, 12, -3};
    for (int k = 0; k < 5; ++k)
        EXPECT_NEAR(expected[k] / 35, c[std::size_t(k)], 1e-7) << k;
    // Any window reproduces a constant: the weights sum to one.
    for (int m : {12, 50, 250}) {
        double sum = 0;
        for (float x : coefficients(m))
            sum += x;
        EXPECT_NEAR(1.0, sum, 1e-5) << m;
    }
}

TEST(Smooth, MirrorIndexRepeatsTheEndPoint) {
    struct Case {
        std::int64_t j;
        std::int32_t n, expected;
    } cases[] = {{0, 10, 1}, {-1, 10, 2},  {-2, 10, 3},   {11, 10, 10}, {12, 10, 9},
                 {5, 10, 5}, {-9, 10, 10}, {-10, 10, 10}, {-11, 10, 9}, {25, 10, 5},
                 {0, 1, 1},  {-7, 1, 1},   {9, 1, 1},     {-3, 2, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, mirror_index(c.j, c.n)) << c.j << " " << c.n;
}

TEST(Smooth, ConstantStaysAndRampIsBentOnlyAtTheEnds) {
    const std::int32_t n = 20;
    const auto c = coefficients(2);
    std::vector<std::int32_t> flat(n + 1, 1000), out(n + 1);
    smooth_pass(flat, out, n, c);
    for (std::int32_t i = 1; i <= n; ++i)
        EXPECT_TRUE(out[i] == 1000 || out[i] == 999) << i;

    std::vector<std::int32_t> ramp(n + 1);
    for (std::int32_t i = 1; i <= n; ++i)
        ramp[i] = 10 * i;
    smooth_pass(ramp, out, n, c);
    for (std::int32_t i = 3; i <= n - 2; ++i)
        EXPECT_NEAR(10 * i, out[i], 1) << i;
    // By hand: point 1 reads points 2,1,1,2,3 -> 10 * 38/35; point 2 reads
    // 1,1,2,3,4 -> 10 * 67/35; point 20 reads 18,19,20,20,19 -> 10 * 697/35.
    EXPECT_EQ(10, out[1]);
    EXPECT_EQ(19, out[2]);
    EXPECT_EQ(199, out[20]);
}

TEST(Smooth, FastPassIsBitIdenticalToThePlainOrder) {
    std::mt19937 random(7);
    // Intensities of ordinary size, whose products with the coefficients are
    // exact, and up to 2^30, whose products round (sums still fit 32 bits).
    for (std::int32_t amplitude : {2000000, 1073741823})
        for (int window : {5, 25, 101, 501}) {
            std::uniform_int_distribution<std::int32_t> value(-amplitude, amplitude);
            const auto c = coefficients(window / 2);
            for (std::int32_t n : {1, 3, 17, 100, 499, 1000, 40037}) {
                std::vector<std::int32_t> in(std::size_t(n) + 1), out(std::size_t(n) + 1);
                for (std::int32_t i = 1; i <= n; ++i)
                    in[std::size_t(i)] = value(random);
                const auto expected = reference_pass(in, n, c);
                for (int threads : {1, 2, 3}) {
                    std::fill(out.begin(), out.end(), 0);
                    smooth_pass_threads(in, out, n, c, threads);
                    ASSERT_EQ(expected, out)
                        << "window " << window << " points " << n << " threads " << threads;
                }
            }
        }
}

// The pass from moving sums gives the plain order's integers where the sums
// land on or next to an integer (constants, ramps, steps), at the largest
// intensities it takes and just past them, and in windows wider than the
// spectrum.
TEST(Smooth, EveryShapeAndSizeGivesThePlainOrdersIntegers) {
    std::mt19937 random(11);
    using Shape = std::int32_t (*)(std::int32_t i, std::int32_t noise);
    const struct {
        const char* name;
        Shape shape;
    } shapes[] = {
        {"constant", [](std::int32_t, std::int32_t) { return 7000; }},
        {"ramp", [](std::int32_t i, std::int32_t) { return 3 * i - 20000; }},
        {"steps", [](std::int32_t i, std::int32_t) { return (i / 37) % 2 ? 32767 : -32768; }},
        {"line on noise",
         [](std::int32_t i, std::int32_t noise) {
             const std::int32_t d = i % 300 - 150;
             return noise + 30000 / (1 + d * d / 9);
         }},
        {"noise", [](std::int32_t, std::int32_t noise) { return noise; }},
    };
    for (std::int32_t amplitude : {40, 32767, 536870911, 536870912})
        for (const auto& shape : shapes)
            for (int window : {5, 31, 301, 501}) {
                std::uniform_int_distribution<std::int32_t> value(-amplitude, amplitude);
                const auto c = coefficients(window / 2);
                for (std::int32_t n : {2, 250, 1201, 120001}) {
                    std::vector<std::int32_t> in(std::size_t(n) + 1), out(std::size_t(n) + 1);
                    for (std::int32_t i = 1; i <= n; ++i) {
                        const std::int64_t v = shape.shape(i, value(random));
                        in[std::size_t(i)] = std::int32_t(
                            std::clamp<std::int64_t>(v, -std::int64_t(amplitude), amplitude));
                    }
                    const auto expected = reference_pass(in, n, c);
                    smooth_pass_threads(in, out, n, c, 2);
                    ASSERT_EQ(expected, out) << shape.name << " amplitude " << amplitude
                                             << " window " << window << " points " << n;
                }
            }
}

TEST(Smooth, PromptRules) {
    struct Case {
        int mode;
        const char* typed;
        bool accepted;
        std::int32_t nsmoot;
        bool fine;
    } cases[] = {
        {1, "3", false, 0, false},   {1, "4", false, 0, false},    {1, "500", false, 0, false},
        {1, "501", false, 0, false}, {1, "0", false, 0, false},    {1, "", false, 0, false},
        {1, "5", true, 5, false},    {1, "499", true, 499, false}, {1, "-7", false, 0, false},
        {1, "x", false, 0, false},   {2, "-7", true, 7, true},     {2, "7", true, 7, false},
        {2, "-4", false, 0, false},  {2, "-3", false, 0, false},   {2, "-499", true, 499, true},
    };
    for (const auto& c : cases) {
        const auto a = accept_smoothing_answer(c.mode, c.typed);
        ASSERT_EQ(c.accepted, a.has_value()) << c.mode << " '" << c.typed << "'";
        if (!a) continue;
        EXPECT_EQ(c.nsmoot, a->nsmoot) << c.typed;
        EXPECT_EQ(c.fine, a->fine) << c.typed;
    }

    struct Window {
        int mode;
        bool fine;
        std::int32_t nsmoot;
        int n, m;
    } windows[] = {{1, false, 25, 25, 12},   {2, true, 7, 15, 7},      {2, true, 249, 499, 249},
                   {2, true, 251, 501, 250}, {2, true, 499, 501, 250}, {3, false, 7, 7, 3}};
    for (const auto& w : windows) {
        const auto win = smoothing_window(w.mode, w.fine, w.nsmoot);
        EXPECT_EQ(w.n, win.n) << w.nsmoot;
        EXPECT_EQ(w.m, win.m) << w.nsmoot;
    }
}

class SmoothStore : public ::testing::Test {
  protected:
    void SetUp() override {
        auto& s = store();
        s.reset();
        s.NPTS = 300;
        std::mt19937 random(3);
        std::uniform_int_distribution<std::int32_t> noise(-50, 50);
        for (std::int32_t i = 1; i <= s.NPTS; ++i) {
            // A sloping baseline with one strong line on it.
            const std::int32_t line =
                (i >= 145 && i <= 155) ? 5000 - 200 * (i - 150) * (i - 150) : 0;
            s.ORIGNL[i] = 100 + 3 * i + noise(random) + std::max(0, line);
            s.INTENS[i] = s.ORIGNL[i];
        }
        original.assign(s.ORIGNL.begin(), s.ORIGNL.begin() + s.NPTS + 1);
    }
    std::vector<std::int32_t> five_passes(std::vector<std::int32_t> y, int window) {
        const auto c = coefficients(window / 2);
        for (int p = 0; p < 5; ++p)
            y = reference_pass(y, store().NPTS, c);
        return y;
    }
    std::vector<std::int32_t> original;
    TestWindow w;
};

TEST_F(SmoothStore, SmoothingOnceKeepsTheInputInWork) {
    std::int32_t mode = 1, lo = 0, hi = 0, nsmoot = 0;
    w.type("4");
    w.type("7");
    SMOOTH(mode, lo, hi, nsmoot);
    auto& s = store();
    EXPECT_EQ(7, nsmoot);
    const auto expected = reference_pass(original, s.NPTS, coefficients(3));
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        ASSERT_EQ(expected[i], s.INTENS[i]) << i;
        ASSERT_EQ(original[i], s.WORK[i]) << i;
    }
    EXPECT_TRUE(w.screen_contains("S M O O T H I N G"));
}

TEST_F(SmoothStore, SubtractionStartsFromTheOriginalEveryTime) {
    auto& s = store();
    // An earlier smoothing enters the baseline but not the result.
    for (std::int32_t i = 1; i <= s.NPTS; ++i)
        s.INTENS[i] = s.ORIGNL[i] + 7;
    std::vector<std::int32_t> input(s.INTENS.begin(), s.INTENS.begin() + s.NPTS + 1);
    std::int32_t mode = 2, lo = 0, hi = 0, nsmoot = 0;
    w.type("51");
    SMOOTH(mode, lo, hi, nsmoot);
    const auto baseline = five_passes(input, 51);
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        ASSERT_EQ(baseline[i], s.WORK[i]) << i;
        ASSERT_EQ(original[i] - baseline[i], s.INTENS[i]) << i;
    }
    EXPECT_TRUE(w.screen_contains("                     Smooth  5"));
    EXPECT_EQ(0, lo);
    EXPECT_EQ(0, hi);
}

TEST_F(SmoothStore, FineControlClipsTheFirstPassIntoTheBand) {
    auto& s = store();
    std::int32_t mode = 2, lo = 0, hi = 0, nsmoot = 0;
    w.type("-51");
    SMOOTH(mode, lo, hi, nsmoot);
    EXPECT_EQ(51, nsmoot);
    EXPECT_EQ(-1, lo);
    EXPECT_EQ(-1, hi);
    const auto preliminary = five_passes(original, 103);
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        ASSERT_EQ(preliminary[i], s.BASLIN[i]) << i;
        ASSERT_EQ(original[i], s.INTENS[i]) << "INTENS unchanged at " << i;
    }

    mode = 3;
    lo = -40;
    hi = 60;
    SMOOTH(mode, lo, hi, nsmoot);
    std::vector<std::int32_t> clipped(original);
    for (std::int32_t i = 1; i <= s.NPTS; ++i)
        clipped[i] = std::max(preliminary[i] + lo, std::min(original[i], preliminary[i] + hi));
    const auto baseline = five_passes(clipped, 51);
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        ASSERT_EQ(baseline[i], s.WORK[i]) << i;
        ASSERT_EQ(original[i] - baseline[i], s.INTENS[i]) << i;
    }
    // The strong line is held down to the band: the baseline stays far below it.
    EXPECT_LT(s.WORK[150], original[150] - 3000);
}

} // namespace
} // namespace korax
