// The series finder on small catalogues whose series are known by
// construction: a symmetric top's R branch and K ladders, a Q branch,
// hyperfine fields, gaps, duplicates, and the typed form of a step.
#include "series/series.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace korax {
namespace {

// A catalogue line of `n` quantum numbers per state.
std::string line(double freq, const std::vector<int>& upper, const std::vector<int>& lower,
                 double lgint = -3) {
    char head[64];
    std::snprintf(head, sizeof head, "%13.4f%8.4f%8.4f%2d%10.4f%3d%7d%4d", freq, 0.01, lgint, 3,
                  1.0, 3, 99001, static_cast<int>(upper.size()));
    std::string text = head;
    for (const auto* state : {&upper, &lower}) {
        std::string fields;
        for (int v : *state) {
            char f[8];
            std::snprintf(f, sizeof f, "%2d", v);
            fields += f;
        }
        fields.resize(12, ' ');
        text += fields;
    }
    return text;
}

Catalog catalog_of(const std::vector<std::string>& lines) {
    std::vector<PredictedLine> read;
    for (const std::string& l : lines) {
        auto r = parse_catalog_line(l);
        EXPECT_TRUE(r) << l;
        PredictedLine p;
        p.freq = r->freq;
        p.lgint = static_cast<float>(r->lgint);
        p.qn_text = r->qn_text;
        p.qnfmt = static_cast<std::int16_t>(r->qnfmt);
        read.push_back(p);
    }
    Catalog c;
    c.set_lines(std::move(read), {""});
    return c;
}

// The line of a catalogue with these upper-state numbers.
std::size_t find(const Catalog& c, const std::vector<int>& upper, const std::vector<int>& lower) {
    for (std::size_t k = 0; k < c.size(); ++k) {
        const QuantumNumbers q = quantum_numbers(c.lines()[k]);
        bool same = q.n == static_cast<int>(upper.size());
        for (int i = 0; same && i < q.n; ++i)
            same = q.values[std::size_t(i)] == upper[std::size_t(i)] &&
                   q.values[std::size_t(q.n + i)] == lower[std::size_t(i)];
        if (same) return k;
    }
    ADD_FAILURE() << "no such line";
    return 0;
}

std::vector<int> firsts(const Catalog& c, const Series& s) {
    std::vector<int> j;
    for (const SeriesMember& m : s.members)
        j.push_back(quantum_numbers(c.lines()[m.line]).values[0]);
    return j;
}

// A prolate top: R lines J+1 <- J for J = 3..12 and K = 0..3 (K <= J).
std::vector<std::string> top_lines() {
    std::vector<std::string> lines;
    for (int j = 3; j <= 12; ++j)
        for (int k = 0; k <= 3; ++k)
            lines.push_back(line(2000.0 * (j + 1) - 3.0 * (j + 1) * k * k, {j + 1, k}, {j, k}));
    return lines;
}

TEST(SeriesFinder, TheLongestChainIsOfferedFirst) {
    const Catalog c = catalog_of(top_lines());
    const SeriesIndex index(c);
    const auto choices = candidate_steps(index, find(c, {8, 2}, {7, 2}));
    ASSERT_FALSE(choices.empty());
    // J up by one in both states along a K: ten members; the K ladder of one
    // J (K 0..3) holds four.
    EXPECT_EQ("+1 0 <- +1 0", step_text(choices.front().step));
    EXPECT_EQ(10u, choices.front().members);
    bool ladder = false;
    for (const StepChoice& ch : choices)
        if (step_text(ch.step) == "0 +1 <- 0 +1") {
            ladder = true;
            EXPECT_EQ(4u, ch.members);
        }
    EXPECT_TRUE(ladder);
    const Series s = find_series(index, find(c, {8, 2}, {7, 2}), choices.front().step);
    EXPECT_EQ((std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), firsts(c, s));
    EXPECT_EQ(4, s.first_low);
    EXPECT_EQ(13, s.first_high);
    EXPECT_EQ(4u, s.through); // 8 2 <- 7 2 is the fifth member
    for (std::size_t i = 0; i < s.members.size(); ++i)
        EXPECT_EQ(static_cast<int>(i), s.members[i].order);
}

TEST(SeriesFinder, AStepAndItsReverseAreOneSeriesOrientedUp) {
    const Catalog c = catalog_of(top_lines());
    const SeriesIndex index(c);
    const std::size_t through = find(c, {6, 1}, {5, 1});
    const Series down = find_series(index, through, *parse_step("-1 0 -1 0", 2));
    const Series up = find_series(index, through, *parse_step("1 0 1 0", 2));
    // Walking down, the orders grow with the step: the highest J first.
    EXPECT_EQ((std::vector<int>{13, 12, 11, 10, 9, 8, 7, 6, 5, 4}), firsts(c, down));
    EXPECT_EQ((std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), firsts(c, up));
    for (const StepChoice& ch : candidate_steps(index, through)) {
        const int first = ch.step.fields[0] != 0 ? ch.step.fields[0] : ch.step.fields[1];
        EXPECT_EQ(1, first) << step_text(ch.step);
    }
}

TEST(SeriesFinder, AQBranchIsItsOwnSeriesAndATypedStepFindsIt) {
    std::vector<std::string> lines;
    // Q lines J 1 <- J 0 for J = 1..15, and R lines J+1 1 <- J 0 for J = 1..5.
    for (int j = 1; j <= 15; ++j)
        lines.push_back(line(5000.0 + 1.5 * j * (j + 1), {j, 1}, {j, 0}));
    for (int j = 1; j <= 5; ++j)
        lines.push_back(line(7000.0 + 400.0 * j, {j + 1, 1}, {j, 0}));
    const Catalog c = catalog_of(lines);
    const SeriesIndex index(c);
    const std::size_t q5 = find(c, {5, 1}, {5, 0});
    const auto choices = candidate_steps(index, q5);
    ASSERT_FALSE(choices.empty());
    EXPECT_EQ("+1 0 <- +1 0", step_text(choices.front().step));
    EXPECT_EQ(15u, choices.front().members);
    // From the R line 3 1 <- 2 0 the R branch is the longer, the Q branch
    // through it none: a typed step of one state alone reaches 2 1 <- 2 0.
    const std::size_t r2 = find(c, {3, 1}, {2, 0});
    EXPECT_EQ(5u, candidate_steps(index, r2).front().members);
    const Series across = find_series(index, r2, *parse_step("-1 0 <- 0 0", 2));
    EXPECT_EQ(2u, across.members.size());
}

TEST(SeriesFinder, HyperfineFieldsStepTogether) {
    std::vector<std::string> lines;
    // J K F1 F upper and lower; the strong components F = J + 1 step with J.
    for (int j = 2; j <= 9; ++j)
        for (int df : {-1, 0, 1})
            lines.push_back(line(3000.0 * (j + 1) + 0.5 * df, {j + 1, 0, j + 1 + df, j + 1 + df},
                                 {j, 0, j + df, j + df}));
    const Catalog c = catalog_of(lines);
    const SeriesIndex index(c);
    const std::size_t through = find(c, {6, 0, 7, 7}, {5, 0, 6, 6});
    const auto choices = candidate_steps(index, through);
    ASSERT_FALSE(choices.empty());
    EXPECT_EQ("+1 0 +1 +1 <- +1 0 +1 +1", step_text(choices.front().step));
    EXPECT_EQ(8u, choices.front().members);
    const Series s = find_series(index, through, choices.front().step);
    for (const SeriesMember& m : s.members) {
        const QuantumNumbers q = quantum_numbers(c.lines()[m.line]);
        EXPECT_EQ(q.values[0] + 1, q.values[2]); // F1 = J + 1 all along
    }
}

TEST(SeriesFinder, GapsOfTwoAreBridgedAndLongerOnesEndTheSeries) {
    struct Case {
        std::vector<int> missing; // J of the members left out of J = 1..20
        std::vector<int> orders;  // of the members found through J = 10
    } cases[] = {
        {{}, {}},
        {{12}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 16, 17, 18, 19}},
        {{12, 13}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 14, 15, 16, 17, 18, 19}},
        {{12, 13, 14}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {{3, 4, 5, 15}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14}},
    };
    for (const Case& t : cases) {
        std::vector<std::string> lines;
        for (int j = 1; j <= 20; ++j)
            if (std::find(t.missing.begin(), t.missing.end(), j) == t.missing.end())
                lines.push_back(line(1000.0 * (j + 1), {j + 1}, {j}));
        const Catalog c = catalog_of(lines);
        const SeriesIndex index(c);
        const Series s = find_series(index, find(c, {11}, {10}), *parse_step("1 1", 1));
        std::vector<int> orders;
        for (const SeriesMember& m : s.members)
            orders.push_back(m.order);
        std::vector<int> expected = t.orders;
        if (expected.empty())
            for (int k = 0; k < 20; ++k)
                expected.push_back(k);
        EXPECT_EQ(expected, orders) << "missing " << t.missing.size();
    }
}

