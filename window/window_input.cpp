// The window's keys: one key at a time with the text cursor shown while
// waiting, typed lines with their echo, window events that arrive as keys, and
// the file-open box.
#include "window/window.h"

#include "base/utf8.h"
#include "window/cancel.h"
#include "window/frontend.h"

#include <string>

namespace korax {

std::string Window::read_line() {
    return read_typed_line(nullptr).text;
}

TypedName Window::read_line_or_box(std::string_view filter_list, EnterAlone enter) {
    const BoxOffer offer{filter_list, enter};
    return read_typed_line(&offer);
}

TypedName Window::read_typed_line(const BoxOffer* offer) {
    if (m_state.pending_new_row) new_row();
    m_state.pending_new_row = false;
    TypedName answer;
    std::string& line = answer.text;
    // The box in place of the typing; false when it was cancelled.
    const auto choose = [&] {
        const auto chosen = open_file_box(offer->filter_list);
        if (!chosen || chosen->empty()) return false;
        line = replace_echo(line, *chosen);
        answer.chosen_in_box = true;
        return true;
    };
    for (;;) {
        const int k = next_key();
        if (k == 13) {
            const bool blank = line.find_first_not_of(' ') == std::string::npos;
            if (offer && offer->enter == EnterAlone::OpensBox && blank && !choose()) continue;
            break;
        }
        cancel_on_escape(k);
        if (k == 9 && offer) {
            if (choose()) break;
            continue;
        }
        if (k == 0 || k == 224) {
            // A key without a character has no place in a typed line; a dropped
            // file may stand for the whole answer.
            if (next_key() == KEY_DROP && m_drop_as_typed_line) {
                line = replace_echo(line, m_dropped_path);
                break;
            }
            continue;
        }
        if (k == 8) {
            if (line.empty()) continue;
            drop_last_character(line);
            unecho_character();
            continue;
        }
        // Codes 128..255 from a front-end that sends Latin-1 are its characters.
        const char32_t c = k >= text_key_base ? char32_t(k - text_key_base) : char32_t(k);
        // Other control codes (ESC, TAB, ...) would only corrupt the answer.
        if (k < 32 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || (c >= 127 && c < 160))
            continue;
        echo_character(c);
        append_utf8(line, c);
    }
    m_state.pending_new_row = true;
    return answer;
}

int Window::next_key() {
    // The bar goes before the key is awaited and comes off afterwards, even when
    // the run ends while waiting, so that a picture never keeps a stale cursor.
    const Rect bar = m_state.text_cursor ? text_cursor_bar() : Rect{};
    const std::uint8_t mask = text_cursor_mask();
    toggle_text_cursor(bar, mask);
    struct Remove {
        Window* w;
        Rect bar;
        std::uint8_t mask;
        ~Remove() {
            if (bar.empty()) return;
            w->m_front_end.text_cursor(Rect{}, 0);
            w->toggle_text_cursor(bar, mask);
        }
    } remove{this, bar, mask};
    flush();
    if (!bar.empty()) m_front_end.text_cursor(bar, mask);
    return next_code();
}

int Window::next_code() {
    for (;;) {
        int code = 0;
        try {
            code = m_front_end.wait_key();
        } catch (const CloseRequested&) {
            m_after_zero = false;
            // A second close while the question of the first is up means it.
            if (!m_close_handler || m_in_close_handler) normal_exit();
            struct Running {
                bool& flag;
                explicit Running(bool& f) : flag(f) { flag = true; }
                ~Running() { flag = false; }
            } running(m_in_close_handler);
            if (m_close_handler()) normal_exit();
            // The question may have been taken away again: show what is left.
            flush();
            continue;
        }
        if (m_after_zero) {
            m_after_zero = false;
            if (code == KEY_CLICK) {
                const CanvasPoint p = m_front_end.click_position();
                m_last_click = Point{p.x, p.y};
            } else if (code == KEY_DROP) {
                m_dropped_path = m_front_end.dropped_path();
            } else if (code == KEY_WHEEL_UP || code == KEY_WHEEL_DOWN) {
                m_last_wheel.reset();
                if (const auto p = m_front_end.wheel_position()) m_last_wheel = Point{p->x, p->y};
            }
        } else {
            m_after_zero = code == 0 || code == 224;
        }
        return code;
    }
}

void Window::echo_character(char32_t c) {
    if (m_state.column > columns) new_row();
    put_char_cell(m_state.row, m_state.column, c);
    ++m_state.column;
}

void Window::unecho_character() {
    if (m_state.column > 1) {
        --m_state.column;
    } else if (m_state.row > 1) {
        --m_state.row;
        m_state.column = columns;
    }
    put_char_cell(m_state.row, m_state.column, ' ');
}

std::string Window::replace_echo(const std::string& typed, const std::string& name) {
    for (std::size_t i = character_count(typed); i > 0; --i)
        unecho_character();
    for (std::size_t i = 0; i < name.size();)
        echo_character(next_character(name, i));
    return name;
}

int Window::get_char() {
    const int k = next_key();
    if (k < text_key_base) return k;
    const int c = k - text_key_base;
    return c <= 0xFF && c != 224 ? c : other_character;
}

std::optional<std::string> Window::open_file_box(std::string_view filter_list) {
    flush();
    try {
        return m_front_end.open_file_box(parse_filter_list(filter_list));
    } catch (const CloseRequested&) {
        // The box cannot ask a question of its own; closing the main window
        // while it is up is the operator's way out of the whole run.
        normal_exit();
    }
}

void Window::set_close_handler(std::function<bool()> handler) {
    m_close_handler = std::move(handler);
}

} // namespace korax
