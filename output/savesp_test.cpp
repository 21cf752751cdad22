// Saving: the 16-bit scaling, the layout of the file image, and the dialog
// with its overwrite question and refusals.
#include "output/savesp.h"

#include "output/pelmo_image.h"

#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

// Independent little-endian readers for checking file bytes.
int read16(const std::string& b, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<unsigned char>(b[at]) |
                                     (static_cast<unsigned char>(b[at + 1]) << 8));
}
std::int32_t read32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(b[at + std::size_t(k)]);
    return static_cast<std::int32_t>(v);
}
double read64f(const std::string& b, std::size_t at) {
    double d;
    std::memcpy(&d, b.data() + at, 8); // the test machine is little-endian too
    return d;
}
float read32f(const std::string& b, std::size_t at) {
    float f;
    std::memcpy(&f, b.data() + at, 4);
    return f;
}

std::string file_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(SaveScaling, CentringAndCompression) {
    struct Case {
        std::vector<std::int32_t> values;
        std::int32_t mid;
        float factor;
        int stored_lo, stored_hi;
    };
    const Case cases[] = {
        {{-100, 900, 400}, 400, 1.0f, -500, 500},
        {{0, 120000, 60000}, 60000, 0.5f, -30000, 30000},
        {{-7, -3}, -5, 1.0f, -2, 2},              // the midpoint truncates toward zero: -5
        {{-8, -3}, -5, 1.0f, -3, 2},              // (-11) / 2 = -5
        {{0, 60000}, 30000, 1.0f, -30000, 30000}, // exactly 60000 wide: not compressed
    };
    for (const Case& c : cases) {
        const SaveScaling s = save_scaling(c.values);
        EXPECT_EQ(c.mid, s.mid);
        EXPECT_EQ(c.factor, s.factor);
        EXPECT_EQ(c.stored_lo, scaled_intensity(s.lo, s));
        EXPECT_EQ(c.stored_hi, scaled_intensity(s.hi, s));
    }
    // The full 32-bit range neither overflows nor leaves 16 bits.
    const std::vector<std::int32_t> extreme = {INT32_MIN, INT32_MAX};
    const SaveScaling s = save_scaling(extreme);
    EXPECT_EQ(0, s.mid);
    EXPECT_NEAR(-30000, scaled_intensity(INT32_MIN, s), 1);
    EXPECT_NEAR(30000, scaled_intensity(INT32_MAX, s), 1);
}

TEST(PelmoImage, LayoutOfShortAndLongFiles) {
    SpectrumHeader h;
    h.clear();
    set_field(h.COMENT, "comment");
    h.IDAY = 31;
    h.IYEAR = 2050;
    set_field(h.SAMPLE, "OCS");
    h.GAIN = 0.5f;
    h.FDEV = 12.25f;

    for (const std::size_t n : {std::size_t{32000}, std::size_t{32001}, std::size_t{1}}) {
        SCOPED_TRACE(n);
        std::vector<std::int32_t> v(n, 500);
        v[0] = -100;
        if (n > 1) v[1] = 900;
        const SaveScaling s = save_scaling(v);
        const std::string b = pelmo_file_image(h, v, 10.0, 20.0, 0.5, s);
        ASSERT_EQ(188 + 2 * n, b.size());
        EXPECT_EQ("comment", b.substr(0, 7));
        EXPECT_EQ(31, read16(b, 72));
        EXPECT_EQ(2050, read16(b, 76));
        EXPECT_EQ("OCS ", b.substr(102, 4));
        EXPECT_EQ(0.5f, read32f(b, 126));
        EXPECT_EQ(12.25f, read32f(b, 152));
        if (n == 32000) {
            EXPECT_EQ(32000, read16(b, 156));
            EXPECT_EQ(-500, read16(b, 158));
            EXPECT_EQ(500, read16(b, 160));
        } else {
            // 32001 points need the long form; so does a single point, whose
            // count word 1 the reader would take as announcing it.
            EXPECT_EQ(-1, read16(b, 156));
            EXPECT_EQ(std::int32_t(n), read32(b, 158));
        }
        const int first = n > 1 ? -500 : 0;
        EXPECT_EQ(first, read16(b, 162));
        if (n > 1) {
            EXPECT_EQ(500, read16(b, 164));
            EXPECT_EQ(100, read16(b, 166)); // 500 - 400
        }
        const std::size_t f = 162 + 2 * n;
        EXPECT_EQ(10.0, read64f(b, f));
        EXPECT_EQ(20.0, read64f(b, f + 8));
        EXPECT_EQ(0.5, read64f(b, f + 16));
        EXPECT_EQ(0, read16(b, f + 24));
    }
}

class SaveDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/korax-save-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(tmpl));
        dir = tmpl;
        SpectrumStore& s = store();
        s.reset();
        s.FNAME = (dir / "orig.001").string();
        s.NPTS = 4;
        const std::int32_t values[] = {0, 120000, 60000, 30000};
        for (int i = 1; i <= 4; ++i)
            s.INTENS[std::size_t(i)] = values[i - 1];
        s.FSTART = 100;
        s.FEND = 103;
        s.FSTEP = 1;
        s.IYMIN = -1;
        s.IYMAX = 1;
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    fs::path dir;
    TestWindow t;
};

TEST_F(SaveDialog, SavesNextToTheSpectrum) {
    t.type("  new.001");
    t.type("");
    SAVESP();
    const std::string b = file_bytes(dir / "new.001");
    ASSERT_EQ(188u + 8u, b.size());
    EXPECT_EQ(4, read16(b, 156));
    const int expected[] = {-30000, 30000, 0, -15000};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(expected[i], read16(b, 162 + 2 * std::size_t(i)));
    EXPECT_EQ(0, store().IYMIN);
    EXPECT_EQ(120000, store().IYMAX);
    EXPECT_TRUE(t.screen_contains("     Output has been written to " + (dir / "new.001").string()));
    EXPECT_TRUE(t.screen_contains("_____O U T P U T   T O   F I L E_____"));
    EXPECT_TRUE(t.front_end.keys.empty());

    // A name with its full path goes where it says, not next to the spectrum.
    fs::create_directory(dir / "elsewhere");
    t.type((dir / "elsewhere" / "abs.001").string());
    t.type("");
    SAVESP();
    EXPECT_EQ(196u, file_bytes(dir / "elsewhere" / "abs.001").size());
}

TEST_F(SaveDialog, OverwriteQuestion) {
    std::ofstream(dir / "old.001") << "old";
    // N, then a free name: saved under the free name, the old file untouched.
    t.type("old.001");
    t.type("n");
    t.type("free.001");
    t.type("");
    SAVESP();
    EXPECT_TRUE(t.screen_contains("     THIS FILE ALREADY EXISTS, OVERWRITE (Y/N)?  n"));
    EXPECT_TRUE(t.screen_contains(" New file name:  free.001"));
    EXPECT_EQ("old", file_bytes(dir / "old.001"));
    EXPECT_EQ(196u, file_bytes(dir / "free.001").size());

    // ENTER alone returns without saving and leaves the store as it was.
    store().IYMIN = 7;
    t.type("old.001");
    t.type("");
    SAVESP();
    EXPECT_EQ("old", file_bytes(dir / "old.001"));
    EXPECT_EQ(7, store().IYMIN);
    EXPECT_TRUE(t.front_end.keys.empty());

    // Y replaces.
    t.type("old.001");
    t.type("Y");
    t.type("");
    SAVESP();
    EXPECT_EQ(196u, file_bytes(dir / "old.001").size());
}

TEST_F(SaveDialog, AFolderThatCannotTakeTheFileIsReported) {
    // A regular file where the folder should be: no overwrite question (Y would
    // only repeat it); the reason is shown and the name asked again.
    std::ofstream(dir / "plain") << "x";
    store().FNAME = (dir / "plain" / "orig.001").string();
    t.type("new.001");
    t.type(""); // ENTER alone at the repeated name prompt leaves without saving
    SAVESP();
    EXPECT_TRUE(t.screen_contains("Not a directory"));
    EXPECT_FALSE(t.screen_contains("OVERWRITE"));
    EXPECT_TRUE(t.screen_contains(" New file name:  "));
    EXPECT_FALSE(t.screen_contains("Output has been written"));
    EXPECT_TRUE(t.front_end.keys.empty());
}

TEST_F(SaveDialog, ReadOnlyFolderKeepsTheOldFile) {
    std::ofstream(dir / "old.001") << "old";
    fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (::access(dir.c_str(), W_OK) == 0)
        GTEST_SKIP() << "permissions are not enforced for this user";
    t.type("old.001");
    t.type("y");
    t.type("");
    SAVESP();
    EXPECT_TRUE(t.screen_contains("Permission denied"));
    EXPECT_EQ("old", file_bytes(dir / "old.001"));
}

} // namespace
} // namespace korax
