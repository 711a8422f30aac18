#include "password_list.h"

#include <cstdio>

#include "clipboard_copy.h"
#include "dialogs.h"
#include "i18n.h"
#include "menu.h"

std::string corvane::copied_message(std::int32_t seconds, bool timer_started) {
    std::string text = tr("msg_copied_1") + "\n\n" + tr("msg_copied_2");
    if (timer_started) {
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, tr("msg_clip_will_clear").c_str(), static_cast<int>(seconds));
        text += "\n\n";
        text += buffer;
    }
    return text;
}

void copy_password_action(zeylatui::App& app, const GenOptions& options, const std::vector<std::string>& passwords,
                          std::size_t index) {
    if (!clipboard_set_text(passwords[index])) {
        tui_message_box(app, tr("warn_title"), tr("msg_clip_failed"));
        return;
    }
    const std::int32_t seconds = options.clipboard_clear_seconds;
    // Only a running timer is announced: the user relies on the clearing.
    const bool timer_started = seconds > 0 && corvane::schedule_clipboard_clear(seconds);
    tui_message_box(app, tr("copied_title"), corvane::copied_message(seconds, timer_started));
}

void tui_show_passwords(zeylatui::App& app, const GenOptions& options, const std::vector<std::string>& passwords) {
    if (passwords.empty()) {
        tui_message_box(app, tr("app_title"), tr("err_no_passwords"));
        return;
    }
    Menu menu;
    menu.app = &app;
    menu.title = tr("generated_title");
    menu.status = tr("menu_status");
    menu.wrap = true;
    menu.holds_secrets = true;
    std::vector<MenuItem> items;
    items.reserve(passwords.size());
    for (std::size_t i = 0; i < passwords.size(); ++i)
        items.push_back(MenuItem{
            passwords[i], [&app, &options, &passwords, i] { copy_password_action(app, options, passwords, i); }});
    menu_set_items(menu, std::move(items));
    run_menu(menu);
}
