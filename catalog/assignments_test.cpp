// Records of the assignment file, recognising a transition already in it, and
// writing it safely: a failure at any step leaves the old file and no stray
// temporary behind, and the next try succeeds.
#include "catalog/assignments.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

QuantumNumbers qn(std::vector<int> values) {
    QuantumNumbers q;
    q.n = static_cast<int>(values.size() / 2);
    std::copy(values.begin(), values.end(), q.values.begin());
    return q;
}

TEST(AssignmentRecord, Layout) {
    const std::string gap(18, ' ');
    // Twelve 3-column fields (36 columns), upper state first, then the numbers.
    EXPECT_EQ(" 20  1 19 19  1 18" + gap + "    240046.02970    0.00050   1.0000  ! ocs.001",
              lin_line(qn({20, 1, 19, 19, 1, 18}), 240046.0297, 0.0005, 1.0, "ocs.001",
                       FrequencyUnit::MHz));
    // Unused fields are blank; frequency in 16 columns, uncertainty 11, weight 9.
    EXPECT_EQ("  5  4" + std::string(30, ' ') + "       1234.5000      0.010   0.5000",
              lin_line(qn({5, 4}), 1234.5, 0.01, 0.5, "", FrequencyUnit::MHz));
    EXPECT_EQ("  1  2  3  4  5  6-11  2  3  4  5359     100000.0000      0.050   1.0000  ! a b",
              lin_line(qn({1, 2, 3, 4, 5, 6, -11, 2, 3, 4, 5, 359}), 1e5, 0.05, 1, "a b",
                       FrequencyUnit::MHz));
    // Values the fields cannot hold, or numbers that would not read back or weigh.
    for (auto [v, f, u, w] : {std::tuple{1000, 1.0, 1.0, 1.0},
                              {-100, 1.0, 1.0, 1.0},
                              {1, NAN, 1.0, 1.0},
                              {1, 1.0, INFINITY, 1.0},
                              {1, 1.0, 1.0, NAN},
                              {1, 1.0, 0.0, 1.0},
                              {1, 1.0, -0.001, 1.0}})
        EXPECT_FALSE(lin_line(qn({v, 1}), f, u, w, "", FrequencyUnit::MHz)) << v << " " << u;
}

// A record read as the fitting program reads it: twelve fixed 3-column integer
// fields, then from column 37 free-format numbers (blanks or commas between),
// of which frequency, uncertainty and weight are taken and the rest ignored.
struct FitRecord {
    std::array<long, 12> qn{};
    double freq = 0, unc = 0, weight = 0;
};
std::optional<FitRecord> read_as_fit(const std::string& record) {
    FitRecord r;
    const std::string head = (record + std::string(36, ' ')).substr(0, 36);
    for (std::size_t k = 0; k < 12; ++k) {
        const std::string f = head.substr(3 * k, 3);
        if (f == "   ") continue;
        char* end = nullptr;
        r.qn[k] = std::strtol(f.c_str(), &end, 10);
        if (*end != '\0') return std::nullopt;
    }
    const std::string rest = record.size() > 36 ? record.substr(36) : "";
    const char* p = rest.c_str();
    for (double* value : {&r.freq, &r.unc, &r.weight}) {
        while (*p == ' ' || *p == ',')
            ++p;
        char* end = nullptr;
        *value = std::strtod(p, &end);
        if (end == p) return std::nullopt;
        p = end;
    }
    return r;
}

