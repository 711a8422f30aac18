#include <algorithm>
#include <curses.h>

#include "dialogs.h"
#include "form.h"
#include "i18n.h"
#include "key_reader.h"
#include "screens.h"

namespace {
void set_palette() {
    if (!has_colors()) return;
    init_pair(PAIR_FRAME, COLOR_YELLOW, COLOR_BLACK);
    init_pair(PAIR_FOCUS, COLOR_BLACK, COLOR_YELLOW);
    init_pair(PAIR_STATUS, COLOR_CYAN, COLOR_BLACK);
}

void step_language() {
    const auto& codes = supported_languages();
    auto it = std::find(codes.begin(), codes.end(), current_language);
    const bool wraps = it == codes.end() || std::next(it) == codes.end();
    set_language(wraps ? codes.front() : *std::next(it));
}

int run_main_form(zeylatui::App& app) {
    const std::string code = language_display_code(current_language);
    Form form;
    form.app = &app;
    form.title = "ZeylaGemmit";
    form.status = "Duplicate Finder | Language: " + code;
    form_set_buttons(form, {FormButton{"Scan", {}, false}, FormButton{"Language: " + code, {}, false},
                            FormButton{"About", {}, false}, FormButton{"Exit", {}, false}});
    return run_form(form);
}
}  // namespace

const std::vector<std::string>& gemmit::supported_languages() {
    static const std::vector<std::string> codes = {"en", "pt_br", "es", "fr", "de", "it"};
    return codes;
}

std::string language_display_code(const std::string& language) {
    if (language == "pt_br") return "PT-BR";
    if (language == "es") return "ES";
    if (language == "fr") return "FR";
    if (language == "de") return "DE";
    if (language == "it") return "IT";
    return "EN";
}

int tui_main() {
    try {
        set_language("en");
    } catch (...) {
    }
    zeylatui::App app;
    app_start(app);
    set_palette();
    set_message_box_style(MessageBoxStyle::fixed_english);
    // Forms take letters as letters; only escape sequences and scan codes are translated.
    set_form_key_reader(read_key_no_letters);

    for (;;) {
        const int choice = run_main_form(app);
        if (choice < 0 || choice == 3) break;
        if (choice == 0) {
            run_scan(app);
        } else if (choice == 1) {
            try {
                step_language();
            } catch (...) {
            }
        } else if (choice == 2) {
            show_about(app);
        }
    }
    app_shutdown(app);
    return 0;
}
