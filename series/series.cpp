// The series finder: the index of a catalogue by quantum numbers, the walk
// along a step, and the steps a transition offers.
#include "series/series.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <set>

namespace korax {

namespace {

// FNV-1a over the numbers per state and the fields in use.
std::uint64_t key_of(const QnFields& fields, int n) {
    std::uint64_t h = 1469598103934665603ull;
    const auto mix = [&h](int value) {
        auto u = static_cast<std::uint32_t>(value);
        for (int b = 0; b < 4; ++b) {
            h ^= (u >> (8 * b)) & 0xffu;
            h *= 1099511628211ull;
        }
    };
    mix(n);
    for (int k = 0; k < 2 * n; ++k)
        mix(fields[static_cast<std::size_t>(k)]);
    return h;
}

QnFields stepped(const QnFields& from, const SeriesStep& step, int k) {
    QnFields f = from;
    for (int i = 0; i < 2 * step.n; ++i)
        f[static_cast<std::size_t>(i)] += k * step.fields[static_cast<std::size_t>(i)];
    return f;
}

bool any_step(const SeriesStep& s) {
    return std::any_of(s.fields.begin(), s.fields.end(), [](int v) { return v != 0; });
}

// A step and its reverse give one series: the one whose first non-zero field
// is positive stands for both.
SeriesStep oriented(SeriesStep s) {
    for (int v : s.fields)
        if (v != 0) {
            if (v < 0)
                for (int& f : s.fields)
                    f = -f;
            break;
        }
    return s;
}

int nonzero_fields(const SeriesStep& s) {
    return static_cast<int>(
        std::count_if(s.fields.begin(), s.fields.end(), [](int v) { return v != 0; }));
}

} // namespace

std::optional<QnFields> line_fields(const PredictedLine& line, int* n) {
    const QuantumNumbers q = quantum_numbers(line);
    if (!q.ok) return std::nullopt;
    QnFields f{};
    for (int k = 0; k < 2 * q.n; ++k)
        f[static_cast<std::size_t>(k)] = q.values[static_cast<std::size_t>(k)];
    if (n) *n = q.n;
    return f;
}

std::string step_text(const SeriesStep& step) {
    std::string text;
    for (int k = 0; k < 2 * step.n; ++k) {
        if (k == step.n) text += " <-";
        if (!text.empty()) text += ' ';
        const int v = step.fields[static_cast<std::size_t>(k)];
        text += v > 0 ? "+1" : v < 0 ? "-1" : "0";
    }
    return text;
}

std::optional<SeriesStep> parse_step(std::string_view text, int n) {
    if (n < 1 || n > MAX_QN) return std::nullopt;
    SeriesStep step;
    step.n = n;
    int count = 0;
    bool arrow = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == ' ' || c == ',' || c == '\t') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != ',' && text[end] != '\t')
            ++end;
        const std::string_view word = text.substr(at, end - at);
        at = end;
        if (word == "<-") {
            // Between the states, once.
            if (arrow || count != n) return std::nullopt;
            arrow = true;
            continue;
        }
        int v = 0;
        if (word == "1" || word == "+1")
            v = 1;
        else if (word == "-1")
            v = -1;
        else if (word == "0" || word == "+0" || word == "-0")
            v = 0;
        else
            return std::nullopt;
        if (count == 2 * n) return std::nullopt;
        step.fields[static_cast<std::size_t>(count++)] = v;
    }
    if (count != 2 * n || !any_step(step)) return std::nullopt;
    return step;
}

SeriesIndex::SeriesIndex(const Catalog& catalog) : m_lines(catalog.lines()) {
    const auto& lines = catalog.lines();
    m_entries.reserve(lines.size());
    for (std::size_t k = 0; k < lines.size(); ++k) {
        int n = 0;
        if (auto f = line_fields(lines[k], &n))
            m_entries.push_back({key_of(*f, n), static_cast<std::uint32_t>(k)});
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
        return a.key != b.key ? a.key < b.key : a.line < b.line;
    });
}

std::vector<std::size_t> SeriesIndex::lines_of(const QnFields& fields, int n) const {
    const std::uint64_t key = key_of(fields, n);
    auto at = std::lower_bound(m_entries.begin(), m_entries.end(), key,
                               [](const Entry& e, std::uint64_t k) { return e.key < k; });
    std::vector<std::size_t> found;
    for (; at != m_entries.end() && at->key == key; ++at) {
        // The key only narrows the search: the fields decide.
        int line_n = 0;
        const auto f = line_fields(m_lines[at->line], &line_n);
        if (f && line_n == n && *f == fields) found.push_back(at->line);
    }
    return found;
}