TEST(SeriesFinder, OfTwoLinesOfOneTransitionTheOneInLineIsTheMember) {
    std::vector<std::string> lines;
    for (int j = 1; j <= 8; ++j)
        lines.push_back(line(1000.0 * j, {j}, {j - 1}));
    // A second 6 <- 5, far from where the series puts it.
    lines.push_back(line(9500.0, {6}, {5}));
    const Catalog c = catalog_of(lines);
    const SeriesIndex index(c);
    EXPECT_EQ(2u, index.lines_of({6, 5}, 1).size());
    const Series s = find_series(index, find(c, {2}, {1}), *parse_step("1 1", 1));
    ASSERT_EQ(8u, s.members.size());
    EXPECT_DOUBLE_EQ(6000.0, c.lines()[s.members[5].line].freq);
}

TEST(SeriesFinder, UnreadableNumbersMakeASeriesOfOne) {
    std::string bad = line(1234.0, {3, 1}, {2, 1});
    bad[56] = '\x01';
    const Catalog c = catalog_of({bad, line(2000.0, {4, 1}, {3, 1})});
    const SeriesIndex index(c);
    const std::size_t k = c.lines()[0].freq == 1234.0 ? 0 : 1;
    EXPECT_TRUE(candidate_steps(index, k).empty());
    EXPECT_EQ(1u, find_series(index, k, *parse_step("1 0 1 0", 2)).members.size());
}

