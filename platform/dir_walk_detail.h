// What the folder walk's files share among themselves; not for the walk's callers.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <functional>
#include <string>

#include "dir_walk.h"

namespace dir_walk_detail {

WalkEntry::Kind kind_of(const dirent& e, int folderFd);
void join(std::string& out, const std::string& folder, const char* name);
DIR* open_folder_at(int parentFd, const char* name);

// Folders one walk holds open at most; beyond that the oldest is parked.
inline constexpr std::size_t kMaxHeld = 48;

// Walks below an open folder; takes ownership of dir.
void walk_open_folder(DIR* dir, const std::string& path, bool recursive,
                      const std::function<void(const WalkEntry&)>& visit, std::size_t maxHeld = kMaxHeld,
                      bool stopOnError = false);

// The root's own entries on the calling thread; each subfolder's entries from a helper.
void walk_in_parallel(DIR* rootDir, const std::string& root, const std::function<void(const WalkEntry&)>& visit);

}  // namespace dir_walk_detail
