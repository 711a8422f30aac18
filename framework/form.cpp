#include "form.h"

#include <algorithm>
#include <curses.h>

#include "cp1252.h"
#include "ending_signals.h"
#include "i18n.h"
#include "keys.h"
#include "terminal.h"

namespace {
KeyReader form_key_reader = nullptr;

struct FormBox {
    int top, left, height, width;
};

FormBox form_box() {
    const int rows = getmaxy(stdscr);
    const int cols = getmaxx(stdscr);
    FormBox b{};
    b.width = std::clamp(cols - 4, 40, 110);
    b.height = std::clamp(rows - 4, 12, 26);
    b.left = (cols - b.width) / 2;
    b.top = (rows - b.height) / 2;
    return b;
}

int button_width(const FormButton& button) { return static_cast<int>(button.label.size()) + 5; }

// The first button shown when the row is wider than the box: the fewest
// buttons are dropped on the left so that the focused one is seen.
std::size_t first_visible_button(const Form& form, int room) {
    const int focused = form.focus - static_cast<int>(form.fields.size());
    if (focused < 0 || focused >= static_cast<int>(form.buttons.size())) return 0;
    const auto last = static_cast<std::size_t>(focused);
    std::size_t first = 0;
    auto span = [&] {
        int w = -1;
        for (std::size_t j = first; j <= last; ++j) w += button_width(form.buttons[j]);
        return w;
    };
    while (first < last && span() > room) ++first;
    return first;
}

// Whether typed text is UTF-8; a Windows-1252 program keeps to printable ASCII.
bool typing_utf8() { return text_encoding() == TextEncoding::utf8; }

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the UTF-8 letter a lead byte opens, 0 for any other byte.
std::size_t utf8_length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The letters of a value as drawn: each valid UTF-8 sequence is one, every
// other byte one by itself; in a Windows-1252 program every byte is one.
std::vector<std::string> value_letters(const std::string& value) {
    std::vector<std::string> letters;
    for (std::size_t i = 0; i < value.size();) {
        char32_t cp = 0;
        std::size_t n = typing_utf8() ? decode_utf8(value, i, cp) : 1;
        if (n == 0) n = 1;
        letters.push_back(value.substr(i, n));
        i += n;
    }
    return letters;
}

// Cells of one letter of a value. A stray byte that is no UTF-8 counts one
// cell: alone the terminal layer may drop it as part of a cut letter, but
// within the value it shows as a Windows-1252 letter.
int letter_cells(const std::string& letter) {
    const bool stray = letter.size() == 1 && static_cast<unsigned char>(letter[0]) >= 0x80;
    return std::max(terminal_cells(letter), stray ? 1 : 0);
}

// The field's text between the brackets, exactly `width` cells: a masked
// value shows one '*' per letter; a long one shows the whole letters at its end.
std::string field_cell_text(const FormField& field, int width) {
    std::vector<std::string> letters = value_letters(field.value);
    if (field.masked)
        for (std::string& letter : letters) letter.assign(1, '*');
    std::string shown;
    int used = 0;
    for (auto it = letters.rbegin(); it != letters.rend(); ++it) {
        const int cells = letter_cells(*it);
        if (used + cells > width) break;
        shown.insert(0, *it);
        used += cells;
    }
    return shown + std::string(static_cast<std::size_t>(std::max(width - terminal_cells(shown), 0)), ' ');
}

// Removes the last letter: a whole UTF-8 sequence, or one byte.
void erase_last_letter(std::string& value) {
    if (value.empty()) return;
    std::size_t start = value.size() - 1;
    if (typing_utf8()) {
        while (start > 0 && value.size() - start < 4 && is_continuation(static_cast<unsigned char>(value[start])))
            --start;
        char32_t cp = 0;
        if (decode_utf8(value, start, cp) != value.size() - start) start = value.size() - 1;
    }
    value.erase(start);
}

// The keyboard delivers a UTF-8 letter one byte per key; its bytes wait here
// until they form a whole letter.
class PendingLetter {
public:
    // Takes one byte from 0x80 to 0xFF; returns a complete letter once the
    // bytes form one, otherwise the empty string. Bytes that cannot be part
    // of a letter are dropped.
    std::string take(unsigned char byte) {
        if (!bytes_.empty() && !is_continuation(byte)) bytes_.clear();
        if (bytes_.empty()) {
            if (utf8_length(byte) != 0) bytes_ += static_cast<char>(byte);
            return {};
        }
        bytes_ += static_cast<char>(byte);
        if (bytes_.size() < utf8_length(static_cast<unsigned char>(bytes_[0]))) return {};
        std::string letter;
        letter.swap(bytes_);
        char32_t cp = 0;
        // C1 controls are as unprintable as the ASCII ones.
        if (decode_utf8(letter, 0, cp) != letter.size() || (cp >= 0x80 && cp <= 0x9F)) return {};
        return letter;
    }
    void clear() { bytes_.clear(); }

private:
    std::string bytes_;
};

void insert_text(FormField& field, const std::string& text) {
    if (field.value.size() + text.size() <= static_cast<std::size_t>(std::max(field.max_len, 0)))
        field.value += text;
    else
        beep();
}

int read_form_key() {
    if (form_key_reader == nullptr) return read_screen_key();
    const int key = form_key_reader();
    // A program's own reader fails its read on a signal like any other.
    if (key == ERR && act_on_signals()) return KEY_RESIZE;
    return key;
}

void draw_buttons(Form& form, const FormBox& b) {
    const int row = b.top + b.height - 4;
    const int nfields = static_cast<int>(form.fields.size());
    int total = 0;
    for (const FormButton& button : form.buttons) total += button_width(button);
    for (std::size_t j = 0; j < form.buttons.size(); ++j)
        form.buttons[j].focused = form.focus == nfields + static_cast<int>(j);

    // Drawn in place while the row ends inside the right border.
    if (total - 1 <= b.width - 3) {
        int col = b.left + std::clamp((b.width - total + 1) / 2, 2, b.width - 2);
        for (FormButton& button : form.buttons) {
            draw_focusable(row, col, "[ " + button.label + " ]", button.focused);
            col += button_width(button);
        }
        return;
    }

    // A row wider than the box scrolls with the focus; '<' and '>' say that
    // buttons lie beyond the edges.
    const int room = b.width - 8;
    const std::size_t first = first_visible_button(form, room);
    int col = b.left + 4;
    std::size_t j = first;
    for (; j < form.buttons.size(); ++j) {
        FormButton& button = form.buttons[j];
        if (j > first && col - (b.left + 4) + button_width(button) - 1 > room) break;
        draw_focusable(row, col, "[ " + button.label + " ]", button.focused);
        col += button_width(button);
    }
    if (first > 0) draw_text(row, b.left + 2, "<");
    if (j < form.buttons.size()) draw_text(row, b.left + b.width - 3, ">");
}
}  // namespace

