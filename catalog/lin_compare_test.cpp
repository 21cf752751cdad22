// The assignment file against new predictions: every record matched with its
// transition or listed as missing, ranked by how many errors it lies off.
#include "catalog/lin_compare.h"

#include "testing/test_catalog_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

namespace korax {
namespace {

using LinCompare = CatalogFile;

// A record of J+1 0 J+1 <- J 0 J with a frequency and an uncertainty as written.
std::string record(int j, const char* freq, const char* unc, const char* tail = "  1.0000") {
    char text[160];
    std::snprintf(text, sizeof text, "%3d%3d%3d%3d%3d%3d                  %16s%11s%s\n", j + 1, 0,
                  j + 1, j, 0, j, freq, unc, tail);
    return text;
}

TEST_F(LinCompare, EveryRecordIsMatchedOrListedWorstFirst) {
    // The new predictions; J = 4 twice, the second nearer the record.
    std::string cat;
    for (int j = 1; j <= 6; ++j)
        cat += testing::prediction_line(10000.0 * j, j);
    cat += testing::prediction_line(40000.2, 4);
    const std::string cat_path = write("new.cat", cat);
    Catalog c;
    ASSERT_TRUE(read_catalog(cat_path, c).error.empty());

    // o-c by hand: J=1 +0.0005 (0.5 errors), J=2 -0.0025 (-2.5), J=3 +0.0400
    // (40), J=4 0.0015 from the nearer line (1.5), J=5 in cm-1: 50000 MHz is
    // 1.6678204759907 cm-1, observed 1.66782 -> -4.759907e-7 over 1e-7 (-4.76),
    // J=6 without an error but off (infinite), J=9 and J=8 in no catalogue.
    const std::string lin = "! assignments of the last fit\n" + record(1, "10000.0005", "0.0010") +
                            record(9, "90000.0", "0.0010") + "\n" +
                            record(2, "19999.9975", "0.0010") + record(3, "30000.04", "0.0010") +
                            record(4, "40000.2015", "0.0010") + record(5, "1.66782", "-1.0E-07") +
                            record(6, "60000.01", "0", "") + record(8, "80000.0", "0.0010");
    const std::string lin_path = write("fit.lin", lin);
    const Catalog* const list[] = {&c};
    const AssignmentComparison cmp = compare_assignments(lin_path, list);
    ASSERT_EQ("", cmp.error);
    struct Expected {
        int j;
        std::size_t line;
        double ratio;
    };
    const Expected expected[] = {{6, 9, INFINITY}, {3, 6, 40.0}, {5, 8, -4.759907},
                                 {2, 5, -2.5},     {4, 7, 1.5},  {1, 2, 0.5}};
    ASSERT_EQ(8u, cmp.records.size());
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const ComparedRecord& r = cmp.records[i];
        SCOPED_TRACE(expected[i].j);
        EXPECT_EQ(expected[i].j + 1, r.fields[0]);
        EXPECT_EQ(expected[i].line, r.line);
        ASSERT_TRUE(r.catalog.has_value());
        if (std::isinf(expected[i].ratio))
            EXPECT_TRUE(std::isinf(r.ratio) && r.ratio > 0);
        else
            EXPECT_NEAR(expected[i].ratio, r.ratio, 1e-5);
    }
    EXPECT_EQ(4u, *cmp.records[4].catalog_line); // the nearer of the two J = 4 lines
    EXPECT_TRUE(cmp.records[2].wavenumbers);
    EXPECT_NEAR(1.6678204759907, cmp.records[2].predicted, 1e-12);
    // The missing ones after, in the file's order.
    EXPECT_EQ(10, cmp.records[6].fields[0]);
    EXPECT_EQ(9, cmp.records[7].fields[0]);
    EXPECT_FALSE(cmp.records[6].catalog.has_value());
    EXPECT_EQ("8 records: 1 within 1 error, 2 within 3, 3 beyond 3; 2 not in the catalogue",
              comparison_summary(cmp));
    EXPECT_EQ("10 0 10 <- 9 0 9", record_qn_text(cmp.records[6], 3));

    // A later catalogue gives what an earlier one lacks.
    Catalog more;
    ASSERT_TRUE(read_catalog(write("more.cat", testing::prediction_line(90000.0004, 9)), more)
                    .error.empty());
    const Catalog* const both[] = {&c, &more};
    const AssignmentComparison two = compare_assignments(lin_path, both);
    EXPECT_EQ(7u, two.matched);
    EXPECT_EQ(1u, two.records[6].catalog.value());
    EXPECT_EQ("8 records: 2 within 1 error, 2 within 3, 3 beyond 3; 1 not in the catalogues",
              comparison_summary(two));
}

TEST_F(LinCompare, TheTableListsEveryRecordAndFilesThatAreNotTheirKindAreRefused) {
    const std::string cat = write("new.cat", testing::prediction_line(10000.0, 1) +
                                                 testing::prediction_line(20000.0, 2));
    const std::string lin =
        write("fit.lin", record(1, "9999.99973", "0.00054") + record(2, "20000.0001", "0.0020") +
                             record(7, "70000.0", "0.01"));
    std::ostringstream out, err;
    EXPECT_EQ(0, write_comparison_table(lin, cat, out, err));
    EXPECT_EQ("upper_state\tlower_state\tobserved\terror\tpredicted\to-c\to-c/error\tunit\tline\n"
              "2,0,2\t1,0,1\t9999.99973\t0.00054\t10000.00000\t-0.00027\t-0.50\tMHz\t1\n"
              "3,0,3\t2,0,2\t20000.0001\t0.0020\t20000.0000\t0.0001\t0.05\tMHz\t2\n"
              "8,0,8\t7,0,7\t70000.0000\t0.0100\t-\t-\t-\tMHz\t3\n",
              out.str());
    EXPECT_EQ(cat + ": 2 lines read, 0 skipped\n" + lin +
                  ": 3 records: 2 within 1 error, 0 within 3, 0 beyond 3; 1 not in the "
                  "catalogue\n",
              err.str());

    // Either file not of its kind, or missing: status 1 and the reason.
    struct Case {
        std::string lin, cat, said;
    };
    const std::string binary = write("spectrum.001", std::string("\x01\x02\x00\x7f", 4));
    const Case cases[] = {{binary, cat, binary + ": not an assignment file"},
                          {(dir / "none.lin").string(), cat, "none.lin: cannot be opened"},
                          {lin, binary, binary + ": "},
                          {lin, (dir / "none.cat").string(), "none.cat: "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lin + " " + c.cat);
        std::ostringstream o, e;
        EXPECT_EQ(1, write_comparison_table(c.lin, c.cat, o, e));
        EXPECT_NE(std::string::npos, e.str().find(c.said)) << e.str();
        EXPECT_EQ("", o.str());
    }
}

TEST(LinCompareAgreement, ClassesAtOneAndThreeErrors) {
    EXPECT_EQ(Agreement::Within1, agreement_of(0));
    EXPECT_EQ(Agreement::Within1, agreement_of(-1));
    EXPECT_EQ(Agreement::Within3, agreement_of(1.0001));
    EXPECT_EQ(Agreement::Within3, agreement_of(-3));
    EXPECT_EQ(Agreement::Beyond3, agreement_of(3.0001));
    EXPECT_EQ(Agreement::Beyond3, agreement_of(-INFINITY));
}

} // namespace
} // namespace korax
