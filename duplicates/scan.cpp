#include "scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "dir_walk.h"
#include "ending_signals.h"
#include "fnv1a.h"
#include "same_content.h"
#include "work_pool.h"

namespace fs = std::filesystem;

namespace {
// An ending signal ends the reading between blocks and files; the program
// then ends where the workers have been joined.
constexpr platform::StopCheck kEndingSignals{ending_signal, act_on_signals};

// Bytes hashed from each candidate before deciding whether the rest is worth
// hashing: a file whose head no other file of its size shares has no twin.
constexpr std::size_t kHeadBytes = 4096;

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

struct WalkEnded {};

// Devices known to hold procfs or sysfs, asked once per device.
class PseudoDevices {
public:
    bool holds(const struct stat& st, const std::string& path) {
        for (const auto& [device, pseudo] : known_)
            if (device == st.st_dev) return pseudo;
        const bool pseudo = on_pseudo_file_system(path);
        known_.emplace_back(st.st_dev, pseudo);
        return pseudo;
    }

private:
    std::vector<std::pair<dev_t, bool>> known_;
};

// The regular files under root in walk order, with their sizes and
// identities (status and size in one query, links followed). A link that
// leads nowhere is no regular file; a regular file without a size is an
// error; files of procfs and sysfs are passed over like anything else that is
// not a regular file. The walk passes over folders it may not enter and ends
// quietly at any other error of a folder, keeping what came before.
void walk_regular_files(const std::string& root, WalkedPaths& paths, WalkedFiles& files, DuplicateStats& stats) {
    PseudoDevices pseudo;
    // One thread lists the folders, each asked about relative to its open
    // folder: helpers listing ahead would hold many entries at once.
    walk_directory(
        root, true,
        [&](const WalkEntry& entry) {
            // An ending signal ends the walk; the next stage hands the program over to it.
            if (ending_signal() != 0) throw WalkEnded{};
            if (entry.kind != WalkEntry::Kind::regular && entry.kind != WalkEntry::Kind::symlink) return;
            struct stat st {};
            if (::fstatat(entry.folderFd, entry.name, &st, 0) != 0) {
                if (entry.kind == WalkEntry::Kind::regular) ++stats.files_with_errors;
                return;
            }
            if (!S_ISREG(st.st_mode) || pseudo.holds(st, entry.path)) return;
            WalkedFile file;
            file.folder = paths.folder_of(entry.path);
            file.name = paths.add_name(entry.path);
            file.size = static_cast<std::uint64_t>(st.st_size);
            file.id = identity_of(st);
            files.push_back(file);
            ++stats.files_scanned;
        },
        false, WalkPolicy{true});
}

// One distinct file among the candidates: the paths that lead to it are
// members[first, first + count), in walk order, the first `failed` of which
// would not open as it. Hashing works per identity, so a file reached by
// several paths is read once.
struct Identity {
    std::size_t first = 0;
    std::uint32_t count = 0;
    std::uint32_t failed = 0;
    std::uint64_t size = 0;
    FileIdentity id;
    Fnv1aProgress hash;
    bool alone = false;  // the only identity of its size: no reading needed

    bool alive() const { return failed < count; }
    std::uint32_t live() const { return count - failed; }
};

struct Candidates {
    std::vector<std::size_t> members;  // walk indices, grouped by identity
    std::vector<Identity> identities;  // by size, then identity
};

// Files that share their size with another path, grouped by identity.
Candidates same_size_files(const WalkedFiles& files, DuplicateStats& stats) {
    struct Key {
        std::uint64_t size;
        FileIdentity id;
        std::size_t file;
        auto operator<=>(const Key&) const = default;
    };
    std::vector<Key> keys;
    keys.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) keys.push_back({files[i].size, files[i].id, i});
    std::sort(keys.begin(), keys.end());
    // Sized exactly before filling: these tables are the scan's largest.
    std::size_t members = 0;
    std::size_t identities = 0;
    for (std::size_t first = 0, last = 0; first < keys.size(); first = last) {
        for (last = first + 1; last < keys.size() && keys[last].size == keys[first].size;) ++last;
        if (last - first < 2) continue;
        members += last - first;
        for (std::size_t k = first; k < last; ++k) identities += k == first || keys[k].id != keys[k - 1].id;
    }
    Candidates out;
    out.members.reserve(members);
    out.identities.reserve(identities);
    for (std::size_t first = 0, last = 0; first < keys.size(); first = last) {
        const std::uint64_t size = keys[first].size;
        for (last = first + 1; last < keys.size() && keys[last].size == size;) ++last;
        if (last - first < 2) continue;
        stats.candidate_files += last - first;
        const std::size_t identities_before = out.identities.size();
        for (std::size_t k = first; k < last; ++k) {
            if (k == first || keys[k].id != keys[k - 1].id) {
                out.identities.push_back({});
                out.identities.back().first = out.members.size();
                out.identities.back().size = size;
                out.identities.back().id = keys[k].id;
            }
            out.members.push_back(keys[k].file);
            ++out.identities.back().count;
        }
        out.identities[identities_before].alone = out.identities.size() - identities_before == 1;
    }
    return out;
}

