#include "report.h"

#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {
// Labels are padded to 21 characters so every number starts in column 22.
void write_counters(std::ostream& out, const DuplicateStats& stats) {
    out << "Total files scanned: " << stats.files_scanned << '\n'
        << "Files with errors:   " << stats.files_with_errors << '\n'
        << "Candidate files:     " << stats.candidate_files << '\n'
        << "Duplicate groups:    " << stats.duplicate_groups << '\n'
        << "Duplicate files:     " << stats.duplicate_files << '\n';
}
}  // namespace

bool write_report(const fs::path& file, const fs::path& root, const DuplicateStats& stats,
                  const DuplicateGroups& groups) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    try {
        out << kProgramTitle << " v" << kProgramVersion << '\n' << "Scanned directory: " << root.string() << "\n\n";
        write_counters(out, stats);
        out << '\n';
        std::size_t number = 0;
        for (const auto& group : groups) {
            out << "=== GROUP " << ++number << " ===\n";
            for (const fs::path& path : group) {
                out << path.string();
                // Asked afresh: a member may have changed or vanished since the scan.
                std::error_code ec;
                const std::uintmax_t size = fs::file_size(path, ec);
                if (!ec) out << "  [" << size << " bytes]";
                out << '\n';
            }
            out << '\n';
        }
    } catch (const std::exception&) {
        // A path without a narrow form: the report counts as not saved.
        return false;
    }
    // A full disk must not be reported as a saved report.
    out.close();
    return !out.fail();
}
