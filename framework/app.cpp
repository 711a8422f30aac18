#include "app.h"

#include <curses.h>

#include "user_locale.h"
#include "terminal.h"

namespace zeylatui {
App::~App() { app_shutdown(*this); }
}  // namespace zeylatui

void app_start(zeylatui::App& app) {
    // Accented letters must reach the terminal as letters, even when the
    // user's locale names one that is not installed.
    use_utf8_terminal_locale();
    // A lone Esc must close a screen at once, not after curses' default second.
    set_escdelay(25);
    // A screen tests opened on a pseudo-terminal is used as it stands.
    if (stdscr == nullptr) initscr();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
        init_pair(PAIR_FRAME, COLOR_CYAN, -1);
        init_pair(PAIR_FOCUS, COLOR_BLACK, COLOR_CYAN);
        init_pair(PAIR_STATUS, COLOR_YELLOW, -1);
    }
    app.active = true;
}

void app_shutdown(zeylatui::App& app) {
    if (!app.active) return;
    endwin();
    app.active = false;
}

void pair_on(int pair) {
    if (pair > 0 && has_colors()) attron(COLOR_PAIR(pair));
}

void pair_off(int pair) {
    if (pair > 0 && has_colors()) attroff(COLOR_PAIR(pair));
}

void draw_text(int y, int x, const std::string& text, int pair) {
    pair_on(pair);
    put_text(y, x, text);
    pair_off(pair);
}

void draw_box(int y, int x, int h, int w, int pair) {
    if (h < 2 || w < 2) return;
    pair_on(pair);
    mvaddch(y, x, ACS_ULCORNER);
    mvhline(y, x + 1, ACS_HLINE, w - 2);
    mvaddch(y, x + w - 1, ACS_URCORNER);
    mvvline(y + 1, x, ACS_VLINE, h - 2);
    mvvline(y + 1, x + w - 1, ACS_VLINE, h - 2);
    mvaddch(y + h - 1, x, ACS_LLCORNER);
    mvhline(y + h - 1, x + 1, ACS_HLINE, w - 2);
    mvaddch(y + h - 1, x + w - 1, ACS_LRCORNER);
    pair_off(pair);
}

std::string fit_text(const std::string& s, int w) {
    if (w < 1) return {};
    const auto width = static_cast<std::size_t>(w);
    if (s.size() <= width) return s;
    if (w < 4) return s.substr(0, width);
    return s.substr(0, width - 3) + "...";
}
