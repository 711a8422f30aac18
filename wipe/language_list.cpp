#include "language_list.h"

#include <curses.h>

#include "i18n.h"
#include "key_reader.h"
#include "palette.h"
#include "terminal.h"

namespace {
struct LanguageEntry {
    const char* label;
    const char* code;
};

const LanguageEntry kEntries[] = {
    {"1) English", "en"}, {"2) Portuguese (Brazil)", "pt_br"},
    {"3) Spanish", "es"}, {"4) French", "fr"},
    {"5) German", "de"},  {"6) Italian", "it"},
};
constexpr int kCount = 6;

// 0x18 and 0x19 are the console's up and down arrows.
const std::string kHint = "Use \x18/\x19 (arrows), W/S, or press 1-6. Enter = select. Esc = keep default.";

void draw_language_list(int selected) {
    const int top = (getmaxy(stdscr) - 14) / 2;
    const int left = (getmaxx(stdscr) - 70) / 2;
    clear();
    draw_box(top, left, 14, 70, PAIR_FOCUS);
    draw_text(top + 1, left + 2, "Language", PAIR_STATUS);
    draw_text(top + 3, left + 2, kHint);
    for (int i = 0; i < kCount; ++i)
        draw_text(top + 5 + i, left + 4, kEntries[i].label, i == selected ? PAIR_HIGHLIGHT : 0);
    draw_text(top + 12, left + 2, "Enter: select   Esc: keep default", PAIR_FOCUS);
    terminal_refresh();
}
}  // namespace

bool pick_language_list(zeylatui::App& app, std::string& lang) {
    (void)app;
    int selected = 0;
    for (int i = 0; i < kCount; ++i)
        if (lang == kEntries[i].code) selected = i;

    for (;;) {
        draw_language_list(selected);
        const int key = read_key();
        if (key >= '1' && key <= '6') {
            lang = kEntries[key - '1'].code;
            break;
        }
        if (key == 27 || key == ERR) break;  // ERR: the terminal is gone
        if (key == 10 || key == 13 || key == KEY_ENTER) {
            lang = kEntries[selected].code;
            break;
        }
        if (key == KEY_UP || key == 'K' || key == 'W' || key == 'k' || key == 'w')
            selected = (selected + kCount - 1) % kCount;
        else if (key == KEY_DOWN || key == 9 || key == 'J' || key == 'S' || key == 'j' || key == 's')
            selected = (selected + 1) % kCount;
    }
    set_language(lang);
    return true;
}
