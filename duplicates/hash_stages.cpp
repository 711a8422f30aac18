#include "hash_stages.h"

#include <algorithm>
#include <string>

namespace gemmit {

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

namespace {
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
}  // namespace

void hash_identity(Identity& identity, std::uint64_t until, const std::vector<std::size_t>& members,
                   const WalkedFiles& files, const WalkedPaths& paths, std::vector<unsigned char>& buffer) {
    const platform::Fd fd = open_identity(identity, members, files, paths);
    if (!fd || identity.alone) return;
    const bool read = fnv1a_read(fd.get(), until, identity.hash, buffer, kEndingSignals) &&
                      (until < identity.size || still_of_size(fd.get(), identity.size));
    if (!read) identity.failed = identity.count;
}

namespace {
bool same_size_and_hash(const Identity& x, const Identity& y) {
    return x.size == y.size && x.hash.state == y.hash.state;
}
}  // namespace

void sort_by_hash(std::vector<std::size_t>& order, const Candidates& c) {
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const Identity& a = c.identities[x];
        const Identity& b = c.identities[y];
        if (a.size != b.size) return a.size < b.size;
        if (a.hash.state != b.hash.state) return a.hash.state < b.hash.state;
        return c.members[a.first] < c.members[b.first];
    });
}

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

void add_identity_group(const Identity& identity, const Candidates& c, std::vector<Group>& groups) {
    if (identity.live() < 2) return;
    groups.emplace_back(c.members.begin() + static_cast<std::ptrdiff_t>(identity.first + identity.failed),
                        c.members.begin() + static_cast<std::ptrdiff_t>(identity.first + identity.count));
}

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

}  // namespace gemmit
