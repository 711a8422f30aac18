// A folder walk straight over readdir: the names and types the kernel hands
// out, each folder opened relative to its parent's descriptor, so that
// entries at any depth are reached whatever the length of their paths.
#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>

struct WalkEntry {
    enum class Kind { regular, directory, symlink, other };
    std::string path;         // the folder's path joined with the entry's name
    Kind kind = Kind::other;  // the entry itself; a link is not followed
    int folderFd = -1;        // the open folder holding the entry during the visit, or -1
    const char* name = "";    // the entry's own name, valid during the visit
    signed char linkToRegular = -1;  // for a link: 1 or 0 when the walk already asked, -1 otherwise

    // Whether the entry is a regular file or a link to one.
    bool is_regular_file() const;
};

// Calls visit for every entry below root, each folder's entries right after
// the folder itself, in the order readdir gives them. Links to folders are not
// entered; a folder that cannot be opened or read (no permission, removed
// meanwhile) loses only its own entries. recursive false: root's entries only.
// inParallel: helper threads walk subfolders ahead of time (those near the root
// split further, so that one large subfolder still spreads over them all), so
// that the kernel's directory reading runs on several cores; visit is still called
// on the calling thread, in the same order, but a folder may be read before
// visit meets it, so changes made meanwhile may go unseen.
void walk_directory(const std::string& root, bool recursive, const std::function<void(const WalkEntry&)>& visit,
                    bool inParallel = false);

// open and stat for a path of any length: a path beyond the system's limit is
// reached one folder at a time, following links as the system call would.
int open_any_length(const std::string& path, int flags);
bool stat_any_length(const std::string& path, struct stat& st);
// A regular file of any path length opened for reading, with its status; -1
// for anything else. A pipe or device put in its place never blocks the open.
int open_regular_for_reading(const std::string& path, struct stat& st);
