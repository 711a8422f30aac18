#include "app_loop.h"

#include <curses.h>
#include <exception>
#include <filesystem>
#include <vector>

#include "dialogs.h"
#include "duplicate_filter.h"
#include "escape.h"
#include "i18n.h"
#include "last_values.h"
#include "results.h"
#include "wizard.h"

namespace fs = std::filesystem;

namespace {

void set_search_palette() {
    if (!has_colors()) return;
    init_pair(PAIR_FRAME, COLOR_WHITE, COLOR_BLACK);
    init_pair(PAIR_FOCUS, COLOR_BLACK, COLOR_WHITE);
    init_pair(PAIR_STATUS, COLOR_YELLOW, COLOR_BLACK);
}

void search_and_show(zeylatui::App& app, const Options& options, const SearchFunction& search) {
    std::uint64_t candidatesScanned = 0;
    std::uint32_t threadsUsed = 0;
    double elapsedSeconds = 0.0;
    std::string errorLine;
    std::vector<MatchInfo> results = search(options, candidatesScanned, threadsUsed, elapsedSeconds, &errorLine);
    const std::size_t before = results.size();
    filter_duplicates(options, results);
    // Keys typed while the search ran were meant for a screen that was not there yet.
    flushinp();
    // Error and warning lines went straight to the terminal: repaint it whole.
    clearok(curscr, TRUE);
    tui_results_menu(app, results, errorLine);
    if (options.showStatistics)
        tui_message_box(app, tr("lumo_stats_title"),
                        statistics_text(candidatesScanned, before, results.size(), threadsUsed, elapsedSeconds));
}

}  // namespace

void run_search_pass(zeylatui::App& app, const Options& options, const SearchFunction& search) {
    try {
        search_and_show(app, options, search);
    } catch (const std::exception& e) {
        flushinp();
        // A file system error's text holds the path it failed on.
        tui_message_box(app, "FATAL", "Unhandled exception:\n" + zeylatui::escape_untrusted(e.what()));
    } catch (...) {
        flushinp();
        tui_message_box(app, tr("lumo_fatal_title"), tr("lumo_unknown_exception"));
    }
}

void enter_program_folder(const char* argv0) {
    if (argv0 == nullptr || argv0[0] == '\0') return;
    try {
        const fs::path self = fs::absolute(fs::path(argv0));
        if (!self.parent_path().empty()) {
            std::error_code ec;
            fs::current_path(self.parent_path(), ec);
        }
    } catch (...) {
        // The program then works in the folder it was started in.
    }
}

void choose_start_language() {
    try {
        const LastValues values = load_last_values(last_values_path());
        const auto it = values.find("lang");
        if (it == values.end() || !set_language(it->second)) set_language("en");
    } catch (...) {
        set_language("en");
    }
}

std::string statistics_text(std::uint64_t candidatesScanned, std::size_t before, std::size_t after,
                            std::uint32_t threadsUsed, double elapsedSeconds) {
    char elapsed[64];
    std::snprintf(elapsed, sizeof elapsed, "%.3f", elapsedSeconds);
    return "Candidates scanned: " + std::to_string(candidatesScanned) + "\n" +
           "Matches (before dup filter): " + std::to_string(before) + "\n" +
           "Matches (after dup filter):  " + std::to_string(after) + "\n" +
           "Threads used: " + std::to_string(threadsUsed) + "\n" + "Elapsed: " + elapsed + " s\n";
}

int run_app(const Options& initial) {
    set_message_box_style(MessageBoxStyle::search);
    choose_start_language();
    zeylatui::App app;
    app_start(app);
    set_search_palette();
    Options options = initial;
    for (;;) {
        options.searchRequested = false;
        if (!tui_collect_options(app, options)) {
            app_shutdown(app);
            return 0;
        }
        if (!options.searchRequested) continue;
        run_search_pass(app, options, search_files);
    }
}
