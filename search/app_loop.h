// Start-up and the application loop: wizard, search, filter, results, statistics.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app.h"
#include "engine.h"

// Makes the folder of the program's own path the current folder; failures are swallowed.
void enter_program_folder(const char* argv0);

int run_app(const Options& initial);

// search_files, or a stand-in that tests wrap around it.
using SearchFunction = std::function<std::vector<MatchInfo>(const Options&, std::uint64_t&, std::uint32_t&, double&,
                                                            std::string*)>;
// One pass after Search: the search, the duplicate filter, the results and the
// statistics box; an error thrown by any of them ends the pass in an error box.
void run_search_pass(zeylatui::App& app, const Options& options, const SearchFunction& search);

// The first language: the last-values file's "lang", else English.
void choose_start_language();

std::string statistics_text(std::uint64_t candidatesScanned, std::size_t before, std::size_t after,
                            std::uint32_t threadsUsed, double elapsedSeconds);
