#include "fd_tree.h"

#include "fd.h"

#include <cerrno>
#include <dirent.h>
#include <filesystem>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vornix {

namespace {
using platform::Fd;

[[noreturn]] void throw_walk_error(const char* what, const std::string& shown, int err) {
    throw std::filesystem::filesystem_error(what, std::filesystem::path(shown),
                                            std::error_code(err, std::system_category()));
}

struct Level {
    std::string name;  // in the folder above
    std::string shown;
    dev_t dev = 0;
    ino_t ino = 0;
    std::vector<std::string> names;
    std::size_t next = 0;
};

// The names of a folder, read through a second descriptor that is closed again at once.
std::vector<std::string> list_names(int dir, const std::string& shown) {
    const int copy = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) throw_walk_error("cannot list folder", shown, errno);
    DIR* stream = fdopendir(copy);
    if (stream == nullptr) {
        const int err = errno;
        close(copy);
        throw_walk_error("cannot list folder", shown, err);
    }
    // The copy shares the offset of dir, which an earlier listing may have moved.
    rewinddir(stream);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(stream);
        if (e == nullptr) break;
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const int err = errno;
    closedir(stream);
    if (err != 0) throw_walk_error("cannot list folder", shown, err);
    return names;
}

bool same_folder(int fd, const Level& level) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == level.dev && st.st_ino == level.ino;
}

// The folder of stack[depth], opened again from root by the names that led
// down to it, each step checked against the folder the walk had entered.
Fd reopen_from_root(int root, const std::vector<Level>& stack, std::size_t depth) {
    Fd dir(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!dir) throw_walk_error("cannot reopen folder", stack[0].shown, errno);
    for (std::size_t i = 1; i <= depth; ++i) {
        Fd next(openat(dir.get(), stack[i].name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) throw_walk_error("folder moved during the wipe", stack[i].shown, errno);
        if (!same_folder(next.get(), stack[i]))
            throw_walk_error("folder moved during the wipe", stack[i].shown, ENOENT);
        dir = std::move(next);
    }
    return dir;
}
}  // namespace

int query_entry(int dir, const std::string& name, EntryInfo& out) {
    struct statx stx {};
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name.empty() ? AT_EMPTY_PATH : 0);
    if (statx(dir, name.c_str(), flags, STATX_BASIC_STATS | STATX_MNT_ID, &stx) != 0) return errno;
    out.mode = stx.stx_mode;
    out.size = stx.stx_size;
    out.nlink = stx.stx_nlink;
    out.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    out.ino = stx.stx_ino;
    out.mount_root =
        (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    out.has_mnt_id = (stx.stx_mask & STATX_MNT_ID) != 0;
    out.mnt_id = stx.stx_mnt_id;
    return 0;
}

MountRef mount_of(const EntryInfo& info) { return MountRef{info.has_mnt_id, info.mnt_id, info.dev}; }

bool on_other_mount(const EntryInfo& entry, const MountRef& mount) {
    if (entry.mount_root) return true;
    if (entry.has_mnt_id && mount.has_id) return entry.mnt_id != mount.id;
    return entry.dev != mount.dev;
}

std::string join_shown(const std::string& parent, const std::string& name) {
    if (!parent.empty() && parent.back() == '/') return parent + name;
    return parent + "/" + name;
}

void walk_tree(int root, const std::string& root_shown, const MountRef& mount, TreeVisitor& visitor) {
    struct stat root_st {};
    if (fstat(root, &root_st) != 0) throw_walk_error("cannot query folder", root_shown, errno);
    std::vector<Level> stack;
    stack.push_back(Level{"", root_shown, root_st.st_dev, root_st.st_ino, list_names(root, root_shown), 0});
    Fd cur(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!cur) throw_walk_error("cannot open folder", root_shown, errno);

    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next < top.names.size()) {
            const std::string name = top.names[top.next++];
            const std::string shown = join_shown(top.shown, name);
            EntryInfo info;
            const int err = query_entry(cur.get(), name, info);
            if (err == ENOENT) continue;  // gone since the listing
            if (err != 0) {
                visitor.entry_failed(shown, err);
                continue;
            }
            const bool other_mount = on_other_mount(info, mount);
            if (!visitor.entry(cur.get(), name, shown, info, other_mount) || other_mount || !S_ISDIR(info.mode))
                continue;

            Fd sub(openat(cur.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub) {
                const int open_err = errno;
                // Permission, or the entry became a link or something else, or vanished.
                if (open_err == EACCES || open_err == ENOENT || open_err == ELOOP || open_err == ENOTDIR) {
                    visitor.folder_not_entered(shown, open_err);
                    continue;
                }
                throw_walk_error("cannot open folder", shown, open_err);
            }
            // What was opened decides, not what was queried before.
            EntryInfo opened;
            if (query_entry(sub.get(), "", opened) != 0 || on_other_mount(opened, mount)) {
                visitor.folder_not_entered(shown, EXDEV);
                continue;
            }
            Level level{name, shown, opened.dev, opened.ino, list_names(sub.get(), shown), 0};
            stack.push_back(std::move(level));
            cur = std::move(sub);
            continue;
        }

        const Level done = std::move(stack.back());
        stack.pop_back();
        if (stack.empty()) break;
        Fd up(openat(cur.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!up || !same_folder(up.get(), stack.back())) up = reopen_from_root(root, stack, stack.size() - 1);
        cur = std::move(up);
        visitor.folder_done(cur.get(), done.name, done.shown);
    }
}

}  // namespace vornix