TEST(AssignmentRecord, NumbersReadBackWithTheirPrecision) {
    const auto mhz = FrequencyUnit::MHz, cm = FrequencyUnit::Wavenumber;
    struct Case {
        double freq, unc;
        FrequencyUnit unit;
        const char *freq_text, *unc_text; // as worked out by hand
    } cases[] = {
        {240046.0297, 0.0005, mhz, "240046.02970", "0.00050"},
        // Errors that 4 decimals made both 0.0001, 2.8 times apart in weight.
        {240046.029712, 0.00006, mhz, "240046.029712", "0.000060"},
        {240046.029712, 0.00014, mhz, "240046.02971", "0.00014"},
        {1234.5, 0.01, mhz, "1234.5000", "0.010"},
        {1234.5, 0.000996, mhz, "1234.5000", "0.0010"}, // rounds up into the next decade
        {1234.5, 0.0996, mhz, "1234.5000", "0.10"},
        {1e5, 2.5, mhz, "100000.0000", "2.5"},
        {1e5, 12.3, mhz, "100000.0000", "12"},
        {1e5, 123.0, mhz, "100000.0000", "1.2E+02"},
        {299792.458, 0.00002, mhz, "299792.458000", "0.000020"},
        // Below 1e-12 the error has an exponent; the frequency stops at 15 digits.
        {240046.0297, 3.2e-13, mhz, "240046.029700000", "3.2E-13"},
        // Wavenumbers: the negative error tells the fitting program.
        {2143.2712, 0.0001, cm, "2143.27120", "-0.00010"},
        {8.0071, 1.5e-7, cm, "8.00710000", "-0.00000015"},
        // A line measured on an axis of step 1e-7 cm-1 to 0.016 points.
        {2000.0000402473, 1.6e-9, cm, "2000.0000402473", "-0.0000000016"},
    };
    for (const auto& c : cases) {
        const auto values = std::vector<int>{20, 1, 19, 19, 1, 18};
        const auto record = lin_line(qn(values), c.freq, c.unc, 1.0, "x.001", c.unit);
        ASSERT_TRUE(record) << c.freq_text;
        const auto r = read_as_fit(*record);
        ASSERT_TRUE(r) << *record;
        EXPECT_EQ(std::strtod(c.freq_text, nullptr), r->freq) << *record;
        EXPECT_EQ(std::strtod(c.unc_text, nullptr), r->unc) << *record;
        EXPECT_EQ(1.0, r->weight);
        EXPECT_NE(std::string::npos, record->find(std::string(" ") + c.freq_text + " ")) << *record;
        EXPECT_NE(std::string::npos, record->find(std::string(" ") + c.unc_text + " "));
        EXPECT_EQ((std::array<long, 12>{20, 1, 19, 19, 1, 18}), r->qn);
        EXPECT_EQ(' ', (*record)[36]) << "the numbers start after column 36";
    }
    // Small weights keep two digits rather than becoming 0.
    auto r = read_as_fit(*lin_line(qn({5, 4}), 1234.5, 0.01, 0.00004, "", mhz));
    ASSERT_TRUE(r);
    EXPECT_EQ(4e-5, r->weight);
    EXPECT_EQ(0.3333, read_as_fit(*lin_line(qn({5, 4}), 1234.5, 0.01, 1.0 / 3, "", mhz))->weight);
}

TEST(AssignmentRecord, EveryRecordReadsBackWithinItsLastDigit) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> log_freq(0, 7), log_unc(-7, 1.9);
    for (int trial = 0; trial < 5000; ++trial) {
        const double freq = std::pow(10.0, log_freq(random));
        const double unc = std::pow(10.0, log_unc(random));
        const auto unit = trial % 2 ? FrequencyUnit::MHz : FrequencyUnit::Wavenumber;
        const auto record = lin_line(qn({3, 1, 2, 2, 1, 1}), freq, unc, 1.0, "", unit);
        ASSERT_TRUE(record) << freq << " " << unc;
        const auto r = read_as_fit(*record);
        ASSERT_TRUE(r) << *record;
        ASSERT_EQ(unit == FrequencyUnit::Wavenumber, r->unc < 0) << *record;
        const double got_unc = std::abs(r->unc);
        // Two significant digits: 10..99 units of the second digit's place.
        const double place = std::pow(10.0, std::floor(std::log10(got_unc)) - 1);
        const double units = got_unc / place;
        ASSERT_NEAR(std::round(units), units, 1e-6) << *record;
        ASSERT_GE(std::round(units), 10) << *record;
        ASSERT_LE(std::round(units), 99) << *record;
        ASSERT_LE(std::abs(got_unc - unc), 0.5 * place * (1 + 1e-9)) << *record;
        // At least 4 decimals, and at least down to the error's second digit.
        const std::string text = record->substr(36);
        const std::size_t dot = text.find('.');
        const std::size_t digits = text.find(' ', dot) - dot - 1;
        ASSERT_GE(digits, 4u) << *record;
        const double step = std::pow(10.0, -static_cast<double>(digits));
        ASSERT_LE(step, place * (1 + 1e-9)) << *record;
        ASSERT_LE(std::abs(r->freq - freq), 0.5 * step * (1 + 1e-9) + freq * 1e-16) << *record;
    }
}

