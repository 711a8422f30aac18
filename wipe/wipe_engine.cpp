#include "wipe_engine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <iomanip>
#include <memory>
#include <new>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "ending_signals.h"
#include "escape.h"
#include "fd.h"
#include "fd_tree.h"
#include "target_place.h"

using namespace vornix;

namespace fs = std::filesystem;
using platform::Fd;

std::function<void(const std::string&)> log_sink;
bool log_enabled = false;
SyncFunction vornix::wipe_sync = ::fdatasync;

namespace {
std::string lower_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool is_missing(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory ||
           ec == std::errc::filename_too_long || ec == std::errc::invalid_argument;
}

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Block = std::unique_ptr<unsigned char, FreeDeleter>;

// calloc hands out untouched zero pages, so a large block costs memory only
// where it is actually written.
Block zeroed_block(std::uint64_t bytes) {
    auto* p = static_cast<unsigned char*>(std::calloc(std::max<std::uint64_t>(bytes, 1), 1));
    if (p == nullptr) throw std::bad_alloc();
    return Block(p);
}

std::string esc(const std::string& name) { return zeylatui::escape_untrusted(name); }

std::string error_text(int err) { return std::error_code(err, std::system_category()).message(); }

std::string exception_text(const char* what, const std::string& shown, int err) {
    return fs::filesystem_error(what, fs::path(shown), std::error_code(err, std::system_category())).what();
}

// One pass over the whole size, committed to the medium before it counts:
// otherwise the removal that follows lets the kernel drop the dirty pages.
bool overwrite_pass(int fd, const std::string& shown, std::uint64_t size, std::uint64_t block_bytes, bool random_pass,
                    const unsigned char* zeros, unsigned char* random, std::mt19937_64& gen) {
    for (std::uint64_t written = 0; written < size;) {
        const std::uint64_t n = std::min(size - written, block_bytes);
        const unsigned char* data = zeros;
        if (random_pass) {
            fill_random_block(random, n, gen);
            data = random;
        }
        if (!platform::pwrite_all(fd, data, static_cast<std::size_t>(n), written)) {
            log_line("Write error on: " + esc(shown));
            return false;
        }
        written += n;
        act_on_signals();  // an ending signal ends the program here
    }
    if (wipe_sync(fd) != 0) {
        log_line("Write error on: " + esc(shown));
        return false;
    }
    return true;
}

bool same_entry(const EntryInfo& a, const EntryInfo& b) { return a.dev == b.dev && a.ino == b.ino; }

// Whether the name in dir still holds the entry that was worked on, at the
// size it had. Linux has no conditional unlink: a window of microseconds
// stays between this check and the unlink that follows it.
bool unchanged(int dir, const std::string& name, const EntryInfo& worked_on, std::uint64_t size) {
    EntryInfo now;
    return query_entry(dir, name, now) == 0 && same_entry(now, worked_on) && now.size == size;
}

[[noreturn]] void throw_target_error(const char* what, const std::string& shown, int err) {
    throw fs::filesystem_error(what, fs::path(shown), std::error_code(err, std::system_category()));
}

// The entry the run screen checked was swapped for another before its wipe began.
[[noreturn]] void throw_target_changed(const std::string& shown) {
    throw fs::filesystem_error("target changed since it was checked", fs::path(shown),
                               std::make_error_code(std::errc::operation_canceled));
}

// One file, name in its folder dir. Every decision comes from the
// descriptor that is then overwritten; mount is its folder's. checked, when
// given, is the entry the target's checks saw. A file that is not
// overwritten, or that changed while it was, stays where it is.
bool wipe_entry(int dir, const std::string& name, const std::string& shown, const MountRef& mount,
                const EntryInfo* checked, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    const std::string p = esc(shown);
    EntryInfo queried;
    if (query_entry(dir, name, queried) != 0 || !S_ISREG(queried.mode)) {
        log_line("Skipping non-regular file: " + p);
        return false;
    }
    if (dry_run) {
        if (checked != nullptr && !same_entry(queried, *checked)) throw_target_changed(shown);
        if (queried.nlink > 1) {
            log_line("Skipping file with other hard links: " + p);
            return false;
        }
        log_line("[DRY] Preparing to overwrite: " + p + " (" + std::to_string(queried.size) + " bytes)");
        return true;
    }

    // Non-blocking and no controlling terminal: a FIFO or a device swapped in
    // since the query cannot hang the open. Write-only keeps the file's
    // blocks: truncating would free them unwritten.
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    Fd fd(openat(dir, name.c_str(), O_RDWR | kFlags));
    int open_err = fd ? 0 : errno;
    if (!fd && open_err != ELOOP) {
        fd = Fd(openat(dir, name.c_str(), O_WRONLY | kFlags));
        open_err = fd ? 0 : errno;
    }
    EntryInfo opened;
    if (open_err == ELOOP || (fd && (query_entry(fd.get(), "", opened) != 0 || !S_ISREG(opened.mode)))) {
        log_line("Skipping non-regular file: " + p);
        return false;
    }
    const EntryInfo& info = fd ? opened : queried;
    if (checked != nullptr && !same_entry(info, *checked)) throw_target_changed(shown);
    // An empty file has no data to overwrite, so it goes even when it cannot be opened.
    if (!fd && queried.size != 0) {
        log_line("Preparing to overwrite: " + p + " (" + std::to_string(queried.size) + " bytes)");
        log_line("Failed to open for overwrite: " + p);
        return false;
    }
    if (on_other_mount(info, mount)) {
        log_line("Skipping mount point: " + p);
        return false;
    }
    // The data belongs to the names outside the target too.
    if (info.nlink > 1) {
        log_line("Skipping file with other hard links: " + p);
        return false;
    }
    const std::uint64_t size = info.size;
    log_line("Preparing to overwrite: " + p + " (" + std::to_string(size) + " bytes)");

    if (size == 0) {
        if (!unchanged(dir, name, info, 0)) {
            log_line("File changed while it was overwritten, left in place: " + p);
            return false;
        }
        if (unlinkat(dir, name.c_str(), 0) != 0) {
            log_line("Zero-length file removed with error: " + p + " (" + error_text(errno) + ")");
            return false;
        }
        log_line("Zero-length file removed: " + p);
        return true;
    }

    const Block zeros = zeroed_block(block_bytes);
    const Block random = zeroed_block(block_bytes);
    std::random_device source;
    const std::uint32_t seed = source();
    std::mt19937_64 gen(seed);
    for (std::uint64_t pass = 0; pass < passes; ++pass) {
        if (!overwrite_pass(fd.get(), shown, size, block_bytes, pass % 2 == 1, zeros.get(), random.get(), gen))
            return false;
    }

    // Replaced by a new version, or grown: what the name holds now was not
    // (all) overwritten.
    if (!unchanged(dir, name, info, size)) {
        log_line("File changed while it was overwritten, left in place: " + p);
        return false;
    }
    if (unlinkat(dir, name.c_str(), 0) != 0) {
        log_line("File removed with error: " + p + " (" + error_text(errno) + ")");
        return false;
    }
    log_line("File overwritten and removed: " + p);
    return true;
}

// Wipes every regular file of the tree; folders on the tree's mount are entered.
class WipeVisitor : public TreeVisitor {
public:
    WipeVisitor(const MountRef& mount, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run)
        : mount_(mount), passes_(passes), block_bytes_(block_bytes), dry_run_(dry_run) {}

