// Files taken by their content, the one rule of the duplicate finder and of
// the search program's duplicate filter: a file is opened only as the regular
// file it was found to be, read up to the size it had then and never further,
// and files of one size are told apart by their bytes in one pass over them
// together.
#pragma once

#include <sys/stat.h>

#include <compare>
#include <cstdint>
#include <vector>

#include "fd.h"
#include "stop_check.h"

// Which file a path led to: the same file reached by two paths (a link and
// its target, two hard links) has one identity.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

FileIdentity identity_of(const struct stat& st);

// Opens a regular file (links followed) for its content, with the identity and
// size it has now. Anything else, and files of procfs and sysfs, whose sizes
// are not their contents, give an invalid descriptor.
platform::Fd open_content(const char* path, FileIdentity& id, std::uint64_t& size);

// Opens `path` again when it still leads to the file `id` of `size` bytes
// (found earlier as open_content finds files); an invalid descriptor otherwise.
platform::Fd reopen_content(const char* path, const FileIdentity& id, std::uint64_t size);

// Whether the open file still has `size` bytes: one that changed size while it
// was read counts as a file that could not be read.
bool still_of_size(int fd, std::uint64_t size);

// One file of a set to be told apart by content.
struct ContentFile {
    const char* path;
    FileIdentity id;
};

// What split_by_content gives a file it could not read to the end.
inline constexpr std::uint32_t kUnreadable = 0xffffffffu;

// Splits files of `size` bytes into classes of byte-equal files: class
// numbers from 0 in the order of each class's first file; kUnreadable for a
// file that no longer opens as its identity and size, or fails to read. Files
// of one identity are one class without a second read. Each distinct file is
// read once, block by block, all of them together, so that the cost follows
// the bytes, never the square of the count; a few dozen stay open at a time
// across the process, the others are opened again for each block. A stop
// asked for ends the comparison between blocks: files not compared to their
// end are then equal to nothing.
std::vector<std::uint32_t> split_by_content(const std::vector<ContentFile>& files, std::uint64_t size,
                                            platform::StopCheck stop = {});

// Seam for tests: called with each path just before it is opened for its content.
extern void (*before_content_open)(const char* path);
