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

// What a walk does when a folder cannot be opened or read.
struct WalkPolicy {
    // false: such a folder loses only its own entries. true: only a folder that
    // may not be entered (permission denied) is passed over; any other failure
    // to open or read a folder ends the whole walk at that point, as a recursive
    // directory iteration ends at its first error. Such a walk runs on the
    // calling thread alone.
    bool stopOnError = false;
};

// Calls visit for every entry below root, each folder's entries right after
// the folder itself, in the order readdir gives them. Links to folders are not
// entered; a folder that cannot be opened or read (no permission, removed
// meanwhile) loses only its own entries, unless the policy says otherwise.
// recursive false: root's entries only. False when an error ended the walk
// under the policy (or the root could not be opened), true otherwise.
// inParallel: helper threads walk subfolders ahead of time (those near the root
// split further, so that one large subfolder still spreads over them all), so
// that the kernel's directory reading runs on several cores; visit is still called
// on the calling thread, in the same order, but a folder may be read before
// visit meets it, so changes made meanwhile may go unseen.
bool walk_directory(const std::string& root, bool recursive, const std::function<void(const WalkEntry&)>& visit,
                    bool inParallel = false, WalkPolicy policy = {});

// open and stat for a path of any length: a path beyond the system's limit is
// reached one folder at a time, following links as the system call would.
int open_any_length(const std::string& path, int flags);
bool stat_any_length(const std::string& path, struct stat& st);
// A regular file of any path length opened for reading (links followed), with
// its status; -1 for anything else. Nothing but a regular file is ever opened
// for reading: what the path names is pinned and checked first, so a pipe or
// device put in its place is never opened, and the reading descriptor cannot
// block. pseudoFiles false: files of procfs and sysfs, whose sizes are not
// their contents, count as anything else.
int open_regular_for_reading(const std::string& path, struct stat& st, bool pseudoFiles = true);

// Whether an open file, or the file a path of any length leads to, lies on procfs or sysfs.
bool on_pseudo_file_system(int fd);
bool on_pseudo_file_system(const std::string& path);
