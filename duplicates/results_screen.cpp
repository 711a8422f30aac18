#include <algorithm>

#include "dialogs.h"
#include "escape.h"
#include "form.h"
#include "report.h"
#include "screens.h"

namespace fs = std::filesystem;

namespace {
constexpr std::size_t kPreviewPaths = 5;

void save_report(zeylatui::App& app, const fs::path& root, const DuplicateStats& stats, const DuplicateGroups& groups) {
    std::string saved_to;
    try {
        const fs::path file = fs::current_path() / kReportFileName;
        if (write_report(file, root, stats, groups)) saved_to = zeylatui::escape_untrusted(file.native());
    } catch (const std::exception&) {
        // A current folder that cannot be read counts as not saved.
    }
    if (saved_to.empty())
        tui_message_box(app, "Report", std::string("Failed to save ") + kReportFileName);
    else
        tui_message_box(app, "Report", "Report saved to:\n" + saved_to);
}
}  // namespace

std::string build_summary(const fs::path& root, const DuplicateStats& stats, const DuplicateGroups& groups) {
    // Paths are escaped as in the report: a name cannot add lines or reach the terminal raw.
    std::string text = "Directory: " + zeylatui::escape_untrusted(root.native()) + "\n\n";
    text += "Total files scanned: " + std::to_string(stats.files_scanned) + "\n";
    text += "Files with errors:   " + std::to_string(stats.files_with_errors) + "\n";
    text += "Candidate files:     " + std::to_string(stats.candidate_files) + "\n";
    text += "Duplicate groups:    " + std::to_string(stats.duplicate_groups) + "\n";
    text += "Duplicate files:     " + std::to_string(stats.duplicate_files) + "\n";
    if (groups.empty()) return text;
    text += "\nFirst group preview:\n";
    const auto& first = groups.front();
    for (std::size_t i = 0; i < std::min(first.size(), kPreviewPaths); ++i)
        text += " - " + zeylatui::escape_untrusted(first[i].native()) + "\n";
    if (first.size() > kPreviewPaths) text += " ...\n";
    return text;
}

void tui_show_results(zeylatui::App& app, const fs::path& root, const DuplicateStats& stats,
                      const DuplicateGroups& groups) {
    const std::string summary = build_summary(root, stats, groups);
    for (;;) {
        // Rebuilt each pass, so edits typed into the summary are dropped.
        Form form;
        form.app = &app;
        form.title = "Scan Result";
        form.status = "Review result or save report";
        form.fields.push_back(make_form_field("Summary", summary, 8192));
        form_set_buttons(form, {FormButton{"Save Report", {}, false}, FormButton{"Back", {}, false}});
        if (run_form(form) != 0) return;
        save_report(app, root, stats, groups);
    }
}
