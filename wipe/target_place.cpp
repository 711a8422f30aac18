#include "target_place.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vornix {

namespace fs = std::filesystem;

namespace {
using platform::Fd;

// Refused with everything below them; the root is refused only itself.
constexpr const char* kSystemFolders[] = {"/bin",    "/boot", "/dev", "/etc",  "/lib", "/lib32", "/lib64",
                                          "/libx32", "/proc", "/run", "/sbin", "/sys", "/usr",   "/var"};

// Far deeper than any real tree; a longer way up is taken as one that never ends.
constexpr int kMaxLevelsUp = 1 << 20;

// Repeated slashes, trailing slashes and "." components folded away; ".."
// stays, so "/usr/../x" still reads as below /usr.
std::string fold_slashes_and_dots(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t next = text.find('/', i);
        const std::string part = text.substr(i, next == std::string::npos ? std::string::npos : next - i);
        if (!part.empty() && part != ".") out += "/" + part;
        if (next == std::string::npos) break;
        i = next + 1;
    }
    return out.empty() ? "/" : out;
}

bool path_holds(const std::string& folder, const std::string& path) {
    if (folder == "/" || path == folder) return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

bool in_system_folder(const std::string& absolute_text) {
    const std::string folded = fold_slashes_and_dots(absolute_text);
    for (const char* folder : kSystemFolders)
        if (path_holds(folder, folded)) return true;
    return false;
}

// "link/" and "link/." reach through the link, yet the user chose the link itself.
std::string without_trailing_dots(std::string text) {
    for (;;) {
        if (text.size() > 1 && text.back() == '/')
            text.pop_back();
        else if (text.size() > 2 && text.ends_with("/."))
            text.resize(text.size() - 2);
        else
            return text;
    }
}

struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator<(const Identity& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

// The system folders as they are now, links followed (/bin is often /usr/bin).
std::set<Identity> system_folder_identities() {
    std::set<Identity> out;
    for (const char* folder : kSystemFolders) {
        struct stat st {};
        if (stat(folder, &st) == 0) out.insert({st.st_dev, st.st_ino});
    }
    return out;
}

// One line of /proc/self/mountinfo: mount ID, the file system's device, the
// mounted folder within that file system, and where it is mounted.
struct MountLine {
    std::uint64_t id = 0;
    std::string device;
    std::string root;
    std::string mount_point;
};

// Blanks, tabs, newlines and backslashes in those fields appear as \ooo.
std::string unescape_octal(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool read_mount_table(std::vector<MountLine>& table) {
    const Fd fd(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    std::string text;
    char buffer[65536];
    for (;;) {
        bool failed = false;
        const ssize_t n = platform::read_full(fd.get(), buffer, sizeof buffer, &failed);
        if (n < 0 || failed) return false;
        text.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof buffer) break;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields;
        for (std::size_t i = start; i < end;) {
            std::size_t blank = text.find(' ', i);
            if (blank == std::string::npos || blank > end) blank = end;
            fields.push_back(text.substr(i, blank - i));
            i = blank + 1;
        }
        if (fields.size() >= 5) {
            MountLine line;
            line.id = std::strtoull(fields[0].c_str(), nullptr, 10);
            line.device = fields[2];
            line.root = unescape_octal(fields[3]);
            line.mount_point = unescape_octal(fields[4]);
            table.push_back(std::move(line));
        }
        start = end + 1;
    }
    return !table.empty();
}

// The mount's root as seen at every place its file system is mounted (the
// mount point of a mount whose root holds it, and the rest of the way down):
// a folder bound out of /usr/local/x lies below /usr wherever it is bound.
// Where the file system is not mounted in full anywhere here (a container's
// volume), there is no such place and nothing is refused for it.
bool mount_root_in_system_folder(const std::vector<MountLine>& table, const MountLine& mount) {
    for (const MountLine& other : table) {
        if (other.device != mount.device || !path_holds(other.root, mount.root)) continue;
        const std::string below = other.root == "/" ? mount.root : mount.root.substr(other.root.size());
        const std::string seen = other.mount_point == "/" ? below : other.mount_point + below;
        if (in_system_folder(seen)) return true;
    }
    return false;
}

// Judges each mount met once; false when a mount cannot be judged.
class MountCheck {
public:
    MountCheck() : have_table_(read_mount_table(table_)) {}

    bool safe(const EntryInfo& info) {
        // Without a mount ID (kernels before 5.8) only the walk's identities decide.
        if (!info.has_mnt_id || !seen_.insert(info.mnt_id).second) return true;
        if (!have_table_) return false;
        for (const MountLine& line : table_)
            if (line.id == info.mnt_id) return !mount_root_in_system_folder(table_, line);
        return false;
    }

private:
    std::vector<MountLine> table_;
    bool have_table_;
    std::set<std::uint64_t> seen_;
};
}  // namespace

TargetPlace open_target(const fs::path& target) {
    TargetPlace place;
    place.shown = target.string();
    if (place.shown.empty()) {
        place.error = ENOENT;
        return place;
    }
    const fs::path named = without_trailing_dots(place.shown);
    const std::string leaf = named.filename().string();
    auto open_entry = [&place](int dir, const char* name) {
        place.entry.reset(openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!place.entry) {
            place.error = errno;
            return;
        }
        place.error = query_entry(place.entry.get(), "", place.info);
        if (place.error != 0) place.entry.reset();
    };
    // "/", "." and "x/..": opened for the checks only, they have no name to wipe by.
    if (leaf.empty() || leaf == "." || leaf == "..") {
        open_entry(AT_FDCWD, named.c_str());
        return place;
    }
    const fs::path parent = named.has_parent_path() ? named.parent_path() : fs::path(".");
    // O_PATH: the folder is only looked into by name, so it need not be readable.
    place.folder.reset(open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!place.folder) {
        place.error = errno;
        return place;
    }
    place.name = leaf;
    open_entry(place.folder.get(), leaf.c_str());
    return place;
}

bool names_parent_folder(const std::string& text) {
    return !text.empty() && fs::path(without_trailing_dots(text)).filename() == "..";
}

bool is_system_path_text(const std::string& absolute_text) {
    return fold_slashes_and_dots(absolute_text) == "/" || in_system_folder(absolute_text);
}

bool is_unsafe_place(const TargetPlace& place) {
    if (names_parent_folder(place.shown)) return true;
    const bool entry_is_folder = place.entry && S_ISDIR(place.info.mode);
    const int start = entry_is_folder ? place.entry.get() : place.folder.get();
    if (start < 0) return false;  // nothing could be opened: the text alone decides

    MountCheck mounts;
    if (place.entry) {
        struct stat root {};
        if (stat("/", &root) != 0) return true;
        if (place.info.dev == root.st_dev && place.info.ino == root.st_ino) return true;
        if (!mounts.safe(place.info)) return true;
    }
    const std::set<Identity> system = system_folder_identities();
    Fd cur(fcntl(start, F_DUPFD_CLOEXEC, 0));
    if (!cur) return true;
    EntryInfo info;
    if (query_entry(cur.get(), "", info) != 0) return true;
    for (int level = 0; level < kMaxLevelsUp; ++level) {
        if (system.count({info.dev, info.ino}) != 0 || !mounts.safe(info)) return true;
        Fd up(openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        EntryInfo up_info;
        if (!up || query_entry(up.get(), "", up_info) != 0) return true;
        if (up_info.dev == info.dev && up_info.ino == info.ino) return false;  // the root: nothing above
        cur = std::move(up);
        info = up_info;
    }
    return true;
}

bool is_current_directory(const TargetPlace& place) {
    if (!place.entry) return false;
    struct stat cwd {};
    if (stat(".", &cwd) != 0) return false;
    return place.info.dev == cwd.st_dev && place.info.ino == cwd.st_ino;
}

}  // namespace vornix
