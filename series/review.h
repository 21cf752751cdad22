// The review of a series' fits: which members are taken and which skipped,
// and the checks across the members that no single fit can make (two members
// on one line, a width unlike the others', an o-c off the series' trend).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korax {

enum class Decision { Take, Skip };

struct ReviewInput {
    bool fitted = false;
    std::string refusal; // the fit's reason when it was refused
    double centre = 0;   // the fitted line
    double reference = 0;
    double tolerance = 0;
    bool flagged = false;
};

struct ReviewDecision {
    Decision decision = Decision::Skip;
    // Why it was skipped, as the list says it; empty when taken.
    std::string reason;
};

// Taken when the fit found a line within the tolerance of the reference
// position and nothing flags it; otherwise skipped, for the first of: "fit
// refused: REASON", "no line within tolerance", "flagged".
ReviewDecision decide(const ReviewInput& input);

// Members whose fitted centres lie within half a width of each other share
// one line: the same number for each group of two or more, -1 for a line of
// its own. `widths` are the fitted lobe widths; entries not `fitted` are -1.
std::vector<int> shared_lines(std::span<const double> centres, std::span<const double> widths,
                              const std::vector<bool>& fitted);

// Widths unlike the others': a lobe width more than 1.6 times or less than
// 0.6 times the median of the fitted ones (at least three of them needed).
std::vector<bool> odd_widths(std::span<const double> widths, const std::vector<bool>& fitted);

// Members off the trend of their neighbours: for each point marked `checked`,
// the o-c that the other points within 8 orders of it give (a polynomial of
// degree up to 2, at least 3 points, otherwise the nearest 4), and the
// point's distance from it. Off when that distance exceeds both half its
// width and five times its error. Points not checked (members measured
// before) only serve as neighbours; fewer than 3 points check nothing.
std::vector<bool> off_trend(std::span<const double> orders, std::span<const double> o_c,
                            std::span<const double> errors, std::span<const double> widths,
                            const std::vector<bool>& checked);

} // namespace korax
