// The PELMO binary reader: header layout, count forms, and what every kind of
// damaged file leads to.
#include "input/pelmo.h"

#include "base/format.h"
#include "input/pelmo_format.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

namespace korax {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

SpectrumHeader sample_header() {
    SpectrumHeader h;
    h.clear();
    set_field(h.COMENT, "OCS around 12 GHz, second pass");
    h.IDAY = 31, h.IMONTH = 12, h.IYEAR = 2050, h.IHOUR = 23, h.IMINUT = 59, h.ISECND = 7;
    set_field(h.LAMP, "BWO-3");
    h.VKMLO = -1.5f, h.VKMHI = 2.25f, h.GRID = 120.5f;
    set_field(h.SAMPLE, "OCS");
    h.PRESS = 12.5f, h.GAIN = 0.05f, h.TCONST = 0.03f, h.PHASE = -45.0f;
    set_field(h.NDELAV, "2,4");
    h.PTSSEC = 51.0f, h.FMOD = 32.5f, h.FDEV = 0.25f;
    return h;
}

struct Layout {
    SpectrumHeader header = sample_header();
    bool long_form = false;
    std::int16_t count_word = 0; // the short form's is the number of intensities
    std::int32_t long_count = 0;
    std::int16_t stored_min = 0, stored_max = 0;
    std::vector<std::int16_t> intensities{5, -3, 7, 1, 2};
    double fstart = 100.0, fend = 100.4, fstep = 0.1;
};

std::vector<unsigned char> pelmo_bytes(const Layout& l) {
    std::vector<unsigned char> b(PELMO_HEADER_BYTES + PELMO_COUNT_BYTES + 2 * l.intensities.size() +
                                 PELMO_AXIS_BYTES);
    unsigned char* p = b.data();
    encode_pelmo_header(l.header,
                        std::span<unsigned char, PELMO_HEADER_BYTES>(p, PELMO_HEADER_BYTES));
    p += PELMO_HEADER_BYTES;
    PelmoCount count;
    if (!l.long_form) {
        count.word = l.count_word ? l.count_word : static_cast<std::int16_t>(l.intensities.size());
        count.lowest = l.stored_min;
        count.highest = l.stored_max;
    } else {
        count.word = l.count_word;
        count.long_count = l.long_count;
    }
    encode_pelmo_count(count, std::span<unsigned char, PELMO_COUNT_BYTES>(p, PELMO_COUNT_BYTES));
    p += PELMO_COUNT_BYTES;
    for (auto y : l.intensities) {
        put_le(p, y);
        p += 2;
    }
    encode_pelmo_axis({l.fstart, l.fend, l.fstep},
                      std::span<unsigned char, PELMO_AXIS_BYTES>(p, PELMO_AXIS_BYTES));
    return b;
}

File file_of(const std::vector<unsigned char>& bytes, std::size_t length) {
    File f(std::tmpfile());
    std::fwrite(bytes.data(), 1, length, f.get());
    std::rewind(f.get());
    return f;
}

class PelmoRead : public ::testing::Test {
  protected:
    void SetUp() override {
        store().reset();
        store().SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
    }
    // The outcome, with fatal ends (RunEnded 1) reported as Fatal.
    PelmoOutcome read(const std::vector<unsigned char>& bytes, std::size_t length) {
        File f = file_of(bytes, length);
        try {
            return read_pelmo(f.get());
        } catch (const RunEnded& e) {
            EXPECT_EQ(1, e.status);
            return PelmoOutcome::Fatal;
        }
    }
    PelmoOutcome read(const std::vector<unsigned char>& bytes) { return read(bytes, bytes.size()); }
    TestWindow w;
};

TEST(PelmoHeader, RoundTripKeepsEveryField) {
    const SpectrumHeader in = sample_header();
    std::array<unsigned char, PELMO_HEADER_BYTES> bytes{};
    encode_pelmo_header(in, bytes);
    // A few fixed offsets, worked out from the layout by hand.
    EXPECT_EQ('O', bytes[0]);
    EXPECT_EQ(31, bytes[72]);
    EXPECT_EQ(0x02, bytes[76]); // 2050 = 0x0802
    EXPECT_EQ(0x08, bytes[77]);
    EXPECT_EQ('B', bytes[84]);
    EXPECT_EQ('O', bytes[102]);
    EXPECT_EQ('2', bytes[138]);

    SpectrumHeader out;
    ASSERT_TRUE(decode_pelmo_header(bytes, out));
    EXPECT_EQ(in.COMENT, out.COMENT);
    EXPECT_EQ(in.LAMP, out.LAMP);
    EXPECT_EQ(in.SAMPLE, out.SAMPLE);
    EXPECT_EQ(in.NDELAV, out.NDELAV);
    EXPECT_EQ(23, out.IHOUR);
    EXPECT_EQ(59, out.IMINUT);
    EXPECT_EQ(7, out.ISECND);
    EXPECT_EQ(-1.5f, out.VKMLO);
    EXPECT_EQ(2.25f, out.VKMHI);
    EXPECT_EQ(120.5f, out.GRID);
    EXPECT_EQ(12.5f, out.PRESS);
    EXPECT_EQ(0.05f, out.GAIN);
    EXPECT_EQ(0.03f, out.TCONST);
    EXPECT_EQ(-45.0f, out.PHASE);
    EXPECT_EQ(51.0f, out.PTSSEC);
    EXPECT_EQ(32.5f, out.FMOD);
    EXPECT_EQ(0.25f, out.FDEV);
}

TEST(PelmoHeader, DateDecidesWhetherItIsPelmo) {
    struct Case {
        std::int16_t day, month, year;
        bool pelmo;
    } cases[] = {{31, 12, 2050, true}, {1, 1, 1980, true},  {1, 1, 1979, false},
                 {1, 13, 2000, false}, {0, 5, 2000, false}, {32, 5, 2000, false},
                 {5, 0, 2000, false},  {5, 5, 2051, false}};
    for (const auto& c : cases) {
        SpectrumHeader h = sample_header();
        h.IDAY = c.day, h.IMONTH = c.month, h.IYEAR = c.year;
        std::array<unsigned char, PELMO_HEADER_BYTES> bytes{};
        encode_pelmo_header(h, bytes);
        SpectrumHeader out;
        EXPECT_EQ(c.pelmo, decode_pelmo_header(bytes, out))
            << c.day << "/" << c.month << "/" << c.year;
    }
}

TEST(PelmoHeader, UnprintableBytesBecomeHash) {
    std::array<unsigned char, PELMO_HEADER_BYTES> bytes{};
    encode_pelmo_header(sample_header(), bytes);
    bytes[0] = 0x01;
    bytes[1] = 0xC8;
    bytes[2] = 127;
    bytes[85] = '\t';
    bytes[103] = 0x80;
    bytes[139] = 0;
    SpectrumHeader out;
    ASSERT_TRUE(decode_pelmo_header(bytes, out));
    EXPECT_EQ("##\x7f ", field_text(out.COMENT).substr(0, 4));
    EXPECT_EQ('#', out.LAMP[1]);
    EXPECT_EQ('#', out.SAMPLE[1]);
    EXPECT_EQ('#', out.NDELAV[1]);
}

TEST_F(PelmoRead, LoadsAxisAndTrueExtremes) {
    Layout l;
    l.stored_min = -100, l.stored_max = 100; // what the file claims
    ASSERT_EQ(PelmoOutcome::Loaded, read(pelmo_bytes(l)));
    const auto& s = store();
    EXPECT_EQ(5, s.NPTS);
    EXPECT_EQ(-3, s.IYMIN);
    EXPECT_EQ(7, s.IYMAX);
    EXPECT_EQ(-3, s.INTENS[2]);
    EXPECT_EQ(2, s.INTENS[5]);
    EXPECT_EQ(100.0, s.FREQ[1]);
    EXPECT_EQ(100.0 + 4.0 * 0.1, s.FREQ[5]);
    EXPECT_EQ(100.4, s.FEND);
    EXPECT_EQ("OCS around 12 GHz, second pass", field_text(s.SPHEAD.COMENT).substr(0, 30));
    // The information screen shows the stored extremes while loading.
    EXPECT_TRUE(w.screen_contains("       5 points, ranging from       -100  to       100"));
    EXPECT_TRUE(w.screen_contains(
        "               frequency from     100.00  to    100.40, step size 0.10000"));
}

TEST_F(PelmoRead, CountForms) {
    Layout l;
    l.intensities.assign(32000, 0);
    l.intensities[31999] = -32768;
    l.intensities[7] = 32767;
    ASSERT_EQ(PelmoOutcome::Loaded, read(pelmo_bytes(l)));
    EXPECT_EQ(32000, store().NPTS);
    EXPECT_EQ(-32768, store().IYMIN);
    EXPECT_EQ(32767, store().IYMAX);

    for (std::int16_t word : {-1, 0, 1}) {
        Layout lf;
        lf.long_form = true;
        lf.count_word = word;
        lf.long_count = 5;
        lf.intensities = {1, 2, 3, 4, 5};
        ASSERT_EQ(PelmoOutcome::Loaded, read(pelmo_bytes(lf))) << word;
        EXPECT_EQ(5, store().NPTS);
        EXPECT_EQ(1, store().IYMIN);
        EXPECT_EQ(5, store().IYMAX);
        // No extremes in the file: the count line stops after the count.
        EXPECT_TRUE(w.screen_contains("       5 points"));
        EXPECT_FALSE(w.screen_contains("ranging from"));
    }
}

TEST_F(PelmoRead, FileCutAtEveryOffset) {
    const auto bytes = pelmo_bytes(Layout{});
    ASSERT_EQ(196u, bytes.size());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const PelmoOutcome got = read(bytes, cut);
        if (cut < 156) {
            EXPECT_EQ(PelmoOutcome::NotPelmo, got) << cut;
            EXPECT_TRUE(w.screen_contains(
                "---- This is not a file in the PELMO binary format: will now try reading it"));
        } else if (cut < 172) {
            EXPECT_EQ(PelmoOutcome::Fatal, got) << cut;
            const std::int64_t point = cut < 162 ? 1 : static_cast<std::int64_t>(cut - 162) / 2 + 1;
            EXPECT_TRUE(w.screen_contains("  PROBLEMS WITH INPUT OF INTENSITIES at pt. " +
                                          fmt_int(point, 8)))
                << cut;
        } else {
            EXPECT_EQ(PelmoOutcome::RejectedAxis, got) << cut;
            EXPECT_TRUE(w.screen_contains("          PROBLEMS WITH FREQUENCY LIMITS:")) << cut;
        }
    }
    EXPECT_EQ(PelmoOutcome::Loaded, read(bytes));
    EXPECT_TRUE(w.front_end.held);
}