    bool entry(int dir, const std::string& name, const std::string& shown, const EntryInfo& info,
               bool other_mount) override {
        try {
            if (other_mount) {
                log_line("Skipping mount point: " + esc(shown));
                return false;
            }
            if (S_ISDIR(info.mode)) return true;
            if (S_ISREG(info.mode)) {
                wipe_entry(dir, name, shown, mount_, nullptr, passes_, block_bytes_, dry_run_);
            } else if (S_ISLNK(info.mode)) {
                // Links to folders and links that lead nowhere pass silently.
                struct stat target {};
                if (fstatat(dir, name.c_str(), &target, 0) == 0 && S_ISREG(target.st_mode))
                    log_line("Skipping non-regular file: " + esc(shown));
            }
        } catch (const std::exception& e) {
            log_line("Exception while iterating: " + esc(e.what()));
        }
        return false;
    }
    void entry_failed(const std::string& shown, int err) override {
        log_line("Exception while iterating: " + esc(exception_text("cannot query entry", shown, err)));
    }
    void folder_not_entered(const std::string& shown, int err) override {
        if (err == EXDEV) log_line("Skipping mount point: " + esc(shown));
    }
    void folder_done(int, const std::string&, const std::string&) override {}

private:
    const MountRef& mount_;
    std::uint64_t passes_;
    std::uint64_t block_bytes_;
    bool dry_run_;
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

std::string now_timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::ostringstream out;
    out << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
    return out.str();
}

std::string vornix::trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const std::size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

void log_line(const std::string& msg) {
    if (!log_enabled || !log_sink) return;
    std::string line = "[";
    line += now_timestamp();
    line += "] ";
    line += msg;
    log_sink(line);
}

bool is_unsafe_path(const fs::path& p) {
    const std::string raw = p.string();
    const std::string text = lower_ascii(raw);
    if (text.size() == 3 && text[1] == ':' && (text[2] == '\\' || text[2] == '/')) return true;
    if (text.rfind("c:\\windows", 0) == 0) return true;
    if (text.rfind("\\windows", 0) == 0) return true;
    if (text.rfind("\\\\.\\", 0) == 0) return true;
    if (!raw.empty() && raw.front() == '/' && is_system_path_text(raw)) return true;
    return names_parent_folder(raw);
}

void vornix::fill_random_block(unsigned char* block, std::uint64_t n, std::mt19937_64& gen) {
    std::uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const auto v = static_cast<std::uint32_t>(gen());
        block[i] = static_cast<unsigned char>(v);
        block[i + 1] = static_cast<unsigned char>(v >> 8);
        block[i + 2] = static_cast<unsigned char>(v >> 16);
        block[i + 3] = static_cast<unsigned char>(v >> 24);
    }
    if (i < n) {
        auto v = static_cast<std::uint32_t>(gen());
        for (; i < n; ++i, v >>= 8) block[i] = static_cast<unsigned char>(v);
    }
}

