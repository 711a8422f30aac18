#include "tree_walk.h"

#include <vector>

namespace fs = std::filesystem;

// libstdc++'s recursive_directory_iterator turns into the end iterator at the
// first error, which would silently drop the rest of the tree; one
// directory_iterator per open folder keeps an error to that folder.
void walk_folder(const fs::path& root, bool recursive, const std::function<void(const fs::directory_entry&)>& visit) {
    const auto options = fs::directory_options::skip_permission_denied;
    std::error_code ec;
    std::vector<fs::directory_iterator> open;
    open.emplace_back(root, options, ec);
    if (ec) return;
    while (!open.empty()) {
        if (open.back() == fs::directory_iterator()) {
            open.pop_back();
            continue;
        }
        fs::path below;
        {
            const fs::directory_entry& entry = *open.back();
            visit(entry);
            std::error_code linkEc;
            std::error_code dirEc;
            if (recursive && !entry.is_symlink(linkEc) && !linkEc && entry.is_directory(dirEc) && !dirEc)
                below = entry.path();
        }
        open.back().increment(ec);
        ec.clear();  // the folder ends there; its parents go on
        if (below.empty()) continue;
        fs::directory_iterator sub(below, options, ec);
        if (ec)
            ec.clear();
        else
            open.push_back(std::move(sub));
    }
}