TEST_F(PelmoRead, RefusedAxesAndCounts) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double fstart, fend, fstep;
    } axes[] = {{100, 100.4, 0.0}, {100, 100.4, -0.1}, {100, 100, 0.1},   {100, 99, 0.1},
                {nan, 100.4, 0.1}, {100, inf, 0.1},    {100, 100.4, nan}, {1e308, 1.5e308, 1e308}};
    for (const auto& c : axes) {
        Layout l;
        l.fstart = c.fstart, l.fend = c.fend, l.fstep = c.fstep;
        EXPECT_EQ(PelmoOutcome::RejectedAxis, read(pelmo_bytes(l)))
            << c.fstart << " " << c.fend << " " << c.fstep;
        EXPECT_TRUE(w.screen_contains("              in which case try using DRUMEL"));
    }

    for (std::int32_t count : {0, -7, 3}) {
        Layout l;
        l.long_form = true;
        l.count_word = -1;
        l.long_count = count;
        l.intensities.resize(static_cast<std::size_t>(std::max(count, 0)));
        EXPECT_EQ(PelmoOutcome::RejectedAxis, read(pelmo_bytes(l))) << count;
        EXPECT_TRUE(w.screen_contains(" This file holds too few points (" + std::to_string(count) +
                                      ") to be shown: at least 4 are needed"));
    }
    Layout three;
    three.intensities = {1, 2, 3};
    EXPECT_EQ(PelmoOutcome::RejectedAxis, read(pelmo_bytes(three)));
}

TEST_F(PelmoRead, CapacityLimit) {
    Layout over;
    over.long_form = true;
    over.count_word = -1;
    over.long_count = MAXPTS + 1;
    over.intensities.clear();
    EXPECT_EQ(PelmoOutcome::Fatal, read(pelmo_bytes(over)));
    EXPECT_TRUE(w.screen_contains(
        "    3000001 points in spectrum which exceeds present maximum of  3000000"));

    Layout full;
    full.long_form = true;
    full.count_word = -1;
    full.long_count = MAXPTS;
    full.intensities.assign(MAXPTS, 3);
    full.intensities.back() = 4;
    full.fend = 400000.0;
    ASSERT_EQ(PelmoOutcome::Loaded, read(pelmo_bytes(full)));
    EXPECT_EQ(MAXPTS, store().NPTS);
    EXPECT_EQ(4, store().INTENS[MAXPTS]);
    EXPECT_EQ(100.0 + 2999999.0 * 0.1, store().FREQ[MAXPTS]);
}

} // namespace
} // namespace korax
