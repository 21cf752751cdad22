// Series of a line catalogue: a transition and the transitions reached from it
// by one fixed step of the quantum numbers (each field +1, 0 or -1, the same
// for every step), as a Loomis-Wood plot stacks them. The catalogue is looked
// up by quantum numbers through an index built once per catalogue; a series is
// then a few look-ups a member.
#pragma once

#include "catalog/catalog.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// The twelve quantum-number fields of a transition as an assignment record
// holds them: the upper state's n numbers, then the lower state's, the rest 0.
using QnFields = std::array<int, 2 * MAX_QN>;

// A step from one member of a series to the next: each of the 2n fields +1, 0
// or -1, upper state first as in QnFields. At least one field is not 0.
struct SeriesStep {
    QnFields fields{};
    int n = 0; // quantum numbers per state
    bool operator==(const SeriesStep&) const = default;
};

// "+1 0 +1 <- +1 0 +1": the upper state's steps, then the lower state's.
std::string step_text(const SeriesStep& step);
// The typed form of a step for transitions of `n` numbers per state: 2n
// numbers from -1, 0, 1 (also +1) separated by blanks or commas, with an
// optional "<-" between the states; not all 0. nullopt for anything else.
std::optional<SeriesStep> parse_step(std::string_view text, int n);

// A catalogue's lines by their quantum numbers. Lines whose numbers cannot be
// read are left out. Holds 16 bytes a line and is built in one pass and a
// sort. It refers to the catalogue's lines, which stay where they are when
// the catalogue itself is moved.
class SeriesIndex {
  public:
    explicit SeriesIndex(const Catalog& catalog);
    // The lines of exactly these fields and `n` numbers per state, in
    // catalogue order; empty when there are none.
    std::vector<std::size_t> lines_of(const QnFields& fields, int n) const;
    std::span<const PredictedLine> lines() const { return m_lines; }

  private:
    struct Entry {
        std::uint64_t key;
        std::uint32_t line;
    };
    std::span<const PredictedLine> m_lines;
    std::vector<Entry> m_entries; // by key
};

// The fields and numbers per state of a line; nullopt when a field cannot be read.
std::optional<QnFields> line_fields(const PredictedLine& line, int* n = nullptr);

// Up to this many members in a row may be missing from the catalogue (an
// intensity cutoff, a perturbed line taken out) and the series goes on past
// them, the orders counting the missing ones too.
inline constexpr int MAX_SERIES_GAP = 2;

struct SeriesMember {
    std::size_t line = 0; // into the catalogue's lines
    int order = 0;        // steps from the first member, missing members counted
};

struct Series {
    SeriesStep step;
    std::vector<SeriesMember> members; // by order
    std::size_t through = 0;           // the member the series was asked through
    // The range of the upper state's first quantum number over the members.
    int first_low = 0, first_high = 0;
};

// The series through `line` with `step`: the members found walking both ways,
// oriented so that the orders grow along `step`. Where the catalogue holds
// several lines of one transition, the member is the one nearest to the
// frequency its two predecessors point to. A line whose quantum numbers
// cannot be read is a series of itself alone.
Series find_series(const SeriesIndex& index, std::size_t line, const SeriesStep& step);

// The steps worth offering for `line`: one per other line of the catalogue
// that differs from it by at most 1 in every field, a step and its reverse
// counted once (oriented with its first non-zero field positive), longest
// series first; of equal length the step with fewer non-zero fields, then in
// the order of the fields. Empty when no such line exists.
struct StepChoice {
    SeriesStep step;
    std::size_t members = 0;
};
std::vector<StepChoice> candidate_steps(const SeriesIndex& index, std::size_t line);

} // namespace korax
