#include "report.h"

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "atomic_file.h"
#include "dir_walk.h"
#include "escape.h"

namespace fs = std::filesystem;

namespace {
// The report goes out in pieces of this size: a report of a whole system is
// never held whole in memory.
constexpr std::size_t kChunk = 1 << 16;

class ReportWriter {
public:
    explicit ReportWriter(platform::AtomicFile& file) : file_(file) {}
    ReportWriter& operator<<(std::string_view text) {
        pending_ += text;
        if (pending_.size() >= kChunk) flush();
        return *this;
    }
    ReportWriter& operator<<(std::uint64_t number) { return *this << std::string_view(std::to_string(number)); }
    bool finish() {
        flush();
        return ok_;
    }

private:
    void flush() {
        ok_ = ok_ && file_.write(pending_);
        pending_.clear();
    }
    platform::AtomicFile& file_;
    std::string pending_;
    bool ok_ = true;
};

// Labels are padded to 21 characters so every number starts in column 22.
void write_counters(ReportWriter& out, const DuplicateStats& stats) {
    out << "Total files scanned: " << stats.files_scanned << "\n"
        << "Files with errors:   " << stats.files_with_errors << "\n"
        << "Candidate files:     " << stats.candidate_files << "\n"
        << "Duplicate groups:    " << stats.duplicate_groups << "\n"
        << "Duplicate files:     " << stats.duplicate_files << "\n";
}
}  // namespace

bool write_report(const fs::path& file, const fs::path& root, const DuplicateStats& stats,
                  const DuplicateGroups& groups) {
    try {
        // Written beside and renamed over the old report: a failure leaves the
        // old one whole, and a link in its place is replaced, never followed.
        platform::AtomicFile report;
        const fs::path folder = file.parent_path();
        if (!report.open(folder.empty() ? "." : folder.native(), file.filename().native(), false)) return false;
        ReportWriter out(report);
        // Names are escaped: one member is one line, and no name writes a terminal sequence.
        out << kProgramTitle << " v" << kProgramVersion << "\n"
            << "Scanned directory: " << zeylatui::escape_untrusted(root.native()) << "\n\n";
        write_counters(out, stats);
        out << "\n";
        std::uint64_t number = 0;
        for (const auto& group : groups) {
            out << "=== GROUP " << ++number << " ===\n";
            for (const fs::path& path : group) {
                out << zeylatui::escape_untrusted(path.native());
                // Asked afresh: a member may have changed or vanished since the scan.
                struct stat st {};
                if (stat_any_length(path.native(), st) && S_ISREG(st.st_mode))
                    out << "  [" << static_cast<std::uint64_t>(st.st_size) << " bytes]";
                out << "\n";
            }
            out << "\n";
        }
        return out.finish() && report.commit();
    } catch (const std::exception&) {
        // Out of memory: the report counts as not saved.
        return false;
    }
}
