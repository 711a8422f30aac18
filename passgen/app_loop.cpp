#include "app_loop.h"

#include <curses.h>
#include <exception>

#include "clipboard_copy.h"
#include "dialogs.h"
#include "ending_signals.h"
#include "i18n.h"
#include "options_form.h"
#include "password_list.h"
#include "terminal.h"

int run_app(GenOptions options) {
    // Texts and passwords hold Windows-1252 letters.
    set_text_encoding(TextEncoding::cp1252);
    set_message_box_style(MessageBoxStyle::translated);
    // A clearing still waiting is carried out before the program ends by a
    // signal, and before it stops (its timer would stop with it).
    set_last_step(corvane::clear_clipboard_now);
    set_stop_step(corvane::clear_clipboard_now);
    zeylatui::App app;
    app_start(app);
    if (has_colors()) {
        init_pair(PAIR_FRAME, COLOR_YELLOW, COLOR_BLACK);
        init_pair(PAIR_FOCUS, COLOR_BLACK, COLOR_YELLOW);
        init_pair(PAIR_STATUS, COLOR_CYAN, COLOR_BLACK);
    }
    tui_select_language(app);

    for (;;) {
        bool generate = false;
        if (!tui_collect_options(app, options, generate)) break;
        if (!generate) continue;
        try {
            const std::vector<std::string> passwords = generate_passwords(options);
            tui_show_passwords(app, options, passwords);
        } catch (const std::exception& e) {
            tui_message_box(app, tr("err_title"), tr("err_gen_failed_prefix") + "\n" + e.what());
        } catch (...) {
            tui_message_box(app, tr("err_title"), tr("err_gen_failed_unknown"));
        }
    }
    // The user left: a clearing still waiting is carried out now.
    corvane::clear_clipboard_now();
    app_shutdown(app);
    // A signal that came during the clearing still ends the program by it.
    act_on_signals();
    return 0;
}
