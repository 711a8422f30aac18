// The target of a wipe, opened once. The refusals and the wipe itself work on
// what was opened here, so a folder above the target swapped for a link after
// the checks cannot send the wipe anywhere else.
#pragma once

#include <filesystem>
#include <string>

#include "fd.h"
#include "fd_tree.h"

namespace vornix {

struct TargetPlace {
    std::string shown;    // the target's text as given, for log lines
    platform::Fd folder;  // the folder that holds it (O_PATH); its path is resolved once, here
    std::string name;     // the last component in that folder; empty for "/" and for "." or ".."
    platform::Fd entry;   // the entry itself, a last link not followed (O_PATH)
    EntryInfo info;       // of entry
    int error = 0;        // why entry could not be opened; 0 when it was
};

// Trailing slashes and "/." are folded first: "x/." and "x/" name x itself,
// not whatever a link x leads to.
TargetPlace open_target(const std::filesystem::path& target);

// The text's last component (after that folding) is "..": the folder it names
// is reached through another one, which may be a link, and its own name is
// nowhere in the text.
bool names_parent_folder(const std::string& text);

// "/" itself, or a system folder or anything below one, judged on the folded
// absolute text ("/usr/../x" still reads as below /usr).
bool is_system_path_text(const std::string& absolute_text);

// The place is the root folder, or it or a folder above it is a system folder
// (same device and inode), or it lies on a mount whose root, seen where its
// file system is mounted, is inside a system folder (a bind mount of /usr/x).
// A check that cannot be completed refuses.
bool is_unsafe_place(const TargetPlace& place);

// The entry is the working folder itself; false also when that cannot be told.
bool is_current_directory(const TargetPlace& place);

}  // namespace vornix