// Opens an identity through the first of its live paths that still leads to
// it; the paths that do not are counted among the failed.
platform::Fd open_identity(Identity& identity, const std::vector<std::size_t>& members, const WalkedFiles& files,
                           const WalkedPaths& paths) {
    thread_local std::string path;  // reused: no allocation per file
    for (; identity.alive(); ++identity.failed) {
        const WalkedFile& file = files[members[identity.first + identity.failed]];
        platform::Fd fd = reopen_content(paths.path_of(file, path).c_str(), identity.id, identity.size);
        if (fd) return fd;
    }
    return {};
}

// Hashes up to `until`; a file that fails to read there, or changed size once
// read to its end, fails for every path that leads to it.
void hash_identity(Identity& identity, std::uint64_t until, const std::vector<std::size_t>& members,
                   const WalkedFiles& files, const WalkedPaths& paths, std::vector<unsigned char>& buffer) {
    const platform::Fd fd = open_identity(identity, members, files, paths);
    if (!fd || identity.alone) return;
    const bool read = fnv1a_read(fd.get(), until, identity.hash, buffer, kEndingSignals) &&
                      (until < identity.size || still_of_size(fd.get(), identity.size));
    if (!read) identity.failed = identity.count;
}

bool same_size_and_hash(const Identity& x, const Identity& y) {
    return x.size == y.size && x.hash.state == y.hash.state;
}

// Identities ordered by size, then the hash state they reached, then walk order.
void sort_by_hash(std::vector<std::size_t>& order, const Candidates& c) {
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const Identity& a = c.identities[x];
        const Identity& b = c.identities[y];
        if (a.size != b.size) return a.size < b.size;
        if (a.hash.state != b.hash.state) return a.hash.state < b.hash.state;
        return c.members[a.first] < c.members[b.first];
    });
}

// Runs of identities that share size and hash state.
std::vector<std::pair<std::size_t, std::size_t>> hash_runs(const std::vector<std::size_t>& order, const Candidates& c) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // first, count
    for (std::size_t first = 0, last = 0; first < order.size(); first = last) {
        for (last = first + 1;
             last < order.size() && same_size_and_hash(c.identities[order[first]], c.identities[order[last]]);)
            ++last;
        runs.emplace_back(first, last - first);
    }
    return runs;
}

using Group = std::vector<std::size_t>;  // walk indices

// The live paths of one identity: a group of their own when there are two or more.
void add_identity_group(const Identity& identity, const Candidates& c, std::vector<Group>& groups) {
    if (identity.live() < 2) return;
    groups.emplace_back(c.members.begin() + static_cast<std::ptrdiff_t>(identity.first + identity.failed),
                        c.members.begin() + static_cast<std::ptrdiff_t>(identity.first + identity.count));
}

// Splits one bucket of equal size and hash into groups of byte-equal files,
// reading each distinct file once, all together.
std::vector<Group> confirm_bucket(const Candidates& c, const WalkedFiles& files, const WalkedPaths& paths,
                                  const std::size_t* ids, std::size_t count) {
    std::vector<std::size_t> members;
    for (std::size_t k = 0; k < count; ++k) {
        const Identity& identity = c.identities[ids[k]];
        for (std::size_t m = identity.first + identity.failed; m < identity.first + identity.count; ++m)
            members.push_back(c.members[m]);
    }
    std::sort(members.begin(), members.end());
    std::vector<std::string> texts(members.size());
    std::vector<ContentFile> content;
    content.reserve(members.size());
    for (std::size_t k = 0; k < members.size(); ++k)
        content.push_back({paths.path_of(files[members[k]], texts[k]).c_str(), files[members[k]].id});
    const std::vector<std::uint32_t> classes = split_by_content(content, c.identities[ids[0]].size, kEndingSignals);
    std::vector<Group> groups;
    for (std::size_t k = 0; k < members.size(); ++k) {
        if (classes[k] == kUnreadable) continue;
        if (classes[k] >= groups.size()) groups.resize(classes[k] + 1);
        groups[classes[k]].push_back(members[k]);
    }
    std::erase_if(groups, [](const Group& g) { return g.size() < 2; });
    return groups;
}
}  // namespace

DuplicateGroups find_duplicates(const fs::path& root, DuplicateStats& stats) {
    return find_duplicates(root, stats, default_worker_count());
}