bool wipe_file(const fs::path& path, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    const TargetPlace place = open_target(path);
    EntryInfo folder;
    if (!place.folder || query_entry(place.folder.get(), "", folder) != 0) {
        log_line("Skipping non-regular file: " + esc(place.shown));
        return false;
    }
    return wipe_entry(place.folder.get(), place.name, place.shown, mount_of(folder), nullptr, passes, block_bytes,
                      dry_run);
}

void wipe_target(const fs::path& target, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    vornix::wipe_target(open_target(target), passes, block_bytes, dry_run);
}

void vornix::wipe_target(const TargetPlace& place, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    const std::string& shown = place.shown;
    const std::string t = esc(shown);
    if (!place.entry) {
        const std::error_code ec(place.error, std::system_category());
        if (!is_missing(ec)) throw fs::filesystem_error("cannot query target", fs::path(shown), ec);
        log_line("Path does not exist: " + t);
        return;
    }
    // A link as target is reported and left alone, never walked through.
    if (S_ISLNK(place.info.mode)) {
        log_line("Skipping non-regular file: " + t);
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
            log_line("Skipping mount point: " + t);
            return;
        }
        wipe_entry(place.folder.get(), place.name, shown, mount_of(folder), &place.info, passes, block_bytes, dry_run);
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
        WipeVisitor wipe(mount, passes, block_bytes, dry_run);
        walk_tree(root.get(), shown, mount, wipe);
    }

    if (dry_run) {
        log_line("[DRY] Directory removal skipped for: " + t);
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
        log_line("Could not remove directory tree: " + t + " (" + error_text(remove.first_error) + ")");
        return;
    }
    log_line("Directory tree removed: " + t);
}