FormField make_form_field(const char* label, const std::string& value, int max_len) {
    FormField field;
    field.label = label;
    field.value = value;
    field.max_len = max_len;
    return field;
}

void form_set_buttons(Form& form, std::vector<FormButton>&& buttons) { form.buttons = std::move(buttons); }

std::string toggle_label(const char* label, bool on) {
    return std::string(label) + ": " + tr(on ? "toggle_on" : "toggle_off");
}

void draw_form(Form& form) {
    clear();
    const FormBox b = form_box();
    draw_box(b.top, b.left, b.height, b.width, PAIR_FRAME);

    const std::string title = " " + form.title + " ";
    draw_text(b.top, b.left + std::clamp((b.width - static_cast<int>(title.size())) / 2, 2, b.width - 2), title,
              PAIR_FRAME);
    draw_text(b.top + b.height - 2, b.left + 2, fit_text(form.status, b.width - 4), PAIR_STATUS);

    const int label_width = std::min(b.width - 10, 28);
    const int value_width = std::clamp(b.width - label_width - 8, 10, 60);
    int row = b.top + 2;
    for (std::size_t i = 0; i < form.fields.size(); ++i) {
        FormField& field = form.fields[i];
        field.focused = form.focus == static_cast<int>(i);
        draw_text(row, b.left + 3, fit_text(field.label, label_width));
        // Appended rather than "[" + text + "]": GCC 12 warns falsely on the
        // latter (-Wrestrict inside std::string, GCC bugs 105329 and 105651).
        std::string cell = "[";
        cell += field_cell_text(field, value_width);
        cell += ']';
        draw_focusable(row, b.left + 3 + label_width + 2, cell, field.focused);
        row += 2;
        if (row >= b.top + b.height - 5) break;
    }
    for (std::size_t i = 0; i < form.fields.size(); ++i) form.fields[i].focused = form.focus == static_cast<int>(i);

    draw_buttons(form, b);
    terminal_refresh();
}

void set_form_key_reader(KeyReader reader) { form_key_reader = reader; }

int run_form(Form& form) {
    const int nfields = static_cast<int>(form.fields.size());
    const int n = nfields + static_cast<int>(form.buttons.size());
    PendingLetter pending;
    for (;;) {
        draw_form(form);
        const int key = read_form_key();
        const bool high_byte = key >= 0x80 && key <= 0xFF;
        // Any other key ends a letter left half typed.
        if (!high_byte) pending.clear();
        // ERR from a blocking read means the terminal is gone: leave as Esc
        // would rather than spin on a dead input.
        if (key == 27 || key == ERR) return TUI_CANCELLED;
        if (key == 9 || key == KEY_DOWN) {
            if (n > 0) form.focus = (form.focus + 1) % n;
            continue;
        }
        if (key == KEY_BTAB || key == KEY_UP) {
            if (n > 0) form.focus = (form.focus - 1 + n) % n;
            continue;
        }
        const int b = form.focus - nfields;
        if (b >= 0 && b < static_cast<int>(form.buttons.size())) {
            if (key == 10 || key == 13 || key == KEY_ENTER) {
                if (form.buttons[static_cast<std::size_t>(b)].action)
                    form.buttons[static_cast<std::size_t>(b)].action();
                return b;
            }
            continue;
        }
        if (form.focus >= 0 && form.focus < nfields) {
            FormField& field = form.fields[static_cast<std::size_t>(form.focus)];
            if (key == KEY_BACKSPACE || key == 127 || key == 8) {
                erase_last_letter(field.value);
            } else if (key >= 32 && key <= 126) {
                insert_text(field, std::string(1, static_cast<char>(key)));
            } else if (high_byte && typing_utf8()) {
                const std::string letter = pending.take(static_cast<unsigned char>(key));
                if (!letter.empty()) insert_text(field, letter);
            }
        }
    }
}