DuplicateGroups find_duplicates(const fs::path& root, DuplicateStats& stats, unsigned workers) {
    workers = std::max(1u, workers);
    WalkedPaths paths;
    WalkedFiles files;
    try {
        walk_regular_files(root.native(), paths, files, stats);
    } catch (...) {
        // Running out of memory while walking ends the walk like any other error.
    }
    Candidates c = same_size_files(files, stats);
    std::vector<Group> groups;

    // Every identity is opened once on the way, its head hashed unless it is alone at its size.
    std::vector<std::vector<unsigned char>> scratch(workers);
    run_on_workers(c.identities.size(), workers, [&](std::size_t i, unsigned worker) {
        hash_identity(c.identities[i], std::min<std::uint64_t>(c.identities[i].size, kHeadBytes), c.members, files,
                      paths, scratch[worker]);
    }, kEndingSignals);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < c.identities.size(); ++i) {
        const Identity& identity = c.identities[i];
        stats.files_with_errors += identity.failed;
        if (identity.alone)
            add_identity_group(identity, c, groups);
        else if (identity.alive())
            order.push_back(i);
    }

    // Only identities whose head another one of their size shares are hashed to the end, largest first.
    sort_by_hash(order, c);
    std::vector<std::size_t> shared;
    std::vector<std::size_t> unfinished;
    for (const auto& [first, count] : hash_runs(order, c)) {
        if (count == 1) {
            add_identity_group(c.identities[order[first]], c, groups);
            continue;
        }
        for (std::size_t k = first; k < first + count; ++k) {
            shared.push_back(order[k]);
            if (c.identities[order[k]].size > kHeadBytes) unfinished.push_back(order[k]);
        }
    }
    std::stable_sort(unfinished.begin(), unfinished.end(),
                     [&](std::size_t x, std::size_t y) { return c.identities[x].size > c.identities[y].size; });
    std::vector<std::uint32_t> failed_at_head(unfinished.size());
    for (std::size_t k = 0; k < unfinished.size(); ++k) failed_at_head[k] = c.identities[unfinished[k]].failed;
    run_on_workers(unfinished.size(), workers, [&](std::size_t k, unsigned worker) {
        Identity& identity = c.identities[unfinished[k]];
        hash_identity(identity, identity.size, c.members, files, paths, scratch[worker]);
    }, kEndingSignals);
    scratch.clear();
    for (std::size_t k = 0; k < unfinished.size(); ++k)
        stats.files_with_errors += c.identities[unfinished[k]].failed - failed_at_head[k];
    order.clear();
    for (const std::size_t i : shared)
        if (c.identities[i].alive()) order.push_back(i);

    // Buckets of equal size and whole-file hash, confirmed byte by byte, largest first.
    sort_by_hash(order, c);
    std::vector<std::pair<std::size_t, std::size_t>> buckets;
    for (const auto& [first, count] : hash_runs(order, c)) {
        if (count == 1)
            add_identity_group(c.identities[order[first]], c, groups);
        else
            buckets.emplace_back(first, count);
    }
    std::stable_sort(buckets.begin(), buckets.end(), [&](const auto& x, const auto& y) {
        return c.identities[order[x.first]].size * x.second > c.identities[order[y.first]].size * y.second;
    });
    std::vector<std::vector<Group>> found(buckets.size());
    run_on_workers(buckets.size(), workers, [&](std::size_t b, unsigned) {
        found[b] = confirm_bucket(c, files, paths, &order[buckets[b].first], buckets[b].second);
    }, kEndingSignals);
    for (auto& bucket_groups : found)
        for (Group& group : bucket_groups) groups.push_back(std::move(group));
    found = {};
    c = {};

    // Groups in the walk order of their first members: the same on every run and for every thread count.
    std::sort(groups.begin(), groups.end(), [](const Group& x, const Group& y) { return x.front() < y.front(); });
    // The paths, every one parsed into its parts, are the largest part of the
    // result: what only the scan needed goes first.
    std::vector<std::pair<std::uint32_t, const char*>> where;
    for (const Group& members : groups)
        for (const std::size_t file : members) where.emplace_back(files[file].folder, files[file].name);
    files = {};
    DuplicateGroups result;
    result.reserve(groups.size());
    std::string path;
    std::size_t next = 0;
    for (Group& members : groups) {
        std::vector<fs::path> group;
        group.reserve(members.size());
        for (std::size_t k = 0; k < members.size(); ++k, ++next) {
            WalkedFile file;
            file.folder = where[next].first;
            file.name = where[next].second;
            group.emplace_back(paths.path_of(file, path));
        }
        ++stats.duplicate_groups;
        stats.duplicate_files += group.size();
        result.push_back(std::move(group));
        members = {};
    }
    return result;
}

bool gemmit::hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) {
    FileIdentity id;
    std::uint64_t size = 0;
    const platform::Fd fd = open_content(file.c_str(), id, size);
    if (!fd) return false;
    Fnv1aProgress progress;
    std::vector<unsigned char> buffer;
    if (!fnv1a_read(fd.get(), size, progress, buffer, kEndingSignals) || !still_of_size(fd.get(), size)) return false;
    hash = progress.state;
    return true;
}

bool files_equal(const fs::path& a, const fs::path& b) {
    FileIdentity id_a;
    FileIdentity id_b;
    std::uint64_t size_a = 0;
    std::uint64_t size_b = 0;
    if (!open_content(a.c_str(), id_a, size_a) || !open_content(b.c_str(), id_b, size_b) || size_a != size_b)
        return false;
    const auto classes = split_by_content({{a.c_str(), id_a}, {b.c_str(), id_b}}, size_a, kEndingSignals);
    return classes[0] != kUnreadable && classes[0] == classes[1];
}
