#include "options_form.h"

#include <climits>
#include <cstdlib>

#include "dialogs.h"
#include "i18n.h"

namespace {
enum Field { kLength, kQuantity, kExclude, kClipClear };

FormButton toggle_button(const char* key, bool& flag) {
    return FormButton{toggle_label(tr(key).c_str(), flag), [&flag] { flag = !flag; }, false};
}
}  // namespace

const char* corvane::check_option_numbers(const std::string& length_text, const std::string& quantity_text,
                                          const std::string& seconds_text, std::int32_t& length, std::int32_t& quantity,
                                          std::int32_t& seconds) {
    if (!parse_number_field(length_text, length) || length < 1) return "err_invalid_length";
    if (!parse_number_field(quantity_text, quantity) || quantity < 1) return "err_invalid_quantity";
    if (!parse_number_field(seconds_text, seconds) || seconds < 0) return "err_invalid_clipclear";
    return nullptr;
}

bool corvane::parse_number_field(const std::string& text, std::int32_t& value) {
    const std::string digits = trim(text);
    if (digits.empty()) return false;
    char* end = nullptr;
    const long parsed = std::strtol(digits.c_str(), &end, 10);
    if (end == digits.c_str() || end != digits.c_str() + digits.size()) return false;
    // A 32-bit strtol saturates; long is wider here.
    if (parsed > INT32_MAX)
        value = INT32_MAX;
    else if (parsed < INT32_MIN)
        value = INT32_MIN;
    else
        value = static_cast<std::int32_t>(parsed);
    return true;
}

void rebuild_option_buttons(Form& form, GenOptions& o, bool& generate, bool& exit_requested) {
    std::vector<FormButton> buttons;
    buttons.push_back(FormButton{tr("btn_generate"), [&generate] { generate = true; }, false});
    buttons.push_back(toggle_button("btn_upper", o.upper));
    buttons.push_back(toggle_button("btn_lower", o.lower));
    buttons.push_back(toggle_button("btn_digits", o.digits));
    buttons.push_back(toggle_button("btn_accented", o.accented));
    buttons.push_back(toggle_button("btn_symbols", o.symbols));
    buttons.push_back(toggle_button("btn_guarantee", o.guarantee_each_class));
    buttons.push_back(FormButton{tr("btn_exit"), [&exit_requested] { exit_requested = true; }, false});
    form_set_buttons(form, std::move(buttons));
}

bool tui_collect_options(zeylatui::App& app, GenOptions& o, bool& generate) {
    generate = false;
    bool exit_requested = false;
    Form form;
    form.app = &app;
    form.title = tr("app_title");
    form.status = tr("wizard_status");
    form.fields.push_back(make_form_field(tr("lbl_length").c_str(), std::to_string(o.length), 256));
    form.fields.push_back(make_form_field(tr("lbl_quantity").c_str(), std::to_string(o.quantity), 256));
    form.fields.push_back(make_form_field(tr("lbl_exclude").c_str(), o.exclude, 512));
    form.fields.push_back(make_form_field(tr("lbl_clipclear").c_str(), std::to_string(o.clipboard_clear_seconds), 256));

    for (;;) {
        rebuild_option_buttons(form, o, generate, exit_requested);
        if (run_form(form) < 0) return false;
        if (exit_requested) return false;
        if (!generate) continue;  // a toggle: show its new state, focus stays on it

        std::int32_t length = 0, quantity = 0, seconds = 0;
        if (const char* error =
                corvane::check_option_numbers(form.fields[kLength].value, form.fields[kQuantity].value,
                                              form.fields[kClipClear].value, length, quantity, seconds)) {
            tui_message_box(app, tr("err_title"), tr(error));
            generate = false;
            continue;
        }
        o.length = length;
        o.quantity = quantity;
        o.exclude = corvane::trim(form.fields[kExclude].value);
        o.clipboard_clear_seconds = seconds;
        if (!o.upper && !o.lower && !o.digits && !o.accented && !o.symbols)
            o.upper = o.lower = o.digits = o.symbols = true;
        return true;
    }
}
