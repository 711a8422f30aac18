// A curses standard screen that draws into /dev/null and reads no key, for
// fuzz targets that drive screen code: started once per process, sized per input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <curses.h>

#include "app.h"

inline zeylatui::App& memory_screen() {
    static zeylatui::App app;
    static const bool started = [] {
        unsetenv("LINES");
        unsetenv("COLUMNS");
        std::FILE* out = std::fopen("/dev/null", "w");
        std::FILE* in = std::fopen("/dev/null", "r");
        SCREEN* s = out && in ? newterm("xterm-256color", out, in) : nullptr;
        if (s == nullptr) std::abort();
        set_term(s);
        app_start(app);
        return true;
    }();
    (void)started;
    return app;
}

inline void memory_screen_resize(int rows, int cols) {
    memory_screen();
    resize_term(rows, cols);
    erase();
}

// The character in cell (y, x); L' ' for a blank cell.
inline wchar_t memory_screen_char(int y, int x) {
    cchar_t cell{};
    if (mvwin_wch(stdscr, y, x, &cell) == ERR) return L' ';
    wchar_t wc[CCHARW_MAX + 1] = {};
    attr_t attrs = 0;
    short pair = 0;
    getcchar(&cell, wc, &attrs, &pair, nullptr);
    return wc[0] == 0 ? L' ' : wc[0];
}

inline short memory_screen_pair(int y, int x) {
    cchar_t cell{};
    if (mvwin_wch(stdscr, y, x, &cell) == ERR) return -1;
    wchar_t wc[CCHARW_MAX + 1] = {};
    attr_t attrs = 0;
    short pair = 0;
    getcchar(&cell, wc, &attrs, &pair, nullptr);
    return pair;
}

// Refreshes update curses' picture of the screen but write nothing to the
// terminal: that output, which nothing here reads, is most of the cost of an
// input. This takes the place of curses' own wrefresh, so a target includes
// this header from one file only.
int wrefresh(WINDOW* window) { return wnoutrefresh(window); }
