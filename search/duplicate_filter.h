// Narrows a finished result list by content: size plus 64-bit FNV-1a hash.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine.h"
#include "line_sink.h"

// The program's rule (a warning on failure); the duplicate finder has its own.
namespace lumeno {
bool hash_file_fnv1a(const std::filesystem::path& file, std::uint64_t& hash);
}  // namespace lumeno
using lumeno::hash_file_fnv1a;

void filter_duplicates(const Options& options, std::vector<MatchInfo>& results);
// The same, with each warning line handed to `warnings` instead of standard error.
void filter_duplicates_warning_to(const Options& options, std::vector<MatchInfo>& results,
                                  const platform::LineSink& warnings);
