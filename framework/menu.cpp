#include "menu.h"

#include <algorithm>
#include <curses.h>

#include "ascii.h"
#include "keys.h"
#include "terminal.h"


bool filter_match(const std::string& label, const std::string& filter) {
    if (filter.empty()) return true;
    return platform::ascii_lower(label).find(platform::ascii_lower(filter)) != std::string::npos;
}

int find_filter_match(const Menu& menu, int from) {
    const int n = static_cast<int>(menu.items.size());
    if (n == 0) return -1;
    const int start = from < 0 ? 0 : std::min(from, n - 1);
    for (int i = start; i < n; ++i)
        if (filter_match(menu.items[static_cast<std::size_t>(i)].label, menu.filter)) return i;
    for (int i = 0; i < start; ++i)
        if (filter_match(menu.items[static_cast<std::size_t>(i)].label, menu.filter)) return i;
    return -1;
}

void menu_set_items(Menu& menu, std::vector<MenuItem>&& items) { menu.items = std::move(items); }

void draw_menu(Menu& menu) {
    // A screen of secrets is never cleared: see mark_secret_rows.
    if (menu.holds_secrets)
        erase();
    else
        clear();
    const int rows = getmaxy(stdscr);
    const int cols = getmaxx(stdscr);
    const int width = std::clamp(cols - 4, 30, 120);
    const int height = std::max(rows - 4, 10);
    const int left = (cols - width) / 2;
    const int top = (rows - height) / 2;
    draw_box(top, left, height, width, PAIR_FRAME);

    const std::string title = " " + menu.title + " ";
    draw_text(top, left + std::clamp((width - static_cast<int>(title.size())) / 2, 2, width - 2), title, PAIR_FRAME);
    draw_text(top + 1, left + 2, fit_text("Filter: " + menu.filter, width - 4));
    draw_text(top + height - 2, left + 2, fit_text(menu.status, width - 4), PAIR_STATUS);

    const int visible = std::max(height - 6, 1);
    const int label_width = std::max(width - 4, 1);
    const int n = static_cast<int>(menu.items.size());
    if (n == 0) {
        menu.selected = 0;
        menu.top = 0;
        draw_text(top + 3, left + 2, "<empty>");
    } else {
        menu.selected = menu.selected < 0 ? 0 : std::min(menu.selected, n - 1);
        const int max_top = std::max(n - visible, 0);
        menu.top = std::clamp(menu.top, 0, max_top);
        if (menu.selected < menu.top) menu.top = menu.selected;
        if (menu.selected >= menu.top + visible) menu.top = menu.selected - visible + 1;
        menu.top = std::clamp(menu.top, 0, max_top);
        for (int k = 0; k < visible && menu.top + k < n; ++k) {
            const int index = menu.top + k;
            draw_focusable(top + 3 + k, left + 2,
                           fit_text(menu.items[static_cast<std::size_t>(index)].label, label_width),
                           index == menu.selected);
        }
    }
    // The filter line and the rows; the frame, title and status stay.
    if (menu.holds_secrets) mark_secret_rows(top + 1, left + 1, height - 3, width - 2);
    terminal_refresh();
}

int run_menu(Menu& menu) {
    const int n = static_cast<int>(menu.items.size());
    if (n == 0) {
        draw_menu(menu);
        for (int key = read_screen_key(); key != 27 && key != ERR; key = read_screen_key()) {
        }
        blank_secret_rows();
        return TUI_CANCELLED;
    }
    menu.selected = menu.selected < 0 ? 0 : std::min(menu.selected, n - 1);
    menu.top = 0;
    for (;;) {
        if (!menu.filter.empty() &&
            !filter_match(menu.items[static_cast<std::size_t>(menu.selected)].label, menu.filter)) {
            const int i = find_filter_match(menu, menu.selected);
            if (i >= 0) menu.selected = i;
        }
        draw_menu(menu);
        const int key = read_screen_key();
        // ERR from a blocking read means the terminal is gone: leave as Esc would.
        if (key == 27 || key == ERR) {
            blank_secret_rows();
            return TUI_CANCELLED;
        }
        const int page = std::max(getmaxy(stdscr) - 8, 1);
        if (key == KEY_UP) {
            menu.selected = menu.selected - 1 >= 0 ? menu.selected - 1 : (menu.wrap ? n - 1 : 0);
        } else if (key == KEY_DOWN) {
            menu.selected = menu.selected + 1 < n ? menu.selected + 1 : (menu.wrap ? 0 : n - 1);
        } else if (key == KEY_PPAGE) {
            menu.selected = std::max(menu.selected - page, 0);
        } else if (key == KEY_NPAGE) {
            menu.selected = std::min(menu.selected + page, n - 1);
        } else if (key == KEY_HOME) {
            menu.selected = 0;
        } else if (key == KEY_END) {
            menu.selected = n - 1;
        } else if (key == KEY_BACKSPACE || key == 127 || key == 8) {
            if (menu.filter.empty())
                beep();
            else
                menu.filter.pop_back();
        } else if (key == 10 || key == 13 || key == KEY_ENTER) {
            if (menu.selected >= 0 && menu.selected < n) {
                const auto chosen = static_cast<std::size_t>(menu.selected);
                // The action may open a screen of its own, which clears.
                blank_secret_rows();
                if (menu.items[chosen].action) menu.items[chosen].action();
                return menu.selected;
            }
        } else if (key >= 32 && key <= 126) {
            menu.filter += static_cast<char>(key);
            const int i = find_filter_match(menu, std::clamp(menu.selected, 0, n - 1));
            if (i >= 0)
                menu.selected = i;
            else
                beep();
        }
    }
}
