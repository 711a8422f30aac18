#include <curses.h>

#include "app.h"
#include "banner.h"
#include "console.h"
#include "dialogs.h"
#include "ending_signals.h"
#include "i18n.h"
#include "menu.h"
#include "part_file.h"
#include "receive_screen.h"
#include "send_screen.h"
#include "terminal_check.h"

int main() {
    // Closed connections are errors of the transfer, never an end of the program.
    watch_ending_signals(PipeSignal::ignored);
    // A named temporary of a receive still arriving goes with the program.
    set_last_step(tovrel::remove_unfinished_part_files);
    if (!check_terminal()) return 1;
    show_banner("Tovrel", "v3.0.0");
    SetConsoleOutputCP(65001);
    SetConsoleCP(65001);
    set_language("en");
    zeylatui::App app;
    app_start(app);
    // Keys pressed while the banner waited were meant for no screen.
    flushinp();
    for (;;) {
        Menu menu;
        menu.app = &app;
        menu.title = tr("p2p_title");
        menu.status = tr("p2p_main_status");
        zeylatui::App* a = &app;
        menu_set_items(menu, {MenuItem{tr("p2p_menu_send"), [a] { run_send_tui(*a); }},
                              MenuItem{tr("p2p_menu_recv"), [a] { run_receive_tui(*a); }},
                              MenuItem{tr("p2p_menu_lang"), [a] { tui_select_language(*a); }},
                              MenuItem{tr("p2p_menu_exit"), [] {}}});
        const int chosen = run_menu(menu);
        if (chosen == TUI_CANCELLED || chosen == 3) break;
    }
    app_shutdown(app);
    return 0;
}
