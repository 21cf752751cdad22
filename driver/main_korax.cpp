// MAIN_KORAX: start-up, then the round of file choice, loading, the viewer and
// the outer menu. The run ends only at the menu's EXIT or at a fatal condition,
// both of which unwind from the window as RunEnded.
#include "driver/main_korax.h"

#include "analysis/autopk.h"
#include "base/format.h"
#include "base/utf8.h"
#include "driver/config_file.h"
#include "driver/file_choice.h"
#include "driver/startg.h"
#include "driver/title_screen.h"
#include "input/ascii.h"
#include "input/pelmo.h"
#include "spectrum/store.h"
#include "viewer/close_question.h"
#include "viewer/commands.h"
#include "viewer/extension_keys.h"
#include "viewer/undo.h"
#include "window/answer.h"
#include "window/inkey.h"
#include "window/sgame.h"
#include "window/window.h"

namespace korax {

namespace {

enum class Loaded { Yes, No, ZeroRange };

// Reads the opened file into the store: PELMO first, two-column ASCII when the
// header does not look like PELMO. No: the reader has reported the failure and
// a file is to be chosen again.
Loaded load_spectrum(FilePtr file) {
    switch (read_pelmo(file.get())) {
    case PelmoOutcome::Loaded:
        break;
    case PelmoOutcome::NotPelmo:
        // The ASCII reader opens the file again by name, as text.
        file.reset();
        if (!read_ascii_spectrum()) return Loaded::No;
        linearise_axis();
        break;
    case PelmoOutcome::RejectedAxis:
        return Loaded::No;
    case PelmoOutcome::Fatal:
        window().fatal_end();
    }
    file.reset();

    SpectrumStore& s = store();
    // An empty spectrum has no range either; the viewer must never get one.
    if (s.IYMIN == s.IYMAX || s.NPTS < 1) {
        window().write_line("");
        window().write_line(" ****ERROR, zero dynamic range in data");
        return Loaded::ZeroRange;
    }
    return Loaded::Yes;
}

void view(const SessionStart& start) {
    Window& w = window();
    LOOKFM(start);
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_cursor(true);
}

// The file name as the menu shows it: at most 25 characters, the end of a
// longer name after "...".
std::string menu_name(std::string_view fname) {
    fname = trim_right(fname);
    if (character_count(fname) <= 25) return std::string(fname);
    return "..." + std::string(last_characters(fname, 25));
}

enum class MenuChoice { AnotherSpectrum, AnotherLook };

// The close question before the spectrum is dropped; a close of the window
// while it is up means it, as a second close does in the viewer.
bool may_drop_spectrum() {
    Window& w = window();
    w.set_close_handler({});
    const bool yes = ask_before_close();
    w.set_close_handler(ask_before_close);
    return yes;
}

// The outer menu; `clear` false writes it below what the window shows. Its
// ways out that drop the spectrum (another spectrum, the exit, a close of the
// window) ask first while it holds changes that were not saved, as a close in
// the viewer does; any answer but Y shows the menu again.
MenuChoice outer_menu(bool clear) {
    Window& w = window();
    const CloseQuestionInViewer close_question;
    for (;; clear = true) {
        if (clear) {
            w.clear_window();
            w.set_color(1);
            SGAME();
            w.set_text_position(1, 1);
        }
        w.write_line("");
        w.write_line(blanks(9) + "-1 = EXIT");
        w.write_line(blanks(10) + "0 = another spectrum");
        w.write_line(blanks(10) + "1 = another look at the spectrum from  ", LineEnd::Stay);
        w.set_text_color(12);
        w.write_line(menu_name(store().FNAME));
        w.set_text_color(0);
        w.write_line("");
        w.write_line(blanks(10) + "... ", LineEnd::Stay);
        const auto answer = read_int<std::int16_t>(w.read_line(), 5);
        if (!answer) continue;
        if ((*answer == -1 || *answer == 0) && !may_drop_spectrum()) continue;
        if (*answer == -1) w.normal_exit();
        if (*answer == 0) return MenuChoice::AnotherSpectrum;
        // Another look needs a spectrum the viewer can show.
        if (*answer == 1 && store().NPTS >= 1) return MenuChoice::AnotherLook;
    }
}

} // namespace

void MAIN_KORAX(const SessionStart& start) {
    Window& w = window();
    store();
    std::int32_t found = 0;
    STARTG(found);
    draw_title_screen();
    draw_config_notice(found);
    w.set_text_color(0);
    w.set_text_background(7);
    store().FNAME.clear();
    forget_generic_entry();

    for (;;) {
        const Loaded loaded = load_spectrum(choose_spectrum_file());
        if (loaded == Loaded::No) continue;
        // A new spectrum: nothing to undo and nothing unsaved, and no lines
        // found in it yet.
        spectrum_history().start();
        peakfinder_lines().clear();
        show_spectrum_state();
        if (loaded == Loaded::Yes) {
            w.set_text_cursor(false);
            w.write_line("");
            w.write_line("  Ready to plot - press ENTER  ");
            wait_for_enter();
            view(start);
        }
        bool clear = loaded == Loaded::Yes;
        while (outer_menu(clear) == MenuChoice::AnotherLook) {
            view(start);
            clear = true;
        }
    }
}

} // namespace korax
