#include "dialogs.h"
#include "escape.h"
#include "form.h"
#include "screens.h"

namespace fs = std::filesystem;

namespace {
std::string trim_blanks(const std::string& text) {
    const char* const blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}
}  // namespace

bool tui_prompt_directory(zeylatui::App& app, std::string& folder) {
    Form form;
    form.app = &app;
    form.title = "ZeylaGemmit";
    form.status = "Enter the directory to scan recursively";
    form.fields.push_back(make_form_field("Directory", folder.empty() ? "." : folder, 1024));
    form_set_buttons(form, {FormButton{"Scan", {}, false}, FormButton{"Cancel", {}, false}});
    if (run_form(form) != 0) return false;
    folder = trim_blanks(form.fields[0].value);
    return true;
}

void run_scan(zeylatui::App& app) {
    std::string folder = ".";
    if (!tui_prompt_directory(app, folder)) return;
    if (folder.empty()) {
        tui_message_box(app, "Error", "Directory cannot be empty.");
        return;
    }

    // Made absolute only: ".." after a link must lead where the system says.
    std::error_code ec;
    const fs::path root = fs::absolute(fs::path(folder), ec);
    if (ec) {
        tui_message_box(app, "Error", "Not a valid directory:\n" + zeylatui::escape_untrusted(folder));
        return;
    }
    const fs::file_status status = fs::status(root, ec);
    if (ec || !fs::is_directory(status)) {
        tui_message_box(app, "Error", "Not a valid directory:\n" + zeylatui::escape_untrusted(root.native()));
        return;
    }

    // The box stays on screen, unchanged, while the scan blocks the thread.
    tui_message_box(app, "Scanning", "Scanning recursively...\n\nPlease wait.");
    DuplicateStats stats;
    const DuplicateGroups groups = find_duplicates(root, stats);
    tui_show_results(app, root, stats, groups);
}
