// Snapshots of the working spectrum and the history of its changes. A
// snapshot at 3,000,000 points holds 12 MB of intensities; the axis that an
// append adds is kept as its step rule rather than 24 MB of frequencies.
#include "viewer/undo.h"

#include <algorithm>
#include <new>
#include <utility>

namespace korax {

std::size_t SpectrumSnapshot::bytes() const {
    return intens.capacity() * sizeof(std::int32_t) + axis.capacity() * sizeof(double) +
           orignl.capacity() * sizeof(std::int32_t);
}

std::int32_t snapshot_extent(std::int32_t npts) {
    const std::int32_t columns = store().SCREEN.MAXX + 1;
    return std::clamp(std::max(npts, columns), std::int32_t{0}, MAXPTS);
}

void capture(SpectrumSnapshot& into, std::int32_t axis_from, bool with_original, double ymean) {
    const SpectrumStore& s = store();
    const std::int32_t extent = snapshot_extent(s.NPTS);
    into.NPTS = s.NPTS;
    into.intens.assign(s.INTENS.begin() + 1, s.INTENS.begin() + 1 + extent);

    into.axis_from = std::max(axis_from, std::int32_t{1});
    into.axis.clear();
    into.axis_steps = into.axis_from >= 2 && into.axis_from <= extent;
    for (std::int32_t i = into.axis_from; into.axis_steps && i <= extent; ++i) {
        const auto k = static_cast<std::size_t>(i);
        into.axis_steps = s.FREQ[k] == s.FREQ[k - 1] + s.FSTEP;
    }
    if (!into.axis_steps && into.axis_from <= extent)
        into.axis.assign(s.FREQ.begin() + into.axis_from, s.FREQ.begin() + extent + 1);

    if (with_original)
        into.orignl.assign(s.ORIGNL.begin() + 1, s.ORIGNL.begin() + 1 + s.NPTS);
    else
        into.orignl.clear();
    into.FSTART = s.FSTART;
    into.FEND = s.FEND;
    into.COMENT = s.SPHEAD.COMENT;
    into.YMEAN = ymean;
}

double put_back(const SpectrumSnapshot& from) {
    SpectrumStore& s = store();
    s.NPTS = from.NPTS;
    std::copy(from.intens.begin(), from.intens.end(), s.INTENS.begin() + 1);
    const auto extent = static_cast<std::int32_t>(from.intens.size());
    if (from.axis_steps) {
        for (std::int32_t i = from.axis_from; i <= extent; ++i) {
            const auto k = static_cast<std::size_t>(i);
            s.FREQ[k] = s.FREQ[k - 1] + s.FSTEP;
        }
    } else {
        std::copy(from.axis.begin(), from.axis.end(), s.FREQ.begin() + from.axis_from);
    }
    std::copy(from.orignl.begin(), from.orignl.end(), s.ORIGNL.begin() + 1);
    s.FSTART = from.FSTART;
    s.FEND = from.FEND;
    s.SPHEAD.COMENT = from.COMENT;
    return from.YMEAN;
}

bool store_matches(const SpectrumSnapshot& snap) {
    const SpectrumStore& s = store();
    return snap.NPTS == s.NPTS && snap.FSTART == s.FSTART && snap.FEND == s.FEND &&
           snap.COMENT == s.SPHEAD.COMENT &&
           std::equal(snap.intens.begin(), snap.intens.begin() + snap.NPTS, s.INTENS.begin() + 1);
}

// ---- history ---------------------------------------------------------------------------

void SpectrumHistory::start() {
    m_undo.clear();
    m_redo.clear();
    m_spare = SpectrumSnapshot{};
    m_state = m_saved = next_state();
}

void SpectrumHistory::record(SpectrumSnapshot&& before, std::string_view what, bool sets_original) {
    if (!m_redo.empty()) keep_spare(std::move(m_redo.back().snap));
    m_redo.clear();
    before.state = m_state;
    before.orignl.clear(); // the append that renews ORIGNL is redone from INTENS
    before.orignl.shrink_to_fit();
    m_undo.push_back(Change{std::move(before), what, sets_original});
    m_state = next_state();
    while (m_undo.size() > DEPTH) {
        keep_spare(std::move(m_undo.front().snap));
        m_undo.pop_front();
    }
}

void SpectrumHistory::keep_spare(SpectrumSnapshot&& snap) {
    if (snap.intens.capacity() > m_spare.intens.capacity()) m_spare = std::move(snap);
}

SpectrumSnapshot SpectrumHistory::take_spare() {
    SpectrumSnapshot spare = std::move(m_spare);
    m_spare = SpectrumSnapshot{};
    return spare;
}

void SpectrumHistory::exchange(Change& change, double& ymean) {
    SpectrumStore& s = store();
    SpectrumSnapshot& snap = change.snap;
    const std::int32_t extent = snapshot_extent(s.NPTS);
    const bool same_shape = snap.NPTS == s.NPTS &&
                            snap.intens.size() == static_cast<std::size_t>(extent) &&
                            snap.axis_from == s.NPTS + 1 && !snap.axis_steps &&
                            snap.axis.size() == static_cast<std::size_t>(extent - s.NPTS);
    if (same_shape) {
        // In place, so that going back and forth needs no memory of its own.
        std::swap_ranges(snap.intens.begin(), snap.intens.end(), s.INTENS.begin() + 1);
        std::swap_ranges(snap.axis.begin(), snap.axis.end(), s.FREQ.begin() + snap.axis_from);
        std::swap(snap.FSTART, s.FSTART);
        std::swap(snap.FEND, s.FEND);
        std::swap(snap.COMENT, s.SPHEAD.COMENT);
        std::swap(snap.YMEAN, ymean);
        std::swap(snap.state, m_state);
        return;
    }
    SpectrumSnapshot now;
    capture(now, std::min(snap.NPTS, s.NPTS) + 1, false, ymean);
    now.state = m_state;
    ymean = put_back(snap);
    m_state = snap.state;
    snap = std::move(now);
}

std::string_view SpectrumHistory::step(std::deque<Change>& from, std::deque<Change>& to,
                                       double& ymean, bool redoing) {
    if (from.empty()) return {};
    // exchange() throws, if at all, before it changes anything.
    exchange(from.back(), ymean);
    Change& change = from.back();
    if (redoing && change.sets_original) {
        SpectrumStore& s = store();
        std::copy(s.INTENS.begin() + 1, s.INTENS.begin() + 1 + s.NPTS, s.ORIGNL.begin() + 1);
    }
    const std::string_view what = change.what;
    try {
        to.push_back(std::move(change));
    } catch (const std::bad_alloc&) {
        // The step is done; only the way back is lost.
        to.clear();
    }
    from.pop_back();
    return what;
}

std::string_view SpectrumHistory::undo(double& ymean) {
    return step(m_undo, m_redo, ymean, false);
}

std::string_view SpectrumHistory::redo(double& ymean) {
    return step(m_redo, m_undo, ymean, true);
}

bool SpectrumHistory::drop_oldest() {
    if (m_spare.bytes() > 0) {
        m_spare = SpectrumSnapshot{};
        return true;
    }
    if (!m_undo.empty()) {
        m_undo.pop_front();
        return true;
    }
    if (!m_redo.empty()) {
        m_redo.pop_front();
        return true;
    }
    return false;
}

void SpectrumHistory::forget() {
    m_undo.clear();
    m_redo.clear();
    m_spare = SpectrumSnapshot{};
    // The store has just changed into a state no snapshot knows.
    m_state = next_state();
}

std::size_t SpectrumHistory::bytes() const {
    std::size_t total = 0;
    for (const auto* list : {&m_undo, &m_redo})
        for (const Change& c : *list)
            total += c.snap.bytes();
    return total + m_spare.bytes();
}

SpectrumHistory& spectrum_history() {
    static SpectrumHistory history;
    return history;
}

} // namespace korax