TEST(AssignmentRecord, SameTransition) {
    const std::string record =
        *lin_line(qn({20, 1, 19, 19, 1, 18}), 240046.0297, 0.0005, 1, "x", FrequencyUnit::MHz);
    struct Case {
        std::string record;
        std::vector<int> values;
        bool same;
    } cases[] = {
        {record, {20, 1, 19, 19, 1, 18}, true},
        {record, {20, 1, 19, 19, 1, 17}, false},
        {record, {20, 1, 19, 19, 1}, false}, // 2 numbers per state read differently
        {" 20  1 19 19  1 18  0  0  0  0  0  0  240046.0297  0.0005", {20, 1, 19, 19, 1, 18}, true},
        {" 20  1 19 19  1 18  0  0  0  0  0  1  240046.0297  0.0005",
         {20, 1, 19, 19, 1, 18},
         false},
        {" 20  1 1x 19  1 18", {20, 1, 19, 19, 1, 18}, false},
        {"", {20, 1, 19, 19, 1, 18}, false},
        {"", {}, true}, // an empty record holds no transition but matches "no numbers"
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.same, same_transition(c.record, qn(c.values))) << '"' << c.record << '"';
}

TEST(BlendWeights, NormalisedAndWrittenToSumOne) {
    struct Case {
        std::vector<double> lgint;
        bool equal;
        std::vector<const char*> texts; // as written in the records
    } cases[] = {
        {{-3, -3}, false, {"0.5000", "0.5000"}},
        {{-3, -3 - std::log10(2.0)}, false, {"0.6667", "0.3333"}},
        // Thirds: the unit left over goes to the strongest.
        {{-2, -2, -2}, false, {"0.3334", "0.3333", "0.3333"}},
        {{-4, -2, -3}, false, {"0.0090", "0.9009", "0.0901"}},
        // A line a million times weaker keeps two digits.
        {{-2, -8}, false, {"0.9999990", "0.0000010"}},
        // Far weaker still: the last of 12 places, never 0.
        {{-2, -40}, false, {"0.999999999999", "0.000000000001"}},
        {{-2, -8}, true, {"0.5000", "0.5000"}},
        {{-2, -8, -5}, true, {"0.3334", "0.3333", "0.3333"}},
        {{-1}, false, {"1.0000"}},
    };
    for (const auto& c : cases) {
        const BlendWeights w = blend_weights(c.lgint, c.equal);
        ASSERT_EQ(c.texts.size(), w.values.size());
        double sum = 0;
        long long units = 0;
        for (std::size_t i = 0; i < w.values.size(); ++i) {
            const auto record = lin_line(qn({3, 1, 2, 2, 1, 1}), 1234.5, 0.01, w.values[i], "",
                                         FrequencyUnit::MHz, w.decimals);
            ASSERT_TRUE(record);
            EXPECT_NE(std::string::npos, record->find(std::string(" ") + c.texts[i])) << *record;
            const auto r = read_as_fit(*record);
            ASSERT_TRUE(r);
            sum += r->weight;
            const std::string text = c.texts[i];
            units += std::atoll(text.substr(text.find('.') + 1).c_str()) +
                     (text[0] == '1' ? std::llround(std::pow(10.0, w.decimals)) : 0);
        }
        // The digits add up to exactly 1; as doubles, to 1 within rounding.
        EXPECT_EQ(std::llround(std::pow(10.0, w.decimals)), units) << c.texts[0];
        EXPECT_NEAR(1.0, sum, 1e-14) << c.texts[0];
    }
    // Weights read from a file, normalised again: 0 or garbage shares equally.
    EXPECT_EQ((std::vector<double>{0.75, 0.25}), normalised_weights({0.3, 0.1}).values);
    EXPECT_EQ((std::vector<double>{0.5, 0.5}), normalised_weights({0, NAN}).values);
}

