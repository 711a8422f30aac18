// The duplicate finder's screens. Every text on them is fixed English; the
// language button only changes the current language and the code it shows.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app.h"
#include "scan.h"

// The application loop: main form until Exit or Esc. Always returns 0.
int tui_main();

// Folder prompt, checks, "Scanning" box, scan, result screen.
void run_scan(zeylatui::App& app);

// True with the trimmed folder text when Scan was pressed; false, text
// unchanged, on Cancel or Esc.
bool tui_prompt_directory(zeylatui::App& app, std::string& folder);

void tui_show_results(zeylatui::App& app, const std::filesystem::path& root, const DuplicateStats& stats,
                      const DuplicateGroups& groups);

void show_about(zeylatui::App& app);

// "en", "pt_br", "es", "fr", "de", "it"; the search program keeps a list of its own.
namespace gemmit {
const std::vector<std::string>& supported_languages();
}  // namespace gemmit
using gemmit::supported_languages;

// The code the main form shows for a language: "PT-BR", "ES", ..., "EN" for anything unknown.
std::string language_display_code(const std::string& language);

// The result screen's summary: folder, counters and a preview of the first group.
std::string build_summary(const std::filesystem::path& root, const DuplicateStats& stats,
                          const DuplicateGroups& groups);
