// The wizard screen: labelled one-line fields, a row of buttons, a status line.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app.h"

inline constexpr int TUI_CANCELLED = -1;

struct FormField {
    std::string label;
    std::string value;
    bool masked = false;
    bool focused = false;
    int max_len = 128;
};

struct FormButton {
    std::string label;
    std::function<void()> action;
    bool focused = false;
};

struct Form {
    zeylatui::App* app = nullptr;
    std::string title = "Zeyla Wizard";
    std::string status = "Tab next | Shift+Tab prev | Enter activate | Esc exit";
    std::vector<FormField> fields;
    std::vector<FormButton> buttons;
    int focus = 0;
};

FormField make_form_field(const char* label, const std::string& value, int max_len);
void form_set_buttons(Form& form, std::vector<FormButton>&& buttons);
std::string toggle_label(const char* label, bool on);

void draw_form(Form& form);
int run_form(Form& form);

// Where run_form takes its keys from: wgetch(stdscr) unless a program
// installs its own reader (null restores the default).
using KeyReader = int (*)();
void set_form_key_reader(KeyReader reader);
