// The generator's files follow the PELMO byte layout and the text layout.
#include "examples/spectrum_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace korax {
namespace {

template <class T> T at(const std::vector<unsigned char>& bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

TEST(SpectrumMaker, PelmoLayoutShortAndLongCount) {
    for (const std::int64_t points : {std::int64_t{32000}, std::int64_t{32001}}) {
        SpectrumRecipe r;
        r.points = points;
        r.start = 1000.0;
        r.step = 0.25;
        r.sample = "OCS";
        const SyntheticSpectrum s = make_spectrum(r);
        const auto bytes = pelmo_file_bytes(r, s);
        const auto n = static_cast<std::size_t>(points);
        ASSERT_EQ(188 + 2 * n, bytes.size());

        const auto day = at<std::int16_t>(bytes, 72), month = at<std::int16_t>(bytes, 74),
                   year = at<std::int16_t>(bytes, 76);
        EXPECT_TRUE(day >= 1 && day <= 31 && month >= 1 && month <= 12 && year >= 1980 &&
                    year <= 2050);
        EXPECT_EQ("OCS                 ", std::string(bytes.begin() + 102, bytes.begin() + 122));
        if (points == 32000) {
            EXPECT_EQ(32000, at<std::int16_t>(bytes, 156));
            EXPECT_EQ(*std::min_element(s.intens.begin(), s.intens.end()),
                      at<std::int16_t>(bytes, 158));
            EXPECT_EQ(*std::max_element(s.intens.begin(), s.intens.end()),
                      at<std::int16_t>(bytes, 160));
        } else {
            EXPECT_EQ(-1, at<std::int16_t>(bytes, 156));
            EXPECT_EQ(32001, at<std::int32_t>(bytes, 158));
        }
        EXPECT_EQ(s.intens[0], at<std::int16_t>(bytes, 162));
        EXPECT_EQ(s.intens[n - 1], at<std::int16_t>(bytes, 162 + 2 * (n - 1)));
        const std::size_t axis = 162 + 2 * n;
        EXPECT_EQ(1000.0, at<double>(bytes, axis));
        EXPECT_EQ(1000.0 + 0.25 * static_cast<double>(n - 1), at<double>(bytes, axis + 8));
        EXPECT_EQ(0.25, at<double>(bytes, axis + 16));
        EXPECT_EQ(0, at<std::int16_t>(bytes, axis + 24));
    }
}

TEST(SpectrumMaker, SameSeedSameFileOtherSeedOtherFile) {
    SpectrumRecipe r;
    r.points = 5000;
    const auto a = pelmo_file_bytes(r, make_spectrum(r));
    EXPECT_EQ(a, pelmo_file_bytes(r, make_spectrum(r)));
    r.seed = 2;
    EXPECT_NE(a, pelmo_file_bytes(r, make_spectrum(r)));
}

TEST(SpectrumMaker, LineShapeIsTheSecondDerivativeProfile) {
    // One line, no noise, no baseline: it rises to its full height at its
    // centre and dips by a quarter of it on either side, nowhere deeper.
    SpectrumRecipe r;
    r.points = 101;
    r.start = 0.0;
    r.step = 1.0;
    r.lines = 1;
    r.width = 10.0;
    r.noise = 0.0;
    r.drift = 0.0;
    const SyntheticSpectrum s = make_spectrum(r);
    EXPECT_EQ(14000, s.intens[43]); // the strong line sits at 43 % of the range
    EXPECT_EQ(14000, *std::max_element(s.intens.begin(), s.intens.end()));
    const auto lowest = *std::min_element(s.intens.begin(), s.intens.end());
    EXPECT_GE(lowest, -3500);
    EXPECT_LT(lowest, -3400);
}

TEST(SpectrumMaker, TextFileWithUnevenAxis) {
    SpectrumRecipe r;
    r.points = 2000;
    r.start = 241000.0;
    r.step = 0.05;
    r.unevenness = 0.3;
    r.comment = "OCS test";
    std::istringstream in(ascii_file_text(r, make_spectrum(r)));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ("OCS test", line);
    std::vector<double> freq;
    for (double f, y; in >> f >> y;)
        freq.push_back(f);
    ASSERT_EQ(2000u, freq.size());
    EXPECT_EQ(241000.0, freq.front());
    double largest = 0.0;
    for (std::size_t i = 1; i < freq.size(); ++i) {
        ASSERT_GT(freq[i], freq[i - 1]) << i;
        largest = std::max(largest, std::abs(freq[i] - (241000.0 + 0.05 * static_cast<double>(i))));
    }
    // Off the linear axis by more than a tenth of a step, so that the reader
    // resamples it, but never by more than asked.
    EXPECT_GT(largest, 0.1 * 0.05);
    EXPECT_LE(largest, 0.3 * 0.05 + 1e-5);
}

} // namespace
} // namespace korax
