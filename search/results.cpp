#include "results.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>

#include "dialogs.h"
#include "dir_walk.h"
#include "escape.h"
#include "i18n.h"
#include "menu.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLabelMax = 180;
constexpr std::size_t kSnippetMax = 800;

// "Modified: ..." when the file's last-write time can still be read, at any path length.
std::string modified_line(const fs::path& path) {
    struct stat st {};
    if (!stat_any_length(path.native(), st)) return {};
    const auto system =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::seconds>(system));
    char buf[64] = {};
    const std::tm* local = std::localtime(&seconds);
    if (local == nullptr || std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", local) == 0) buf[0] = '\0';
    return tr("lumo_det_modified") + ": " + buf + "\n";
}

}  // namespace

std::string result_label(const std::string& pathText) {
    if (pathText.size() <= kLabelMax) return pathText;
    return "..." + pathText.substr(pathText.size() - (kLabelMax - 3));
}

std::string result_details_text(const MatchInfo& match, std::size_t index, std::size_t total) {
    std::string text;
    text += tr("lumo_det_result") + ": " + std::to_string(index + 1) + "/" + std::to_string(total) + "\n";
    text += tr("lumo_det_path") + ": " + match.path.string() + "\n";
    text += tr("lumo_det_size") + ": " + std::to_string(match.size) + " " + tr("lumo_bytes") + " (" +
            format_size(match.size) + ")\n";
    text += modified_line(match.path);
    if (match.contentMatched) {
        text += tr("lumo_det_first_line") + ": " + std::to_string(match.firstMatchLine) + "\n";
        std::string snippet = match.snippet;
        if (snippet.size() > kSnippetMax) snippet = snippet.substr(0, kSnippetMax - 3) + "...";
        text += tr("lumo_det_snippet") + ":\n" + snippet + "\n";
    } else {
        text += tr("lumo_det_content_none") + "\n";
    }
    return text;
}

void show_result_details(zeylatui::App& app, const MatchInfo& match, std::size_t index, std::size_t total) {
    tui_message_box(app, tr("lumo_details_title"), result_details_text(match, index, total));
}

void tui_results_menu(zeylatui::App& app, const std::vector<MatchInfo>& results, const std::string& errorLine) {
    if (results.empty()) {
        std::string text = tr("lumo_no_results");
        // The line names the root or the expression as the user gave them.
        if (!errorLine.empty()) text += "\n" + zeylatui::escape_untrusted(errorLine);
        tui_message_box(app, tr("lumo_results_title"), text);
        return;
    }
    Menu menu;
    menu.app = &app;
    menu.title = "Lumeno - " + tr("lumo_results_title");
    menu.status = tr("lumo_results_status");
    menu.wrap = true;
    menu.selected = 0;
    std::vector<MenuItem> items;
    items.reserve(results.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        items.push_back(MenuItem{result_label(results[i].path.string()),
                                 [&app, &results, i] { show_result_details(app, results[i], i, results.size()); }});
    }
    menu_set_items(menu, std::move(items));
    run_menu(menu);
}
