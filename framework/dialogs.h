// The message box and the language menu.
#pragma once

#include <string>

#include "app.h"

// Each program's message box has its own status line and field label.
enum class MessageBoxStyle {
    translated,     // tr("msg_box_status"), tr("msg_label")
    search,         // tr("lumo_msg_ok_continue"), "Message"
    fixed_english,  // "Message", "Text"
};
void set_message_box_style(MessageBoxStyle style);

void tui_message_box(zeylatui::App& app, const std::string& title, const std::string& message);
void tui_select_language(zeylatui::App& app);
