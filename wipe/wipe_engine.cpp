// A target's wipe: a file, or a folder tree walked file by file and then
// removed bottom up.
#include "wipe_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "fd.h"
#include "line_sink.h"
#include "fd_tree.h"
#include "target_place.h"
#include "wipe_steps.h"

using namespace vornix;

namespace fs = std::filesystem;
using platform::Fd;

namespace {
bool is_missing(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory ||
           ec == std::errc::filename_too_long || ec == std::errc::invalid_argument;
}

std::string exception_text(const char* what, const std::string& shown, int err) {
    return fs::filesystem_error(what, fs::path(shown), std::error_code(err, std::system_category())).what();
}

[[noreturn]] void throw_target_error(const char* what, const std::string& shown, int err) {
    throw fs::filesystem_error(what, fs::path(shown), std::error_code(err, std::system_category()));
}

// Wipes every regular file of the tree; folders on the tree's mount are entered.
class WipeVisitor : public TreeVisitor {
public:
    WipeVisitor(const MountRef& mount, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run,
                const platform::LineSink& log)
        : mount_(mount), passes_(passes), block_bytes_(block_bytes), dry_run_(dry_run), log_(log) {}

    bool entry(int dir, const std::string& name, const std::string& shown, const EntryInfo& info,
               bool other_mount) override {
        try {
            if (other_mount) {
                log_("Skipping mount point: " + esc(shown));
                return false;
            }
            if (S_ISDIR(info.mode)) return true;
            if (S_ISREG(info.mode)) {
                wipe_entry(dir, name, shown, mount_, nullptr, passes_, block_bytes_, dry_run_, log_);
            } else if (S_ISLNK(info.mode)) {
                // Links to folders and links that lead nowhere pass silently.
                struct stat target {};
                if (fstatat(dir, name.c_str(), &target, 0) == 0 && S_ISREG(target.st_mode))
                    log_("Skipping non-regular file: " + esc(shown));
            }
        } catch (const std::exception& e) {
            log_("Exception while iterating: " + esc(e.what()));
        }
        return false;
    }
    void entry_failed(const std::string& shown, int err) override {
        log_("Exception while iterating: " + esc(exception_text("cannot query entry", shown, err)));
    }
    void folder_not_entered(const std::string& shown, int err) override {
        if (err == EXDEV) log_("Skipping mount point: " + esc(shown));
    }
    void folder_done(int, const std::string&, const std::string&) override {}

private:
    const MountRef& mount_;
    std::uint64_t passes_;
    std::uint64_t block_bytes_;
    bool dry_run_;
    const platform::LineSink& log_;
};

// Removes, bottom up, everything the wipe left except regular files (a file
// still there was not overwritten) and other mounts; keeps the first error.
class RemoveVisitor : public TreeVisitor {
public:
    int first_error = 0;

    void note(int err) {
        if (first_error == 0) first_error = err;
    }
    bool entry(int dir, const std::string& name, const std::string&, const EntryInfo& info, bool other_mount) override {
        if (other_mount) {
            note(EBUSY);
            return false;
        }
        if (S_ISDIR(info.mode)) return true;
        if (S_ISREG(info.mode)) return false;
        // Something put in its place since the walk looked stays, and so does its folder.
        if (!unchanged(dir, name, info, info.size)) return false;
        if (unlinkat(dir, name.c_str(), 0) != 0 && errno != ENOENT) note(errno);
        return false;
    }
    void entry_failed(const std::string&, int err) override { note(err); }
    void folder_not_entered(const std::string&, int err) override {
        if (err != ENOENT) note(err == EXDEV ? EBUSY : err);
    }
    void folder_done(int dir, const std::string& name, const std::string&) override {
        if (unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) note(errno);
    }
};

}  // namespace

void wipe_target(const fs::path& target, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    vornix::wipe_target(open_target(target), passes, block_bytes, dry_run, log_line_sink);
}

void vornix::wipe_target(const TargetPlace& place, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run,
                         const platform::LineSink& log) {
    const std::string& shown = place.shown;
    const std::string t = esc(shown);
    if (!place.entry) {
        const std::error_code ec(place.error, std::system_category());
        if (!is_missing(ec)) throw fs::filesystem_error("cannot query target", fs::path(shown), ec);
        log("Path does not exist: " + t);
        return;
    }
    // A link as target is reported and left alone, never walked through.
    if (S_ISLNK(place.info.mode)) {
        log("Skipping non-regular file: " + t);
        return;
    }
    // "/", "." and "x/..": the run screen refuses these; the folder they
    // name has no name here to remove it by.
    if (!place.folder) throw_target_error("cannot wipe a folder not named by its own name", shown, EINVAL);
    EntryInfo folder;
    if (const int err = query_entry(place.folder.get(), "", folder); err != 0)
        throw_target_error("cannot query target", shown, err);

    if (S_ISREG(place.info.mode)) {
        // A file mounted over the target: its data belongs to another place.
        if (on_other_mount(place.info, mount_of(folder))) {
            log("Skipping mount point: " + t);
            return;
        }
        wipe_entry(place.folder.get(), place.name, shown, mount_of(folder), &place.info, passes, block_bytes, dry_run,
                   log);
        return;
    }
    if (!S_ISDIR(place.info.mode)) throw_target_error("cannot open folder", shown, ENOTDIR);

    const Fd root(openat(place.folder.get(), place.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // A folder that cannot be listed for lack of permission is passed over.
    if (!root && errno != EACCES) throw_target_error("cannot open folder", shown, errno);
    const MountRef mount = mount_of(place.info);
    if (root) {
        EntryInfo opened;
        if (const int err = query_entry(root.get(), "", opened); err != 0)
            throw_target_error("cannot query target", shown, err);
        if (!same_entry(opened, place.info)) throw_target_changed(shown);
        WipeVisitor wipe(mount, passes, block_bytes, dry_run, log);
        walk_tree(root.get(), shown, mount, wipe);
    }

    if (dry_run) {
        log("[DRY] Directory removal skipped for: " + t);
        return;
    }
    RemoveVisitor remove;
    if (root) {
        try {
            walk_tree(root.get(), shown, mount, remove);
        } catch (const fs::filesystem_error& e) {
            remove.note(e.code().value());
        }
    }
    // The name goes only while it still holds the folder that was emptied.
    EntryInfo now;
    if (query_entry(place.folder.get(), place.name, now) != 0 || !same_entry(now, place.info))
        remove.note(ENOENT);
    else if (unlinkat(place.folder.get(), place.name.c_str(), AT_REMOVEDIR) != 0)
        remove.note(errno);
    if (remove.first_error != 0) {
        log("Could not remove directory tree: " + t + " (" + error_text(remove.first_error) + ")");
        return;
    }
    log("Directory tree removed: " + t);
}
