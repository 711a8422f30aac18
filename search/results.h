// The list of matches and the details box of one match.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app.h"
#include "engine.h"

// errorLine: the "[ERROR] ..." line of a search that could not run, shown under
// the empty-result text so that the user learns why nothing matched.
void tui_results_menu(zeylatui::App& app, const std::vector<MatchInfo>& results, const std::string& errorLine = {});
void show_result_details(zeylatui::App& app, const MatchInfo& match, std::size_t index, std::size_t total);

// The row label: the path, or "..." and its last 177 bytes when longer than 180.
std::string result_label(const std::string& pathText);
// The text of the details box.
std::string result_details_text(const MatchInfo& match, std::size_t index, std::size_t total);
