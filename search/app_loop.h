// Start-up and the application loop: wizard, search, filter, results, statistics.
#pragma once

#include <cstdint>
#include <string>

#include "engine.h"

// Makes the folder of the program's own path the current folder; failures are swallowed.
void enter_program_folder(const char* argv0);

int run_app(const Options& initial);

// The first language: the last-values file's "lang", else English.
void choose_start_language();

std::string statistics_text(std::uint64_t candidatesScanned, std::size_t before, std::size_t after,
                            std::uint32_t threadsUsed, double elapsedSeconds);
