#include "run_screen.h"

#include <algorithm>
#include <curses.h>
#include <exception>
#include <fstream>

#include "escape.h"
#include "i18n.h"
#include "key_reader.h"
#include "palette.h"
#include "terminal.h"
#include "wipe_engine.h"
#include "wipe_log_file.h"

void (*vornix::after_target_checks)() = nullptr;

namespace {
void show_done_screen(const std::string& target_text) {
    clear();
    draw_text(2, 2, tr("vornix_done"), PAIR_DONE);
    draw_text(4, 2, target_text, PAIR_FOCUS);
    draw_text(getmaxy(stdscr) - 2, 2, tr("vornix_btn_exit") + " (Esc)", PAIR_HIGHLIGHT);
    terminal_refresh();
    for (;;) {
        const int key = read_key();
        if (key == 27 || key == 10 || key == KEY_ENTER || key == ERR) return;  // ERR: the terminal is gone
    }
}

// Every return leaves the engine silent until the next run installs its sink.
// Keys typed while the wipe ran were meant for no screen: they must not
// close the done screen or reach the next pass.
int end_run(std::ofstream& log_file, int code) {
    log_enabled = false;
    if (log_file.is_open()) log_file.close();
    flushinp();
    return code;
}
}  // namespace

void draw_wipe_log(std::vector<std::string>& lines, const WipeConfig& cfg, const std::string& line) {
    const int rows = getmaxy(stdscr);
    const int cols = getmaxx(stdscr);
    lines.push_back(line);
    clear();
    draw_text(1, 2, tr("vornix_title") + "  " + tr("vornix_running"), PAIR_FRAME);
    draw_text(2, 2, cfg.target.string(), PAIR_FOCUS);

    const int n = static_cast<int>(lines.size());
    const int visible = std::max(rows - 5, 1);
    int row = 4;
    for (int i = std::max(n - visible, 0); i < n && row < rows - 1; ++i, ++row) {
        const std::string& text = lines[static_cast<std::size_t>(i)];
        if (static_cast<int>(text.size()) > cols - 4)
            draw_text(row, 2, text.substr(0, static_cast<std::size_t>(std::max(cols - 7, 0))) + "...", PAIR_FOCUS);
        else
            draw_text(row, 2, text, PAIR_FOCUS);
    }
    draw_text(rows - 1, 2, tr("wizard_status"), PAIR_HIGHLIGHT);
    terminal_refresh();
}

int run_wipe_ui(zeylatui::App& app, const WipeConfig& cfg) {
    (void)app;
    std::ofstream log_file;
    vornix::open_wipe_log(log_file, cfg.log_file);
    const std::uint64_t block_bytes = cfg.block_mib << 20;
    std::vector<std::string> lines;
    const std::string target_text = cfg.target.string();
    // Log lines carry names escaped, so that one line stays one line.
    const std::string target_logged = zeylatui::escape_untrusted(target_text);

    log_enabled = true;
    log_sink = [&lines, &cfg, &log_file](const std::string& line) {
        vornix::append_wipe_log(log_file, line);
        draw_wipe_log(lines, cfg, line);
    };

    if (vornix::trim(target_text).empty()) {
        log_line("ERROR: empty target");
        return end_run(log_file, kRunEmptyTarget);
    }
    // Resolved once: the checks and the wipe work on what was opened here.
    vornix::TargetPlace place = vornix::open_target(cfg.target);
    if (is_unsafe_path(cfg.target) || vornix::is_unsafe_place(place)) {
        log_line("ERROR: refused unsafe path: " + target_logged);
        return end_run(log_file, kRunUnsafePath);
    }
    if (vornix::is_current_directory(place)) {
        log_line("ERROR: refused current working directory: " + target_logged);
        return end_run(log_file, kRunCurrentDirectory);
    }

    log_line("Scanning target...");
    log_line("Vornix started.");
    log_line("Target: " + target_logged);
    log_line("Passes: " + std::to_string(cfg.passes) + " | Block: " + std::to_string(block_bytes) + " bytes" +
             (cfg.dry_run ? " | DRY-RUN" : ""));
    if (vornix::after_target_checks) vornix::after_target_checks();
    try {
        vornix::wipe_target(place, cfg.passes, block_bytes, cfg.dry_run, vornix::log_line_sink);
    } catch (const std::exception& e) {
        log_line("Exception: " + zeylatui::escape_untrusted(e.what()));
        return end_run(log_file, kRunException);
    }
    // The done screen must not keep the target's mount busy.
    place = vornix::TargetPlace{};
    log_line("Vornix finished.");
    end_run(log_file, kRunDone);

    show_done_screen(target_text);
    return kRunDone;
}
