// The review's decisions and its checks across a series.
#include "series/review.h"

#include "series/trend.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numeric>

namespace korax {

ReviewDecision decide(const ReviewInput& in) {
    if (!in.fitted) return {Decision::Skip, "fit refused: " + in.refusal};
    if (!(std::abs(in.centre - in.reference) <= in.tolerance))
        return {Decision::Skip, "no line within tolerance"};
    if (in.flagged) return {Decision::Skip, "flagged"};
    return {Decision::Take, {}};
}

std::vector<int> shared_lines(std::span<const double> centres, std::span<const double> widths,
                              const std::vector<bool>& fitted) {
    assert(centres.size() == widths.size() && centres.size() == fitted.size());
    const std::size_t n = centres.size();
    std::vector<std::size_t> by_centre;
    for (std::size_t i = 0; i < n; ++i)
        if (fitted[i]) by_centre.push_back(i);
    std::sort(by_centre.begin(), by_centre.end(),
              [&](std::size_t a, std::size_t b) { return centres[a] < centres[b]; });
    std::vector<int> line(n, -1);
    int next = 0;
    for (std::size_t k = 1; k < by_centre.size(); ++k) {
        const std::size_t a = by_centre[k - 1], b = by_centre[k];
        const double close = 0.5 * std::max(widths[a], widths[b]);
        if (!(centres[b] - centres[a] <= close)) continue;
        if (line[a] < 0) line[a] = next++;
        line[b] = line[a];
    }
    return line;
}

std::vector<bool> odd_widths(std::span<const double> widths, const std::vector<bool>& fitted) {
    std::vector<double> w;
    for (std::size_t i = 0; i < widths.size(); ++i)
        if (fitted[i] && widths[i] > 0) w.push_back(widths[i]);
    std::vector<bool> odd(widths.size(), false);
    if (w.size() < 3) return odd;
    std::nth_element(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(w.size() / 2), w.end());
    const double median = w[w.size() / 2];
    for (std::size_t i = 0; i < widths.size(); ++i)
        if (fitted[i]) odd[i] = !(widths[i] <= 1.6 * median && widths[i] >= 0.6 * median);
    return odd;
}

std::vector<bool> off_trend(std::span<const double> orders, std::span<const double> o_c,
                            std::span<const double> errors, std::span<const double> widths,
                            const std::vector<bool>& checked) {
    const std::size_t n = orders.size();
    assert(o_c.size() == n && errors.size() == n && widths.size() == n && checked.size() == n);
    std::vector<bool> off(n, false);
    if (n < 3) return off;
    std::vector<std::size_t> all(n);
    std::iota(all.begin(), all.end(), 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (!checked[i]) continue;
        std::vector<std::size_t> others;
        for (std::size_t k = 0; k < n; ++k)
            if (k != i && std::abs(orders[k] - orders[i]) <= 8) others.push_back(k);
        if (others.size() < 3) {
            others.clear();
            for (std::size_t k : all)
                if (k != i) others.push_back(k);
            std::sort(others.begin(), others.end(), [&](std::size_t a, std::size_t b) {
                return std::abs(orders[a] - orders[i]) < std::abs(orders[b] - orders[i]);
            });
            others.resize(std::min<std::size_t>(others.size(), 4));
        }
        std::vector<double> x, y;
        for (std::size_t k : others) {
            x.push_back(orders[k]);
            y.push_back(o_c[k]);
        }
        const double expected = fit_trend(x, y).at(orders[i]);
        const double distance = std::abs(o_c[i] - expected);
        off[i] = distance > 0.5 * widths[i] && distance > 5 * errors[i];
    }
    return off;
}

} // namespace korax