Series find_series(const SeriesIndex& index, std::size_t line, const SeriesStep& step) {
    assert(any_step(step) && "a step moves at least one quantum number");
    const auto lines = index.lines();
    Series s;
    s.step = step;
    int n = 0;
    const auto from = line_fields(lines[line], &n);
    if (!from || n != step.n) {
        s.members.push_back({line, 0});
        return s;
    }
    struct Found {
        int k;
        std::size_t line;
    };
    std::vector<Found> found{{0, line}};
    for (int direction : {1, -1}) {
        // The last two members on this side, for a choice between duplicates.
        std::vector<Found> side{{0, line}};
        int misses = 0;
        for (int k = direction; misses <= MAX_SERIES_GAP; k += direction) {
            const auto candidates = index.lines_of(stepped(*from, step, k), n);
            if (candidates.empty()) {
                ++misses;
                continue;
            }
            misses = 0;
            std::size_t pick = candidates.front();
            if (candidates.size() > 1) {
                const Found& last = side.back();
                double expected = lines[last.line].freq;
                if (side.size() >= 2) {
                    const Found& before = side[side.size() - 2];
                    expected += (lines[last.line].freq - lines[before.line].freq) *
                                static_cast<double>(k - last.k) /
                                static_cast<double>(last.k - before.k);
                }
                pick = *std::min_element(candidates.begin(), candidates.end(),
                                         [&](std::size_t a, std::size_t b) {
                                             return std::abs(lines[a].freq - expected) <
                                                    std::abs(lines[b].freq - expected);
                                         });
            }
            side.push_back({k, pick});
            found.push_back({k, pick});
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.k < b.k; });
    const int first = found.front().k;
    for (std::size_t i = 0; i < found.size(); ++i) {
        s.members.push_back({found[i].line, found[i].k - first});
        if (found[i].k == 0) s.through = i;
    }
    const int q0 = (*from)[0], d0 = step.fields[0];
    const int a = q0 + d0 * found.front().k, b = q0 + d0 * found.back().k;
    s.first_low = std::min(a, b);
    s.first_high = std::max(a, b);
    return s;
}

std::vector<StepChoice> candidate_steps(const SeriesIndex& index, std::size_t line) {
    const auto lines = index.lines();
    int n = 0;
    const auto from = line_fields(lines[line], &n);
    if (!from) return {};
    std::set<QnFields> seen;
    std::vector<SeriesStep> steps;
    const auto offer = [&](const SeriesStep& s) {
        const SeriesStep o = oriented(s);
        if (seen.insert(o.fields).second) steps.push_back(o);
    };
    const int fields = 2 * n;
    double combinations = std::pow(3.0, fields) - 1;
    if (combinations <= static_cast<double>(lines.size())) {
        // Every step of -1, 0, +1 per field, as a number in base 3.
        const auto total = static_cast<long>(combinations) + 1;
        for (long code = 1; code < total; ++code) {
            SeriesStep s;
            s.n = n;
            long rest = code;
            for (int i = 0; i < fields; ++i, rest /= 3)
                s.fields[static_cast<std::size_t>(i)] = static_cast<int>(rest % 3) - 1;
            if (!any_step(s)) continue;
            if (!index.lines_of(stepped(*from, s, 1), n).empty()) offer(s);
        }
    } else {
        // Fewer lines than steps: the catalogue's neighbours are the steps.
        for (std::size_t k = 0; k < lines.size(); ++k) {
            int m = 0;
            const auto f = line_fields(lines[k], &m);
            if (!f || m != n) continue;
            SeriesStep s;
            s.n = n;
            bool near = true;
            for (int i = 0; i < fields && near; ++i) {
                const int d =
                    (*f)[static_cast<std::size_t>(i)] - (*from)[static_cast<std::size_t>(i)];
                near = d >= -1 && d <= 1;
                s.fields[static_cast<std::size_t>(i)] = d;
            }
            if (near && any_step(s)) offer(s);
        }
    }
    std::vector<StepChoice> choices;
    for (const SeriesStep& s : steps)
        choices.push_back({s, find_series(index, line, s).members.size()});
    std::sort(choices.begin(), choices.end(), [](const StepChoice& a, const StepChoice& b) {
        if (a.members != b.members) return a.members > b.members;
        const int za = nonzero_fields(a.step), zb = nonzero_fields(b.step);
        if (za != zb) return za < zb;
        return a.step.fields > b.step.fields;
    });
    return choices;
}

} // namespace korax
