#include "wizard.h"

#include <algorithm>

#include "form.h"
#include "i18n.h"
#include "last_values.h"
#include "option_values.h"

namespace {

enum WizardButton { kSearch = 0, kStatistics = 1, kDuplicates = 2, kLanguage = 3, kExit = 4 };

std::string megabytes_text(bool has, std::uint64_t bytes) { return has ? std::to_string(bytes / 1048576) : ""; }

Form build_wizard_form(zeylatui::App& app, const Options& options) {
    Form form;
    form.app = &app;
    form.title = tr("lumo_title");
    form.status = tr("lumo_wiz_status");
    form.focus = 0;
    const auto field = [&form](const char* key, const std::string& value, int maxLen) {
        form.fields.push_back(make_form_field(tr(key).c_str(), value, maxLen));
    };
    field("lumo_in_root", options.rootPath, 256);
    field("lumo_in_filename_wc", options.filenamePattern, 256);
    field("lumo_in_content_contains", options.contentPattern, 512);
    field("lumo_in_content_regex", options.contentRegex, 512);
    field("lumo_in_filename_regex", options.filenameRegex, 512);
    field("lumo_in_minsize_mb", megabytes_text(options.hasMinSize, options.minSizeBytes), 256);
    field("lumo_in_maxsize_mb", megabytes_text(options.hasMaxSize, options.maxSizeBytes), 256);
    field("lumo_in_threads", options.hasThreads ? std::to_string(options.threads) : "", 256);

    std::vector<FormButton> buttons;
    buttons.push_back({tr("lumo_btn_search"), {}, false});
    buttons.push_back(
        {tr("lumo_btn_stats_prefix") + " " + tr(options.showStatistics ? "lumo_on" : "lumo_off"), {}, false});
    buttons.push_back({dup_mode_label(options), {}, false});
    buttons.push_back({tr("lumo_btn_language_prefix") + " " + current_language, {}, false});
    buttons.push_back({tr("lumo_btn_exit"), {}, false});
    form_set_buttons(form, std::move(buttons));
    return form;
}

void switch_language(LastValues& wizardValues) {
    const auto path = last_values_path();
    LastValues fresh = load_last_values(path);
    const std::string code = next_language(current_language);
    set_language(code);
    fresh["lang"] = code;
    save_last_values(path, fresh);
    wizardValues["lang"] = code;
}

}  // namespace

const std::vector<std::string>& lumeno::supported_languages() {
    static const std::vector<std::string> codes = {"en", "pt_br", "es", "fr", "de", "it"};
    return codes;
}

std::string next_language(const std::string& code) {
    const auto& codes = supported_languages();
    const auto it = std::find(codes.begin(), codes.end(), code);
    if (it == codes.end() || it + 1 == codes.end()) return codes.front();
    return *(it + 1);
}

std::string dup_mode_label(const Options& options) {
    if (options.duplicatesMode == 0) return tr("lumo_dup_any");
    if (options.duplicatesMode == 1) return tr("lumo_dup_onlydup");
    return tr("lumo_dup_onlyuniq");
}

bool tui_collect_options(zeylatui::App& app, Options& options) {
    const auto path = last_values_path();
    LastValues values = load_last_values(path);
    merge_last_values(options, values);

    for (;;) {
        Form form = build_wizard_form(app, options);
        const int k = run_form(form);
        if (k < 0 || k == kExit) return false;
        switch (k) {
            case kStatistics:
                options.showStatistics = !options.showStatistics;
                break;
            case kDuplicates:
                options.duplicatesMode = options.duplicatesMode == 0 ? 1 : options.duplicatesMode == 1 ? 2 : 0;
                break;
            case kLanguage:
                switch_language(values);
                break;
            case kSearch: {
                std::vector<std::string> fields;
                for (const FormField& f : form.fields) fields.push_back(f.value);
                apply_search_fields(options, fields);
                store_search_values(options, values);
                save_last_values(path, values);
                options.searchRequested = true;
                return true;
            }
            default:
                break;
        }
    }
}
