// The safety net around each key of the viewer. Before a key that can change
// the spectrum the store is copied (12 MB at 3,000,000 points, a few
// milliseconds); the copy puts the spectrum back after Esc or a failure, and
// becomes the undo step when the key did change it.
#include "viewer/command_guard.h"

#include "base/format.h"
#include "output/savesp.h"
#include "spectrum/store.h"
#include "viewer/display.h"
#include "viewer/extension_keys.h"
#include "viewer/key_table.h"
#include "viewer/lookfm.h"
#include "viewer/reference.h"
#include "viewer/undo.h"
#include "window/cancel.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <array>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>

namespace korax {

std::string_view change_of_key(std::int16_t code) {
    const ViewerKey* key = find_viewer_key(code);
    return key ? key->change : std::string_view();
}

std::string failure_row(std::int16_t code, std::string_view what) {
    std::string key = code > 32 && code < 127 ? std::string(1, static_cast<char>(code))
                                              : "code " + std::to_string(code);
    std::string row = " Key " + key + " failed: " + std::string(what);
    const std::string tail = " - ENTER: spectrum as before";
    // The reason gives way, so that the way back is always on the row.
    if (row.size() + tail.size() > 80) row.resize(80 - tail.size());
    return pad(row + tail, 80);
}

namespace {

// Copies the store before a change; when memory is short the oldest undo steps
// give theirs up first. Throws std::bad_alloc only when even that is not enough.
void take_snapshot(SpectrumSnapshot& snap, bool with_original, double ymean) {
    snap = spectrum_history().take_spare();
    for (;;) {
        try {
            capture(snap, store().NPTS + 1, with_original, ymean);
            return;
        } catch (const std::bad_alloc&) {
            snap = SpectrumSnapshot{};
            if (!spectrum_history().drop_oldest()) throw;
        }
    }
}

// Back to the viewer as it was before the key: spectrum, limits and picture.
void put_viewer_back(ViewerState& v, const ViewerState& before, const SpectrumSnapshot* snap,
                     std::int32_t iymin, std::int32_t iymax) {
    SpectrumStore& s = store();
    if (snap) (void)put_back(*snap);
    s.IYMIN = iymin;
    s.IYMAX = iymax;
    v = before;
}

void redraw_after_interruption(ViewerState& v) {
    Window& w = window();
    w.set_write_mode(WriteMode::Copy);
    w.set_line_style(0xFFFF);
    full_redraw(v);
}

void report_failure(std::int16_t code, std::string_view what) {
    write_message_rows(window(), failure_row(code, what), std::nullopt, 12);
    wait_for_enter();
}

// The spectrum as it was before the command that runs now, if it can change it.
const SpectrumSnapshot* g_running = nullptr;

class RunningCommand {
  public:
    explicit RunningCommand(const SpectrumSnapshot* before) { g_running = before; }
    ~RunningCommand() { g_running = nullptr; }
    RunningCommand(const RunningCommand&) = delete;
    RunningCommand& operator=(const RunningCommand&) = delete;
};

// A row or the title after a finished command: failing to show it must not
// pass for a failed command.
template <class F> void tell_quietly(F&& show) {
    try {
        show();
    } catch (const std::bad_alloc&) {
    } catch (const std::runtime_error&) {
    }
}

} // namespace

bool running_command_changed_spectrum() {
    return g_running && !store_matches(*g_running);
}

bool viewer_key(ViewerState& v, std::int16_t code) {
    SpectrumStore& s = store();
    SpectrumHistory& history = spectrum_history();
    const std::string_view change = change_of_key(code);
    const bool appends = code == '&';
    const std::int32_t iymin = s.IYMIN, iymax = s.IYMAX;
    std::optional<ViewerState> before;
    SpectrumSnapshot snap;
    bool have_snap = false;
    // A fixed buffer: copying the reason must not need memory of its own.
    std::array<char, 81> failure{};
    const auto note = [&failure](const char* text) {
        std::strncpy(failure.data(), text, failure.size() - 1);
    };
    try {
        before.emplace(v);
        if (!change.empty()) {
            take_snapshot(snap, appends, v.YMEAN);
            have_snap = true;
            note_store_may_change();
        }
        const auto saves = spectrum_saves();
        bool stays;
        {
            EscapeCancels escape;
            const RunningCommand running(have_snap ? &snap : nullptr);
            stays = lookfm_key(v, code);
        }
        // The command is done: nothing after this point undoes it.
        have_snap = have_snap && !store_matches(snap);
        if (spectrum_saves() != saves) history.mark_saved();
        if (have_snap) {
            const bool kept_length = snap.NPTS == s.NPTS;
            const std::string_view what =
                appends && kept_length ? std::string_view("restore by &") : change;
            try {
                history.record(std::move(snap), what, appends);
            } catch (const std::bad_alloc&) {
                history.forget();
            }
            // An & that appended nothing changed the spectrum only by putting
            // back the entry's over processing: said, as it would otherwise be
            // lost without a word. An & that changed nothing says nothing.
            if (appends && kept_length) tell_quietly([&] { note_append_restore(v); });
        }
        tell_quietly(show_spectrum_state);
        return stays;
    } catch (const RunEnded&) {
        throw;
    } catch (const Cancelled&) {
        if (before) put_viewer_back(v, *before, have_snap ? &snap : nullptr, iymin, iymax);
        note_store_may_change();
        redraw_after_interruption(v);
        return true;
    } catch (const std::bad_alloc&) {
        note("not enough memory");
    } catch (const std::exception& e) {
        note(e.what());
    } catch (...) {
        note("an unexpected error");
    }
    // Out of the handler, so that what follows may itself allocate and wait.
    if (before) put_viewer_back(v, *before, have_snap ? &snap : nullptr, iymin, iymax);
    note_store_may_change();
    report_failure(code, failure.data());
    redraw_after_interruption(v);
    show_spectrum_state();
    return true;
}

} // namespace korax