TEST(SeriesStep, TypedForms) {
    struct Case {
        const char* typed;
        int n;
        const char* shown; // nullptr: refused
    } cases[] = {
        {"1 0 1 0", 2, "+1 0 <- +1 0"},
        {"+1 0 <- +1 0", 2, "+1 0 <- +1 0"},
        {"1,0,-1,  1,0,-1", 3, "+1 0 -1 <- +1 0 -1"},
        {"-1 -0", 1, "-1 <- 0"},
        {"0 0 0 0", 2, nullptr},    // no step at all
        {"2 0 1 0", 2, nullptr},    // more than one
        {"1 0 1", 2, nullptr},      // too few
        {"1 0 1 0 1", 2, nullptr},  // too many
        {"1 <- 0 1 0", 2, nullptr}, // the arrow out of place
        {"1 0 <- <- 1 0", 2, nullptr},
        {"1 x 1 0", 2, nullptr},
        {"", 2, nullptr},
        {"1 1", 7, nullptr},
    };
    for (const Case& t : cases) {
        const auto step = parse_step(t.typed, t.n);
        if (!t.shown) {
            EXPECT_FALSE(step) << t.typed;
            continue;
        }
        ASSERT_TRUE(step) << t.typed;
        EXPECT_EQ(t.shown, step_text(*step)) << t.typed;
        EXPECT_EQ(step, parse_step(step_text(*step), t.n)) << "read back: " << t.typed;
    }
}

} // namespace
} // namespace korax