class AssignmentFileTest : public ::testing::Test {
  protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("korax_lin_test_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }
    std::string contents(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    std::size_t entries() {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
    }
};

// A record of 6 0 6 <- 5 0 5 and one of 7 0 7 <- 6 0 6.
const std::string R6 = "  6  0  6  5  0  5                        300.0100 0.01 1";
const std::string R7 = "  7  0  7  6  0  6                          1500.01 0.01 1  ! a.001";

TEST_F(AssignmentFileTest, WhatAnAssignmentFileMayHold) {
    ASSERT_EQ(0, ::mkfifo((dir / "fifo.lin").c_str(), 0644));
    fs::create_directory(dir / "folder.lin");
    const struct {
        std::string text;
        std::string error; // empty: read
        std::size_t lines;
    } table[] = {
        {R6 + "\r\n! a comment\n\n   \t\n" + R7, "", 5},
        {"", "", 0},
        // Commas between the numbers, as the fitting program reads them.
        {"  6  0  6  5  0  5                  300.01,0.01,.25\n", "", 1},
        {"comment of a spectrum\n240000.0 12\n", "line 1 is neither a record nor a comment", 1},
        {R6 + "\n240000.0 12\n", "line 2 is neither a record nor a comment", 2},
        {R6 + "\n  6  0  6  5  0  5\n", "line 2 is neither a record nor a comment", 2},
        {std::string("\x01\x02\0\0PELMO", 9), "line 1 holds binary bytes", 1},
        {R6 + "\r" + R7 + "\n", "line 1 holds binary bytes", 1},
        {R6 + "\n" + std::string(MAX_ASSIGNMENT_LINE + 2, ' '), "line 2 is longer than 65536 bytes",
         1},
    };
    for (const auto& row : table) {
        std::ofstream(dir / "a.lin", std::ios::binary) << row.text;
        std::size_t seen = 0;
        const AssignmentScan scan =
            scan_assignments((dir / "a.lin").string(), [&](std::string_view, std::string_view) {
                ++seen;
                return true;
            });
        EXPECT_TRUE(scan.exists);
        EXPECT_EQ(row.lines, scan.lines) << row.text.substr(0, 40);
        if (row.error.empty()) {
            EXPECT_EQ("", scan.error);
            EXPECT_EQ(row.lines, seen);
        } else {
            EXPECT_EQ("not an assignment file: " + row.error, scan.error);
        }
    }
    EXPECT_FALSE(scan_assignments((dir / "none.lin").string()).exists);
    EXPECT_EQ("", scan_assignments((dir / "none.lin").string()).error) << "a new file";
    EXPECT_EQ("not a regular file", scan_assignments((dir / "fifo.lin").string()).error);
    EXPECT_EQ("not a regular file", scan_assignments((dir / "folder.lin").string()).error);
}

TEST_F(AssignmentFileTest, EveryOtherByteIsKept) {
    const fs::path file = dir / "a.lin";
    const std::string path = file.string();
    const std::string head = "! mixed line ends, the last line without one\r\n" + R6 + "\n   \r\n";
    std::ofstream(file, std::ios::binary) << head << R7;
    const std::string record = "  8  0  8  7  0  7                          499.5000 0.02 1";

    // A new record starts a line of its own, with the first line's end.
    AssignOutcome done = write_assignment(path, qn({8, 0, 8, 7, 0, 7}), record, false);
    ASSERT_EQ(AssignStatus::Written, done.status) << done.text;
    EXPECT_FALSE(done.replaced);
    EXPECT_EQ(head + R7 + "\r\n" + record + "\r\n", contents(file));

    // A transition already there: nothing written without the yes...
    const std::string before = contents(file);
    done = write_assignment(path, qn({6, 0, 6, 5, 0, 5}), record, false);
    EXPECT_EQ(AssignStatus::AssignedAlready, done.status);
    EXPECT_EQ(R6, done.line);
    EXPECT_EQ(before, contents(file));
    // ...and with it the line takes the record, keeping its own line end.
    done = write_assignment(path, qn({6, 0, 6, 5, 0, 5}), "  6  0  6  5  0  5   new", true);
    ASSERT_EQ(AssignStatus::Written, done.status);
    EXPECT_TRUE(done.replaced);
    std::string expected = before;
    expected.replace(expected.find(R6), R6.size(), "  6  0  6  5  0  5   new");
    EXPECT_EQ(expected, contents(file));
    EXPECT_EQ(1u, entries()) << "no temporary and no lock file left";
}

TEST_F(AssignmentFileTest, FailedWritesLeaveTheOldFile) {
    const fs::path file = dir / "a.lin";
    std::string old;
    for (int i = 0; i < 2000; ++i)
        old += R7 + "\r\n";
    std::ofstream(file, std::ios::binary) << old;
    const QuantumNumbers q = qn({8, 0, 8, 7, 0, 7});
    const std::string record = "  8  0  8  7  0  7                          499.5000 0.02 1";

    // A missing folder, a name that is a folder, and one that is not a file
    // of records.
    fs::create_directory(dir / "sub.lin");
    std::ofstream(dir / "spectrum.txt") << "a spectrum\n240000.0 12\n";
    for (const char* name : {"no/a.lin", "sub.lin", "spectrum.txt"})
        EXPECT_EQ(AssignStatus::Failed,
                  write_assignment((dir / name).string(), q, record, false).status)
            << name;
    EXPECT_EQ("a spectrum\n240000.0 12\n", contents(dir / "spectrum.txt"));
    fs::remove(dir / "sub.lin");
    fs::remove(dir / "spectrum.txt");

    // A full disk, made real with a file size limit.
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    const AssignOutcome full = write_assignment(file.string(), q, record, false);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(AssignStatus::Failed, full.status);
    EXPECT_EQ(std::strerror(EFBIG), full.text);
    EXPECT_EQ(old, contents(file));

    // A folder that takes no new files (the temporary cannot be made).
    if (::geteuid() != 0) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(AssignStatus::Failed, write_assignment(file.string(), q, record, false).status);
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_EQ(old, contents(file));
    }
    EXPECT_EQ(1u, entries()) << "no temporary left behind";

    // And the retry works.
    EXPECT_EQ(AssignStatus::Written, write_assignment(file.string(), q, record, false).status);
    EXPECT_EQ(old + record + "\r\n", contents(file));
    EXPECT_EQ(1u, entries());
}

// Blends as they are found in files, also ones written by other programs:
// adjacent records (comments and blank lines between them count for nothing)
// with one frequency and weights below 1.
TEST_F(AssignmentFileTest, BlendsRecognisedInAFile) {
    const std::string a = "  6  0  6  5  0  5", b = "  7  0  7  6  0  6", c = "  8  0  8  7  0  7";
    const std::string pad(18, ' ');
    struct Case {
        std::string file;
        std::size_t blend; // of 6 0 6 <- 5 0 5
    } cases[] = {
        {a + pad + " 300.01 0.01 0.5\n" + b + pad + " 300.01 0.01 0.5\n", 2},
        // Another program's layout: commas, a bare exponent, CR LF.
        {a + pad + "300.01,0.01,.25\r\n" + b + pad + " 3.0001E2 0.02 0.75\r\n", 2},
        {"! first\n" + a + pad + " 300.01 0.01 0.2\n\n! between\n" + b + pad +
             " 300.01 0.01 0.3\n" + c + pad + " 300.01 0.01 0.5\n",
         3},
        // A weight of 1 is a line of its own, however near.
        {a + pad + " 300.01 0.01 1\n" + b + pad + " 300.01 0.01 1\n", 1},
        {a + pad + " 300.01 0.01\n" + b + pad + " 300.01 0.01\n", 1}, // no weight: 1
        {a + pad + " 300.01 0.01 0.5\n" + b + pad + " 300.02 0.01 0.5\n", 1},
        // Another record between them parts them.
        {a + pad + " 300.01 0.01 0.5\n" + c + pad + " 500 0.01 1\n" + b + pad +
             " 300.01 0.01 0.5\n",
         1},
        // The blend after a record of the same frequency with weight 1.
        {c + pad + " 300.01 0.01 1\n" + b + pad + " 300.01 0.01 0.5\n" + a + pad +
             " 300.01 0.01 0.5\n",
         2},
    };
    const fs::path file = dir / "a.lin";
    for (const auto& row : cases) {
        std::ofstream(file, std::ios::binary) << row.file;
        const AssignOutcome done =
            write_assignment(file.string(), qn({6, 0, 6, 5, 0, 5}), "x", false);
        EXPECT_EQ(AssignStatus::AssignedAlready, done.status) << row.file;
        EXPECT_EQ(row.blend, done.blend) << row.file;
    }
}

// A blend written, measured again through one of its records, and losing
// records: the file byte for byte.
// A second blend of the very frequency of the last one would join it, weights
// adding up to 2: refused, the file as it was; a line of weight 1 stays apart.
TEST_F(AssignmentFileTest, NoBlendGrowsPastWeightOne) {
    const fs::path file = dir / "a.lin";
    const std::string path = file.string();
    const auto rec = [](const QuantumNumbers& q, double w) {
        return *lin_line(q, 300.0, 0.002, w, "s.001", FrequencyUnit::MHz);
    };
    const QuantumNumbers q6 = qn({6, 0, 6, 5, 0, 5}), q7 = qn({7, 0, 7, 6, 0, 6}),
                         q8 = qn({8, 0, 8, 7, 0, 7}), q9 = qn({9, 0, 9, 8, 0, 8});
    const std::string before = rec(q6, 0.75) + "\n! note\n" + rec(q8, 0.25) + "\n";
    std::ofstream(file, std::ios::binary) << before;
    const AssignOutcome done =
        write_assignments(path, {{q7, rec(q7, 0.5)}, {q9, rec(q9, 0.5)}}, false);
    EXPECT_EQ(AssignStatus::Failed, done.status);
    EXPECT_NE(std::string::npos, done.text.find("assign all in one T")) << done.text;
    EXPECT_EQ(before, contents(file));
    EXPECT_EQ(1u, entries()); // no temporary left
    ASSERT_EQ(AssignStatus::Written, write_assignment(path, q7, rec(q7, 1.0), false).status);
    EXPECT_EQ(before + rec(q7, 1.0) + "\n", contents(file));
}

TEST_F(AssignmentFileTest, BlendWrittenUpdatedAndRemoved) {
    const fs::path file = dir / "a.lin";
    const std::string path = file.string();
    const auto rec = [](const QuantumNumbers& q, double f, double w, int decimals = 4) {
        return *lin_line(q, f, 0.002, w, "s.001", FrequencyUnit::MHz, decimals);
    };
    const QuantumNumbers q6 = qn({6, 0, 6, 5, 0, 5}), q7 = qn({7, 0, 7, 6, 0, 6}),
                         q8 = qn({8, 0, 8, 7, 0, 7});
    std::ofstream(file, std::ios::binary) << "! head\n" << R7 << "\n";
    ASSERT_EQ(
        AssignStatus::Written,
        write_assignments(path, {{q6, rec(q6, 300.0, 0.75)}, {q8, rec(q8, 300.0, 0.25)}}, false)
            .status);
    EXPECT_EQ("! head\n" + R7 + "\n" + rec(q6, 300.0, 0.75) + "\n" + rec(q8, 300.0, 0.25) + "\n",
              contents(file));

    // 8 0 8 measured again: both records take its frequency, each its weight.
    AssignOutcome done = write_assignment(path, q8, rec(q8, 300.004, 1.0), false);
    EXPECT_EQ(AssignStatus::AssignedAlready, done.status);
    EXPECT_EQ(2u, done.blend);
    done = write_assignment(path, q8, rec(q8, 300.004, 1.0), true);
    ASSERT_EQ(AssignStatus::Written, done.status);
    EXPECT_EQ(2u, done.blend);
    EXPECT_EQ("! head\n" + R7 + "\n" + rec(q6, 300.004, 0.75) + "\n" + rec(q8, 300.004, 0.25) +
                  "\n",
              contents(file));

    // A new blend taking 7 0 7 from its line and 6 0 6 from the blend: the
    // blend's rest stands alone with weight 1, the new blend where 7 0 7 was.
    done = write_assignments(path, {{q7, rec(q7, 400.0, 0.5)}, {q6, rec(q6, 400.0, 0.5)}}, true);
    ASSERT_EQ(AssignStatus::Written, done.status);
    std::string r8 = rec(q8, 300.004, 0.25);
    r8.replace(r8.find("0.2500"), 6, "1.0000");
    EXPECT_EQ("! head\n" + rec(q7, 400.0, 0.5) + "\n" + rec(q6, 400.0, 0.5) + "\n" + r8 + "\n",
              contents(file));

    // One removed, the other kept with weight 1; then a blend removed whole.
    done = remove_assignment(path, q7, false);
    ASSERT_EQ(AssignStatus::Written, done.status);
    EXPECT_EQ(2u, done.blend);
    std::string r6 = rec(q6, 400.0, 0.5);
    r6.replace(r6.find("0.5000"), 6, "1.0000");
    EXPECT_EQ("! head\n" + r6 + "\n" + r8 + "\n", contents(file));
    EXPECT_EQ(AssignStatus::Missing, remove_assignment(path, q7, false).status);
    ASSERT_EQ(AssignStatus::Written,
              write_assignments(path, {{q7, rec(q7, 500.0, 0.5)}, {q8, rec(q8, 500.0, 0.5)}}, true)
                  .status);
    ASSERT_EQ(AssignStatus::Written, remove_assignment(path, q8, true).status);
    EXPECT_EQ("! head\n" + r6 + "\n", contents(file));
    EXPECT_EQ(1u, entries());
}

// Several transitions taken out in one write, as the series view's U takes back
// its last write: a record of a blend leaves the rest re-weighted, a
// transition the file does not hold is passed over, none held is Missing.
TEST_F(AssignmentFileTest, SeveralRemovedInOneWrite) {
    const fs::path file = dir / "a.lin";
    const std::string path = file.string();
    const auto rec = [](const QuantumNumbers& q, double f, double w) {
        return *lin_line(q, f, 0.002, w, "s.001", FrequencyUnit::MHz);
    };
    const QuantumNumbers q6 = qn({6, 0, 6, 5, 0, 5}), q7 = qn({7, 0, 7, 6, 0, 6}),
                         q8 = qn({8, 0, 8, 7, 0, 7}), q9 = qn({9, 0, 9, 8, 0, 8});
    std::ofstream(file, std::ios::binary) << "! head\r\n"
                                          << rec(q6, 300.0, 1) << "\r\n"
                                          << rec(q7, 400.0, 0.75) << "\r\n"
                                          << rec(q8, 400.0, 0.25) << "\r\n"
                                          << "! tail\r\n";
    AssignOutcome done = remove_assignments(path, {q6, q7, q9});
    ASSERT_EQ(AssignStatus::Written, done.status);
    EXPECT_EQ(2u, done.removed.size());
    std::string r8 = rec(q8, 400.0, 0.25);
    r8.replace(r8.find("0.2500"), 6, "1.0000");
    EXPECT_EQ("! head\r\n" + r8 + "\r\n! tail\r\n", contents(file));
    EXPECT_EQ(AssignStatus::Missing, remove_assignments(path, {q6, q9}).status);
    EXPECT_EQ("! head\r\n" + r8 + "\r\n! tail\r\n", contents(file));
    EXPECT_EQ(1u, entries());
}

// Assigning, re-assigning and removing at random, with edits of the file by
// other hands between: no blend ever holds two frequencies, and the weights of
// every blend sum to 1, read as the fitting program reads them.
TEST_F(AssignmentFileTest, RandomEditsKeepBlendsWhole) {
    const fs::path file = dir / "a.lin";
    const std::string path = file.string();
    constexpr int N = 7;
    std::vector<QuantumNumbers> qs;
    for (int t = 0; t < N; ++t)
        qs.push_back(qn({10 + t, 0, 10 + t, 9 + t, 0, 9 + t}));
    int checked_blends = 0;
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const auto pick = [&](int n) { return static_cast<int>(random() % unsigned(n)); };
        fs::remove(file);
        // The model: the blend of each transition (a set of transitions; size
        // 1 for a line of its own, empty when not in the file) and its frequency.
        std::vector<std::set<int>> blend(N);
        std::vector<double> freq(N, 0);
        double next_freq = 1000;
        for (int step = 0; step < 120; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const int t = pick(N);
            const auto leave = [&](int u) {
                for (int o : blend[u])
                    if (o != u) blend[o].erase(u);
                blend[u].clear();
            };
            switch (pick(5)) {
            case 0: { // a blend of 2 or 3
                std::set<int> members{t};
                while (members.size() < std::size_t(2 + pick(2)))
                    members.insert(pick(N));
                next_freq += 1.25;
                std::vector<double> lg;
                for (std::size_t i = 0; i < members.size(); ++i)
                    lg.push_back(-2.0 - pick(9));
                const BlendWeights w = blend_weights(lg, pick(2) == 0);
                std::vector<Assignment> records;
                std::size_t i = 0;
                for (int u : members)
                    records.push_back({qs[u], *lin_line(qs[u], next_freq, 0.01, w.values[i++], "x",
                                                        FrequencyUnit::MHz, w.decimals)});
                ASSERT_EQ(AssignStatus::Written, write_assignments(path, records, true).status);
                for (int u : members)
                    leave(u);
                for (int u : members) {
                    blend[u] = members;
                    freq[u] = next_freq;
                }
                break;
            }
            case 1: { // one line measured, or measured again
                next_freq += 1.25;
                ASSERT_EQ(AssignStatus::Written,
                          write_assignment(
                              path, qs[t],
                              *lin_line(qs[t], next_freq, 0.01, 1, "x", FrequencyUnit::MHz), true)
                              .status);
                if (blend[t].empty()) blend[t] = {t};
                for (int u : blend[t])
                    freq[u] = next_freq;
                break;
            }
            case 2: { // removed, with its blend or alone
                const bool whole = pick(2) == 0;
                const AssignOutcome done = remove_assignment(path, qs[t], whole);
                ASSERT_EQ(blend[t].empty() ? AssignStatus::Missing : AssignStatus::Written,
                          done.status);
                const std::set<int> was = blend[t];
                leave(t);
                if (whole)
                    for (int u : was)
                        blend[u].clear();
                break;
            }
            default: { // another hand: a comment, a blank line, a CR LF end
                std::string text = contents(file);
                std::vector<std::size_t> starts{0};
                for (std::size_t k = 0; k < text.size(); ++k)
                    if (text[k] == '\n' && k + 1 < text.size()) starts.push_back(k + 1);
                const std::size_t at = text.empty() ? 0 : starts[random() % starts.size()];
                const int kind = pick(3);
                if (kind == 0) text.insert(at, "! checked by hand\n");
                if (kind == 1) text.insert(at, "   \r\n");
                if (kind == 2) {
                    const auto nl = text.find('\n', at);
                    if (nl != std::string::npos && (nl == 0 || text[nl - 1] != '\r'))
                        text.insert(nl, "\r");
                }
                std::ofstream(file, std::ios::binary) << text;
            }
            }
            // The file against the model.
            const std::string text = contents(file);
            std::vector<std::pair<int, FitRecord>> records; // transition, numbers
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.find_first_not_of(' ') == std::string::npos || line[0] == '!') continue;
                const auto r = read_as_fit(line);
                ASSERT_TRUE(r) << line;
                records.push_back({static_cast<int>(r->qn[0]) - 10, *r});
            }
            std::set<int> first_seen; // blends by their smallest member
            std::size_t in_model = 0;
            for (int u = 0; u < N; ++u)
                in_model += blend[u].empty() ? 0 : 1;
            ASSERT_EQ(in_model, records.size()) << text;
            for (std::size_t k = 0; k < records.size(); ++k) {
                const int u = records[k].first;
                ASSERT_EQ(1u, blend[u].count(u)) << text;
                EXPECT_EQ(freq[u], records[k].second.freq) << text;
                if (blend[u].size() == 1) {
                    EXPECT_EQ(1.0, records[k].second.weight) << text;
                    continue;
                }
                if (!first_seen.insert(*blend[u].begin()).second) continue;
                // The blend's first record: the others follow it.
                ++checked_blends;
                double sum = 0;
                std::set<int> seen;
                for (std::size_t j = 0; j < blend[u].size(); ++j) {
                    ASSERT_LT(k + j, records.size()) << text;
                    ASSERT_EQ(1u, blend[u].count(records[k + j].first)) << text;
                    ASSERT_EQ(records[k].second.freq, records[k + j].second.freq) << text;
                    ASSERT_LT(records[k + j].second.weight, 1.0) << text;
                    sum += records[k + j].second.weight;
                    seen.insert(records[k + j].first);
                }
                ASSERT_EQ(blend[u], seen) << text;
                ASSERT_NEAR(1.0, sum, 1e-12) << text;
            }
        }
        EXPECT_EQ(1u, entries());
    }
    EXPECT_GT(checked_blends, 100);
}

} // namespace
} // namespace korax
