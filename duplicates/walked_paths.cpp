#include "walked_paths.h"

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "dir_walk.h"
#include "ending_signals.h"

namespace {
struct WalkEnded {};

// Devices known to hold procfs or sysfs, asked once per device.
class PseudoDevices {
public:
    bool holds(const struct stat& st, const std::string& path) {
        for (const auto& [device, pseudo] : known_)
            if (device == st.st_dev) return pseudo;
        const bool pseudo = on_pseudo_file_system(path);
        known_.emplace_back(st.st_dev, pseudo);
        return pseudo;
    }

private:
    std::vector<std::pair<dev_t, bool>> known_;
};
}  // namespace

void gemmit::walk_regular_files(const std::string& root, WalkedPaths& paths, WalkedFiles& files,
                                DuplicateStats& stats) {
    PseudoDevices pseudo;
    // One thread lists the folders, each asked about relative to its open
    // folder: helpers listing ahead would hold many entries at once.
    walk_directory(
        root, true,
        [&](const WalkEntry& entry) {
            // An ending signal ends the walk; the next stage hands the program over to it.
            if (ending_signal() != 0) throw WalkEnded{};
            if (entry.kind != WalkEntry::Kind::regular && entry.kind != WalkEntry::Kind::symlink) return;
            struct stat st {};
            if (::fstatat(entry.folderFd, entry.name, &st, 0) != 0) {
                if (entry.kind == WalkEntry::Kind::regular) ++stats.files_with_errors;
                return;
            }
            if (!S_ISREG(st.st_mode) || pseudo.holds(st, entry.path)) return;
            WalkedFile file;
            file.folder = paths.folder_of(entry.path);
            file.name = paths.add_name(entry.path);
            file.size = static_cast<std::uint64_t>(st.st_size);
            file.id = identity_of(st);
            files.push_back(file);
            ++stats.files_scanned;
        },
        false, WalkPolicy{true});
}
