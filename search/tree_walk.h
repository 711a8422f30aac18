// The folder walk of the search and of the duplicate filter's reference folder.
#pragma once

#include <filesystem>
#include <functional>

// Calls visit for every entry below root, each folder's entries right after the
// folder itself (the order of recursive_directory_iterator), skipping folders
// that deny access and not following symbolic links to folders. A folder that
// cannot be listed (removed while walking, say) loses only its own entries.
// recursive false: the root's own entries only.
void walk_folder(const std::filesystem::path& root, bool recursive,
                 const std::function<void(const std::filesystem::directory_entry&)>& visit);
