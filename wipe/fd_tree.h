// Folder trees walked through open descriptors only: no step resolves a path
// string again once the walk has started, so a folder swapped for a link
// during the walk cannot lead it anywhere else.
#pragma once

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace vornix {

// The mount a walk stays on. A device number alone would miss a bind mount
// of the same file system, so the mount ID decides where the kernel has one.
struct MountRef {
    bool has_id = false;
    std::uint64_t id = 0;
    dev_t dev = 0;
};

// Type, size, links, device and inode of one entry, and whether it lies on
// another mount than the walk's.
struct EntryInfo {
    mode_t mode = 0;
    std::uint64_t size = 0;
    std::uint64_t nlink = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    bool mount_root = false;
    bool has_mnt_id = false;
    std::uint64_t mnt_id = 0;
};

// statx of name in dir without following a last link (AT_EMPTY_PATH with an
// empty name queries dir itself); 0 or the errno.
int query_entry(int dir, const std::string& name, EntryInfo& out);
MountRef mount_of(const EntryInfo& info);
// True when the entry is the root of a mount or lies on another mount.
bool on_other_mount(const EntryInfo& entry, const MountRef& mount);

// "parent/name" for log lines only.
std::string join_shown(const std::string& parent, const std::string& name);

// What a walk does with each entry.
class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;
    // An entry that could be queried; true enters it (only folders on the
    // walk's mount are entered).
    virtual bool entry(int dir, const std::string& name, const std::string& shown, const EntryInfo& info,
                       bool other_mount) = 0;
    // An entry whose query failed for another reason than being gone.
    virtual void entry_failed(const std::string& shown, int err) = 0;
    // A folder that could not be opened (permission, or it changed type or
    // vanished since its query), or that turned out to be on another mount.
    virtual void folder_not_entered(const std::string& shown, int err) = 0;
    // After the last entry of a folder; dir is the folder that holds it.
    virtual void folder_done(int dir, const std::string& name, const std::string& shown) = 0;
};

// Visits everything below root depth first. A fixed handful of descriptors
// is open whatever the depth: the way back up is "..", checked
// against the folder it came from (and, should that folder have moved,
// found again from root by the names that led down, each checked).
// Errors of the walk itself throw std::filesystem::filesystem_error.
void walk_tree(int root, const std::string& root_shown, const MountRef& mount, TreeVisitor& visitor);

}  // namespace vornix
