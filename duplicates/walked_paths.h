// The scan's walk and the paths it keeps: each folder's path once, each file's
// name beside its folder's number, all in large shared blocks.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "same_content.h"
#include "scan.h"

namespace gemmit {

// Texts of the walk as NUL-ended strings in large shared blocks: a
// std::string or std::filesystem::path per file would cost an allocation
// (and parsed components) each.
class TextStore {
public:
    const char* add(std::string_view text) {
        const std::size_t need = text.size() + 1;
        char* out;
        if (need > kBlock / 4) {  // a long path gets a block of its own
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(need));
            out = blocks_.back().get();
        } else {
            if (need > left_) {
                blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
                next_ = blocks_.back().get();
                left_ = kBlock;
            }
            out = next_;
            next_ += need;
            left_ -= need;
        }
        std::memcpy(out, text.data(), text.size());
        out[text.size()] = '\0';
        return out;
    }

private:
    static constexpr std::size_t kBlock = 1 << 18;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

// A regular file of the walk.
struct WalkedFile {
    const char* name = nullptr;
    std::uint32_t folder = 0;
    std::uint64_t size = 0;
    FileIdentity id;
};

// The walk's paths: each folder's once, and each file's name beside its folder's number.
class WalkedPaths {
public:
    // The number of the folder an entry's path lies in: the path up to its last slash.
    std::uint32_t folder_of(const std::string& path) {
        const std::string_view parent(path.data(), path.rfind('/'));
        // The walk goes depth first: an entry's folder is the current folder or
        // one of its ancestors, or a folder met for the first time below them.
        while (!ancestors_.empty()) {
            const std::string_view top = ancestors_.back().first;
            if (parent == top) return ancestors_.back().second;
            if (parent.size() > top.size() && parent.starts_with(top) && parent[top.size()] == '/') break;
            ancestors_.pop_back();
        }
        folders_.push_back(store_.add(parent));
        const auto number = static_cast<std::uint32_t>(folders_.size() - 1);
        ancestors_.emplace_back(std::string_view(folders_.back(), parent.size()), number);
        return number;
    }
    const char* add_name(const std::string& path) { return store_.add(path.c_str() + path.rfind('/') + 1); }

    const std::string& path_of(const WalkedFile& file, std::string& out) const {
        out = folders_[file.folder];
        out += '/';
        out += file.name;
        return out;
    }

private:
    TextStore store_;
    std::vector<const char*> folders_;
    std::vector<std::pair<std::string_view, std::uint32_t>> ancestors_;
};

using WalkedFiles = std::deque<WalkedFile>;

// The regular files under root in walk order, with their sizes and
// identities (status and size in one query, links followed). A link that
// leads nowhere is no regular file; a regular file without a size is an
// error; files of procfs and sysfs are passed over like anything else that is
// not a regular file. The walk passes over folders it may not enter and ends
// quietly at any other error of a folder, keeping what came before.
void walk_regular_files(const std::string& root, WalkedPaths& paths, WalkedFiles& files, DuplicateStats& stats);

}  // namespace gemmit
