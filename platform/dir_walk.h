// A folder walk straight over readdir: the names and types the kernel hands
// out, with no per-entry path parsing, for searches over large trees.
#pragma once

#include <functional>
#include <string>

struct WalkEntry {
    enum class Kind { regular, directory, symlink, other };
    std::string path;         // the folder's path joined with the entry's name
    Kind kind = Kind::other;  // the entry itself; a link is not followed

    // Whether the entry is a regular file or a link to one.
    bool is_regular_file() const;
};

// Calls visit for every entry below root, each folder's entries right after
// the folder itself, in the order readdir gives them. Links to folders are not
// entered; a folder that cannot be opened or read (no permission, removed
// meanwhile) loses only its own entries. recursive false: root's entries only.
void walk_directory(const std::string& root, bool recursive, const std::function<void(const WalkEntry&)>& visit);
