#include "dir_walk.h"

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {
WalkEntry::Kind kind_of(const dirent& e, const std::string& path) {
    switch (e.d_type) {
        case DT_REG:
            return WalkEntry::Kind::regular;
        case DT_DIR:
            return WalkEntry::Kind::directory;
        case DT_LNK:
            return WalkEntry::Kind::symlink;
        case DT_UNKNOWN:
            break;
        default:
            return WalkEntry::Kind::other;
    }
    // Some file systems leave the type to a separate query.
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return WalkEntry::Kind::other;
    if (S_ISREG(st.st_mode)) return WalkEntry::Kind::regular;
    if (S_ISDIR(st.st_mode)) return WalkEntry::Kind::directory;
    if (S_ISLNK(st.st_mode)) return WalkEntry::Kind::symlink;
    return WalkEntry::Kind::other;
}

std::string join(const std::string& folder, const char* name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

struct OpenFolder {
    DIR* dir;
    std::string path;
};
}  // namespace

bool WalkEntry::is_regular_file() const {
    if (kind == Kind::regular) return true;
    if (kind != Kind::symlink) return false;
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void walk_directory(const std::string& root, bool recursive, const std::function<void(const WalkEntry&)>& visit) {
    std::vector<OpenFolder> open;
    if (DIR* dir = opendir(root.c_str())) open.push_back({dir, root});
    WalkEntry entry;
    while (!open.empty()) {
        const dirent* e = readdir(open.back().dir);
        if (e == nullptr) {  // the end, or a read error that ends this folder only
            closedir(open.back().dir);
            open.pop_back();
            continue;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        entry.path = join(open.back().path, e->d_name);
        entry.kind = kind_of(*e, entry.path);
        visit(entry);
        if (recursive && entry.kind == WalkEntry::Kind::directory) {
            if (DIR* dir = opendir(entry.path.c_str())) open.push_back({dir, std::move(entry.path)});
        }
    }
}
