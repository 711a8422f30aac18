// The plain-text report of one scan.
#pragma once

#include <filesystem>

#include "scan.h"

inline constexpr const char* kReportFileName = "duplicates_report.txt";

// Writes the report to `file`, LF line ends, every path escaped so that one
// member is one line: written beside it, synced and renamed over it. False
// (the old report left as it was) when it cannot be written whole.
bool write_report(const std::filesystem::path& file, const std::filesystem::path& root, const DuplicateStats& stats,
                  const DuplicateGroups& groups);

// "ZeylaGemmit v3.0.0", the report's first line and the About box's first line.
inline constexpr const char* kProgramTitle = "ZeylaGemmit";
inline constexpr const char* kProgramVersion = "3.0.0";
