// The working spectrum as a viewer command may change it, and the history of
// those changes behind the undo (U) and redo (Y) keys. The same snapshot puts
// the spectrum back when a command is cancelled with Esc or fails.
#pragma once

#include "spectrum/store.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// What commands change in the store: the intensities (with the flat
// continuation of a short spectrum), and after an append the point count,
// the axis beyond the old end, the limits and the comment.
struct SpectrumSnapshot {
    std::int32_t NPTS = 0;
    std::vector<std::int32_t> intens; // INTENS[1 .. extent]
    std::int32_t axis_from = 1;       // FREQ[axis_from .. extent] is kept:
    std::vector<double> axis;         //   these values, or, when axis_steps,
    bool axis_steps = false;          //   FREQ[i] = FREQ[i - 1] + FSTEP
    std::vector<std::int32_t> orignl; // ORIGNL[1 .. NPTS], only where asked for
    double FSTART = 0, FEND = 0;
    std::array<char, 72> COMENT{};
    double YMEAN = 0;        // the viewer's baseline level that goes with them
    std::uint64_t state = 0; // which state of the spectrum this is

    // Memory held, in bytes.
    [[nodiscard]] std::size_t bytes() const;
};

// The last point a snapshot keeps: NPTS, or the end of the flat continuation
// the viewer gives a spectrum narrower than the window.
[[nodiscard]] std::int32_t snapshot_extent(std::int32_t npts);

// Copies the store into `into` (reusing its memory). The axis is kept from
// point axis_from on: points before it are the same in every state a snapshot
// is put back into, since only an append changes the axis, and only beyond the
// old end.
void capture(SpectrumSnapshot& into, std::int32_t axis_from, bool with_original, double ymean);
// Puts a snapshot back into the store; returns its YMEAN.
double put_back(const SpectrumSnapshot& from);
// Whether the store still holds what `snap` holds (intensities, count, comment).
[[nodiscard]] bool store_matches(const SpectrumSnapshot& snap);

// The changes of one spectrum, oldest first. Holds at most DEPTH snapshots,
// counting those to undo and those to redo.
class SpectrumHistory {
  public:
    static constexpr std::size_t DEPTH = 8;

    // A new spectrum in the store: nothing to undo, nothing unsaved.
    void start();
    // A command changed the spectrum from `before` (which it takes) and was
    // called `what` (a literal); an append (`sets_original`) also renewed ORIGNL.
    void record(SpectrumSnapshot&& before, std::string_view what, bool sets_original);
    // Goes one change back or forward; the label of the change, or empty when
    // there is none. ymean is the viewer's level, exchanged with the snapshot's.
    // When memory runs short the store is left as it was.
    std::string_view undo(double& ymean);
    std::string_view redo(double& ymean);
    // Gives up the spare memory, or else the oldest undo step (or, with none,
    // the newest redo step), to free memory; false when there was nothing to
    // give up.
    bool drop_oldest();
    // After a change that could not be recorded (no memory): gives up every
    // step; the spectrum counts as changed.
    void forget();

    [[nodiscard]] std::size_t undo_count() const { return m_undo.size(); }
    [[nodiscard]] std::size_t redo_count() const { return m_redo.size(); }
    [[nodiscard]] std::uint64_t state() const { return m_state; }
    // Saved or loaded as it is now.
    void mark_saved() { m_saved = m_state; }
    [[nodiscard]] bool modified() const { return m_state != m_saved; }
    // A new state of the spectrum that no snapshot holds yet.
    std::uint64_t next_state() { return ++m_counter; }
    [[nodiscard]] std::size_t bytes() const;
    // The memory of a snapshot given up by the last change (a redo step it
    // cleared, the oldest undo step it pushed out), for the next change's copy
    // of the store: a fresh allocation of a large spectrum costs a page fault
    // every 4 KiB, more than the copy itself. Empty when there is none.
    [[nodiscard]] SpectrumSnapshot take_spare();

  private:
    struct Change {
        SpectrumSnapshot snap;
        std::string_view what;
        bool sets_original = false;
    };
    // One step from `from` to `to` (the undo and redo lists).
    std::string_view step(std::deque<Change>& from, std::deque<Change>& to, double& ymean,
                          bool redoing);
    // The store takes the change's state, the change takes the store's.
    void exchange(Change& change, double& ymean);
    void keep_spare(SpectrumSnapshot&& snap);

    std::deque<Change> m_undo, m_redo;
    SpectrumSnapshot m_spare;
    std::uint64_t m_state = 0, m_saved = 0, m_counter = 0;
};

// The history of the spectrum in the store, for the whole run.
SpectrumHistory& spectrum_history();

} // namespace korax
