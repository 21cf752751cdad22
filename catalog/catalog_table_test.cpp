// The catalogue table as other programs read it: values kept, 11 columns in
// every row whatever the bytes of the file, an honest status when memory or
// the output fails, and `korax catalog` in memory that long lines do not grow.
#include "catalog/catalog.h"
#include "catalog/catalog_table.h"
#include "testing/test_catalog_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <streambuf>

#include <unistd.h>

// Allocations fail on demand: the test arms a countdown, and the allocation
// it reaches throws std::bad_alloc, once. Disarmed, this is plain malloc.
namespace {
std::atomic<long> g_countdown{-1};
bool g_fired = false;
} // namespace

// The deletes below free what this new took from malloc; inlined, GCC cannot
// see that the pair matches.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    const long n = g_countdown.load(std::memory_order_relaxed);
    if (n >= 0) {
        g_countdown.store(n - 1, std::memory_order_relaxed);
        if (n == 0) {
            g_fired = true;
            throw std::bad_alloc();
        }
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace korax {
namespace {

namespace fs = std::filesystem;

// An output that needs no memory of its own and holds at most N bytes.
template <std::size_t N> struct FixedOutput : std::streambuf {
    char data[N];
    std::ostream stream{this};
    FixedOutput() { setp(data, data + N); }
    std::string text() const { return std::string(pbase(), pptr()); }
};

TEST(CatalogTableText, NumbersKeepTheirValue) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.02, "0.0200"},
        {-4.1061, "-4.1061"},
        {240046.0325, "240046.0325"},
        {1234.56789, "1234.56789"}, // a fifth decimal is kept, not rounded away
        {1e300, "1e+300"},
        {-1e20, "-1e+20"},
        {5e-324, "5e-324"},
        {1.0 / 3, "0.3333333333333333"},
        {-0.0, "-0.0000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, table_number(c.value));
        EXPECT_EQ(c.value, std::strtod(table_number(c.value).c_str(), nullptr));
    }
    EXPECT_EQ("a\\tb\\x00c\\x1b[31m\\\\d\\r\\n\\x7f \xc3\xa9",
              table_text(std::string_view("a\tb\0c\x1b[31m\\d\r\n\x7f \xc3\xa9", 18)));
}

TEST_F(CatalogFile, RowsAreWhatWasReadInElevenColumns) {
    const std::string qn = " 3 1 2       2 1 1      ";
    const std::string text =
        // A fifth decimal, an energy with an exponent, degeneracy 3599, a label
        // with a tab, a NUL and an escape sequence.
        "   1234.56789  0.0100 -3.0000 3     1e300Z99 -28503 303" + qn +
        std::string("a\tb\0c\x1b[31m", 10) + "\n" +
        // In wavenumbers, as the file gives it; quantum numbers with a tab.
        "    2143.2712 -0.0001 -5.0000 3   12.3456  3  28503 303 3\t1 2       2 1 1      \n";
    std::ostringstream out, err;
    ASSERT_EQ(0, write_catalog_table(write("t.cat", text), -INFINITY, INFINITY, out, err))
        << err.str();
    EXPECT_EQ("frequency\tuncertainty\tlog10_intensity\tdegrees_of_freedom\tlower_energy\t"
              "upper_degeneracy\ttag\tqn_format\tupper_state\tlower_state\tlabel\n"
              "1234.56789\t0.0100\t-3.0000\t3\t1e+300\t3599\t-28503\t303\t3,1,2\t2,1,1\t"
              "a\\tb\\x00c\\x1b[31m\n"
              "2143.2712\t-0.0001\t-5.0000\t3\t12.3456\t3\t28503\t303\t3,\\t1,2\t2,1,1\t\n",
              out.str());
    std::istringstream rows(out.str());
    for (std::string row; std::getline(rows, row);)
        EXPECT_EQ(10, std::count(row.begin(), row.end(), '\t')) << row;
}

TEST_F(CatalogFile, RunningOutOfMemoryAnywhereIsReportedNeverThrown) {
    std::string text;
    for (int i = 0; i < 6; ++i)
        text += "  24" + std::to_string(1000 + i) +
                ".0325  0.0051 -4.1061 3   79.7640 41  99001 30320 119      19 118      "
                "some species, v=0\n";
    text += "junk\n";
    const std::string path = write("m.cat", text);
    Catalog untouched;
    untouched.path = "before";
    int failures = 0;
    for (long n = 0;; ++n) {
        FixedOutput<8192> out, err;
        Catalog into = untouched;
        g_fired = false;
        g_countdown = n;
        int status = 0;
        CatalogLoad load;
        ASSERT_NO_THROW(status =
                            write_catalog_table(path, -INFINITY, INFINITY, out.stream, err.stream));
        const bool table_failed = g_fired;
        g_fired = false;
        g_countdown = n;
        ASSERT_NO_THROW(load = read_catalog(path, into));
        const bool load_failed = g_fired;
        g_countdown = -1;
        if (table_failed) {
            ++failures;
            EXPECT_EQ(1, status) << "allocation " << n;
            EXPECT_EQ(0u, err.text().rfind(path + ": ", 0)) << err.text();
            EXPECT_NE(std::string::npos, err.text().find(std::strerror(ENOMEM))) << err.text();
        } else {
            EXPECT_EQ(0, status) << err.text();
        }
        // A load may survive a failure (only its room reserved ahead fails);
        // otherwise it says why and keeps the catalogue it was given.
        if (load.error.empty()) {
            EXPECT_EQ(6u, into.size()) << "allocation " << n;
        } else {
            EXPECT_TRUE(load_failed);
            EXPECT_EQ("cannot be read: " + std::string(std::strerror(ENOMEM)), load.error);
            EXPECT_EQ("before", into.path);
            EXPECT_EQ(0u, into.size());
        }
        if (!table_failed && !load_failed) break;
    }
    EXPECT_GT(failures, 10) << "every allocation of the table was made to fail in turn";
}

TEST_F(CatalogFile, AnOutputThatFailsIsNoSuccess) {
    const std::string path =
        write("ok.cat", "  240046.0325  0.0051 -4.1061 3   79.7640 41  99001 30320 119      19 "
                        "118      \n");
    FixedOutput<64> out; // a full disk after 64 bytes
    FixedOutput<1024> err;
    EXPECT_EQ(1, write_catalog_table(path, -INFINITY, INFINITY, out.stream, err.stream));
    EXPECT_EQ(path + ": 1 lines read, 0 skipped; the table could not be written\n", err.text());
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif
#else
constexpr bool SANITIZED = false;
#endif

// Peak memory of the real `korax catalog`, as GNU time measures it, in KB.
long peak_kb(const fs::path& dir, const std::string& catalogue) {
    const fs::path peak = dir / "peak.txt";
    const std::string command = "/usr/bin/time -f %M -o '" + peak.string() +
                                "' '" KORAX_PROGRAM "' catalog '" + catalogue + "' >'" +
                                (dir / "out.txt").string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return -1;
    std::ifstream in(peak);
    long kb = -1;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
            kb = std::stol(line);
    return kb;
}

TEST_F(CatalogFile, PeakMemoryDoesNotFollowTheLongestLine) {
    if (SANITIZED) GTEST_SKIP() << "the sanitizers' shadow memory would count";
    if (::access("/usr/bin/time", X_OK) != 0) GTEST_SKIP() << "GNU time is not installed";
    std::ifstream example("examples/ocs.cat", std::ios::binary);
    std::ostringstream all;
    all << example.rdbuf();
    const std::string lines = all.str();
    ASSERT_FALSE(lines.empty());
    const std::string small = write("small.cat", lines);
    // The same lines around one line of 32 MB.
    const std::size_t half = lines.find('\n', lines.size() / 2) + 1;
    const std::string long_line = write(
        "long.cat", lines.substr(0, half) + std::string(32 << 20, 'x') + "\n" + lines.substr(half));
    const long small_kb = peak_kb(dir, small), long_kb = peak_kb(dir, long_line);
    ASSERT_GT(small_kb, 0);
    ASSERT_GT(long_kb, 0);
    // The reader keeps one block of 4 MB; the long line must add no more.
    EXPECT_LT(long_kb - small_kb, 8 * 1024) << small_kb << " KB, with the long line " << long_kb;
    std::ifstream table(dir / "out.txt");
    std::size_t rows = 0;
    for (std::string row; std::getline(table, row);)
        ++rows;
    EXPECT_EQ(51u, rows) << "the header and the 50 lines";
}

} // namespace
} // namespace korax
