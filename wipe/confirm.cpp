#include "confirm.h"

#include <chrono>
#include <curses.h>

#include "form.h"
#include "i18n.h"

std::string vornix::make_confirmation_code(std::mt19937_64& gen) {
    std::string code = "WIPE-";
    for (int i = 0; i < 6; ++i) code += kCodeAlphabet[gen() >> 59];
    return code;
}

bool vornix::confirm_code_form(zeylatui::App& app, const std::string& code) {
    Form form;
    form.app = &app;
    form.title = tr("vornix_confirm_title");
    form.fields.push_back(make_form_field(tr("vornix_token_label").c_str(), "", 32));
    bool go = false;
    bool* flag = &go;
    form_set_buttons(
        form, {{tr("vornix_btn_go"), [flag] { *flag = true; }}, {tr("vornix_btn_back"), [flag] { *flag = false; }}});
    form.status = tr("vornix_confirm_hint") + "  [" + code + "]";
    form.focus = 0;

    const int r = run_form(form);
    if (r < 0 || !go) return false;
    if (form.fields[0].value == code) return true;
    beep();
    return false;
}

bool wizard_confirm(zeylatui::App& app, const WipeConfig& cfg) {
    if (cfg.yes) return true;
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
    std::mt19937_64 gen(static_cast<std::uint64_t>(ns.count()));
    return vornix::confirm_code_form(app, vornix::make_confirmation_code(gen));
}
