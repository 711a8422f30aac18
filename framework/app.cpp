#include "app.h"

#include <curses.h>

#include <algorithm>
#include <mutex>

#include "ending_signals.h"
#include "terminal.h"
#include "user_locale.h"

namespace zeylatui {
App::~App() { app_shutdown(*this); }
}  // namespace zeylatui

namespace {
// The App whose curses a signal leaves and takes up again.
zeylatui::App* running_app = nullptr;

struct SecretRows {
    int top = 0, left = 0, height = 0, width = 0;
};
SecretRows secret_rows;

bool curses_running() { return running_app != nullptr && running_app->active; }

void leave_screen() {
    if (!curses_running()) return;
    blank_secret_rows();
    std::lock_guard<std::mutex> lock(terminal_mutex());
    endwin();
}

// After a stop the terminal shows whatever ran meanwhile: all of it is drawn again.
void resume_screen() {
    if (!curses_running()) return;
    {
        std::lock_guard<std::mutex> lock(terminal_mutex());
        clearok(curscr, TRUE);
        refresh();
    }
    // A key read cut short by the signal leaves curses one ERR to hand out
    // next, which a screen would take for a terminal that has gone; a key
    // typed meanwhile is put back.
    nodelay(stdscr, TRUE);
    const int key = wgetch(stdscr);
    nodelay(stdscr, FALSE);
    if (key != ERR) ungetch(key);
}
}  // namespace

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
    running_app = &app;
    set_screen_steps(leave_screen, resume_screen);
}

void app_shutdown(zeylatui::App& app) {
    if (running_app == &app) running_app = nullptr;
    if (!app.active) return;
    blank_secret_rows();
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

void draw_focusable(int y, int x, const std::string& text, bool focused) {
    if (!focused) {
        put_text(y, x, text);
    } else if (has_colors()) {
        draw_text(y, x, text, PAIR_FOCUS);
    } else {
        attron(A_REVERSE);
        put_text(y, x, text);
        attroff(A_REVERSE);
    }
}

void mark_secret_rows(int top, int left, int height, int width) { secret_rows = {top, left, height, width}; }

void blank_secret_rows() {
    if (secret_rows.height <= 0 || secret_rows.width <= 0) return;
    // Row by row, never the whole screen: an all-blank picture may be sent
    // as a clear-screen, the very thing that copies the rows into history.
    const int first = std::max(secret_rows.top, 0);
    const int last = std::min(secret_rows.top + secret_rows.height, getmaxy(stdscr));
    const int left = std::max(secret_rows.left, 0);
    const int right = std::min(secret_rows.left + secret_rows.width, getmaxx(stdscr));
    for (int y = first; y < last && left < right; ++y) mvhline(y, left, ' ', right - left);
    secret_rows = {};
    terminal_refresh();
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
