#include "same_content.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "dir_walk.h"

void (*before_content_open)(const char* path) = nullptr;

namespace {
// Descriptors kept open between blocks, for the whole process: a comparison of
// thousands of files must not run out of descriptors, nor starve the callers
// comparing beside it.
constexpr int kHeldFiles = 64;
std::atomic<int> free_holds{kHeldFiles};

bool take_hold() {
    int n = free_holds.load(std::memory_order_relaxed);
    while (n > 0 && !free_holds.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
    }
    return n > 0;
}

constexpr std::size_t kBlock = 1 << 18;
// A block step keeps the blocks of at most this many different contents of a
// class; a block that matches the hash of one not kept is checked against
// that file's block read again, which only many different blocks need.
constexpr std::size_t kKeptBlocks = 32;
// Block buffers each thread keeps between calls.
constexpr std::size_t kThreadBuffers = 4;

// A hash of a block under a key drawn once per process, so that many
// different blocks are told apart without comparing every pair, and no set of
// files made in advance can make them share hashes.
std::uint64_t block_key() {
    static const std::uint64_t key = [] {
        std::random_device rd;
        return (std::uint64_t{rd()} << 32 | rd()) | 1;
    }();
    return key;
}

std::uint64_t quick_hash(const unsigned char* data, std::size_t size) {
    std::uint64_t a = block_key();
    std::uint64_t b = ~a;
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, data + i, 8);
        std::memcpy(&y, data + i + 8, 8);
        a = (a ^ x) * 0x9e3779b97f4a7c15ULL;
        a ^= a >> 29;
        b = (b ^ y) * 0xbf58476d1ce4e5b9ULL;
        b ^= b >> 31;
    }
    for (; i < size; ++i) a = (a ^ data[i]) * 0x100000001b3ULL;
    return (a ^ (b * 0x94d049bb133111ebULL)) + size;
}

// One distinct file of a comparison: the run of files (in `order`) that share
// its identity, the path that opens it, and its descriptor while it holds one.
struct Source {
    std::size_t first = 0;  // run in `order`
    std::size_t end = 0;
    std::size_t path = 0;  // the run's entry tried first when opening
    platform::Fd fd;
    bool held = false;
    bool alive = true;
    std::uint32_t label = 0;  // the first source of its current class

    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() { release(); }
    void release() {
        fd.reset();
        if (held) free_holds.fetch_add(1, std::memory_order_relaxed);
        held = false;
    }
};

// Block buffers of a block step: the first few kept per thread, the others
// made for this step.
class BlockBuffers {
public:
    unsigned char* at(std::size_t i) {
        thread_local std::vector<std::unique_ptr<unsigned char[]>> kept;
        if (i < kThreadBuffers) {
            while (kept.size() <= i) kept.push_back(std::make_unique_for_overwrite<unsigned char[]>(kBlock));
            return kept[i].get();
        }
        while (extra_.size() <= i - kThreadBuffers)
            extra_.push_back(std::make_unique_for_overwrite<unsigned char[]>(kBlock));
        return extra_[i - kThreadBuffers].get();
    }

private:
    std::vector<std::unique_ptr<unsigned char[]>> extra_;
};

// Each different block of a class in one step.
struct Representative {
    const unsigned char* data;  // null when not kept: its class's first member has it
    std::uint64_t hash = 0;
    bool hashed = false;
};

// Hashes only once a class has several representatives: two or three are
// told apart faster by their bytes alone.
constexpr std::size_t kHashFrom = 4;

class Splitter {
public:
    Splitter(const std::vector<ContentFile>& files, std::uint64_t size, platform::StopCheck stop)
        : files_(files), size_(size), stop_(stop) {}

    std::vector<std::uint32_t> run() {
        std::vector<std::uint32_t> classes(files_.size(), kUnreadable);
        if (files_.empty()) return classes;
        group_identities();
        if (sources_.size() > 1) compare();
        // Class numbers in the order of each class's first file.
        std::vector<std::uint32_t> number(sources_.size(), kUnreadable);
        std::uint32_t next = 0;
        for (std::size_t f = 0; f < files_.size(); ++f) {
            const Source& source = sources_[source_of_[f]];
            if (!source.alive) continue;
            std::uint32_t& n = number[source.label];
            if (n == kUnreadable) n = next++;
            classes[f] = n;
        }
        return classes;
    }

private:
    // Sources in the order of their first files; source_of_ maps each file.
    void group_identities() {
        order_.resize(files_.size());
        for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
        std::sort(order_.begin(), order_.end(), [&](std::size_t x, std::size_t y) {
            if (files_[x].id != files_[y].id) return files_[x].id < files_[y].id;
            return x < y;
        });
        std::vector<std::pair<std::size_t, std::size_t>> runs;  // first file, start in order_
        for (std::size_t k = 0; k < order_.size(); ++k)
            if (k == 0 || files_[order_[k]].id != files_[order_[k - 1]].id) runs.emplace_back(order_[k], k);
        std::sort(runs.begin(), runs.end());
        sources_ = std::vector<Source>(runs.size());
        source_of_.resize(files_.size());
        for (std::size_t s = 0; s < runs.size(); ++s) {
            Source& source = sources_[s];
            source.first = source.path = runs[s].second;
            source.end = source.first + 1;
            while (source.end < order_.size() && files_[order_[source.end]].id == files_[order_[source.first]].id)
                ++source.end;
            for (std::size_t k = source.first; k < source.end; ++k) source_of_[order_[k]] = s;
        }
    }

    // Block by block over every class still of two or more sources.
    void compare() {
        std::vector<std::vector<std::uint32_t>> live(1);
        for (std::uint32_t s = 0; s < sources_.size(); ++s) live[0].push_back(s);
        std::vector<std::vector<std::uint32_t>> next;
        std::uint64_t offset = 0;
        // A stop asked for ends the comparison between blocks.
        for (; !live.empty() && offset < size_ && !stop_.stop();) {
            const auto len = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size_ - offset));
            next.clear();
            for (const auto& cls : live) split_class(cls, offset, len, next);
            live.swap(next);
            offset += len;
        }
        // Files not compared to their end are equal to nothing.
        if (offset < size_)
            for (const auto& cls : live)
                for (const std::uint32_t s : cls) kill(s);
        for (Source& source : sources_) source.release();
    }

    void split_class(const std::vector<std::uint32_t>& cls, std::uint64_t offset, std::size_t len,
                     std::vector<std::vector<std::uint32_t>>& next) {
        // Buffer 0 takes a block read again for a check; kept blocks follow it.
        BlockBuffers buffers;
        std::size_t kept = 0;
        std::vector<Representative> reps;
        std::vector<std::vector<std::uint32_t>> subs;
        for (const std::uint32_t s : cls) {
            unsigned char* block = buffers.at(1 + std::min(kept, kKeptBlocks));
            if (!read_block(sources_[s], block, len, offset)) {
                kill(s);
                continue;
            }
            const std::size_t found = find_equal(reps, subs, block, len, offset, buffers.at(0));
            if (found < reps.size()) {
                subs[found].push_back(s);
                continue;
            }
            Representative rep{kept < kKeptBlocks ? block : nullptr};
            if (rep.data) ++kept;
            if (!rep.data || reps.size() + 1 >= kHashFrom) {
                rep.hash = quick_hash(block, len);
                rep.hashed = true;
            }
            reps.push_back(rep);
            subs.push_back({s});
        }
        for (auto& sub : subs) {
            std::erase_if(sub, [&](std::uint32_t s) { return !sources_[s].alive; });
            for (const std::uint32_t s : sub) sources_[s].label = sub.front();
            if (sub.size() >= 2)
                next.push_back(std::move(sub));
            else if (sub.size() == 1)
                sources_[sub.front()].release();
        }
    }

    // The representative whose block equals `block`, or reps.size(). A block
    // not kept is read again from its source, or, should that fail, from the
    // next member of its class.
    std::size_t find_equal(std::vector<Representative>& reps, const std::vector<std::vector<std::uint32_t>>& subs,
                           const unsigned char* block, std::size_t len, std::uint64_t offset, unsigned char* again) {
        const bool hashing = reps.size() >= kHashFrom;
        const std::uint64_t hash = hashing ? quick_hash(block, len) : 0;
        for (std::size_t r = 0; r < reps.size(); ++r) {
            Representative& rep = reps[r];
            if (hashing) {
                if (!rep.hashed) rep.hash = quick_hash(rep.data, len);
                rep.hashed = true;
                if (rep.hash != hash) continue;
            }
            if (rep.data) {
                if (std::memcmp(rep.data, block, len) == 0) return r;
                continue;
            }
            for (std::size_t k = 0; k < subs[r].size(); ++k) {
                const std::uint32_t source = subs[r][k];
                if (!sources_[source].alive) continue;
                if (read_block(sources_[source], again, len, offset)) {
                    if (std::memcmp(again, block, len) == 0) return r;
                    break;
                }
                kill(source);
            }
        }
        return reps.size();
    }

    void kill(std::uint32_t s) {
        sources_[s].alive = false;
        sources_[s].release();
    }

    // Reads `len` bytes at `offset`; the last block also checks that the file
    // kept its size. A source without a held descriptor is opened again, by
    // the first of its paths that still leads to it.
    bool read_block(Source& source, unsigned char* block, std::size_t len, std::uint64_t offset) {
        platform::Fd reopened;
        int fd = source.fd.get();
        if (fd < 0) {
            for (; source.path < source.end && !reopened; ++source.path) {
                const ContentFile& file = files_[order_[source.path]];
                reopened = reopen_content(file.path, file.id, size_);
                if (reopened) break;
            }
            if (!reopened) return false;
            fd = reopened.get();
            if (!source.held && take_hold()) {
                source.held = true;
                source.fd = std::move(reopened);
            }
        }
        if (platform::pread_full(fd, block, len, offset) != static_cast<ssize_t>(len)) return false;
        return offset + len < size_ || still_of_size(fd, size_);
    }

    const std::vector<ContentFile>& files_;
    std::uint64_t size_;
    platform::StopCheck stop_;
    std::vector<std::size_t> order_;  // files by identity
    std::vector<Source> sources_;
    std::vector<std::size_t> source_of_;
};
}  // namespace

namespace {
// The shared open takes a std::string: one per thread, reused, spares an
// allocation per file.
platform::Fd open_regular(const char* path, struct stat& st, bool pseudo_files) {
    thread_local std::string text;
    text.assign(path);
    return platform::Fd(open_regular_for_reading(text, st, pseudo_files));
}
}  // namespace

FileIdentity identity_of(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

platform::Fd open_content(const char* path, FileIdentity& id, std::uint64_t& size) {
    if (before_content_open) before_content_open(path);
    struct stat st {};
    platform::Fd fd = open_regular(path, st, false);
    if (fd) {
        id = identity_of(st);
        size = static_cast<std::uint64_t>(st.st_size);
    }
    return fd;
}

platform::Fd reopen_content(const char* path, const FileIdentity& id, std::uint64_t size) {
    if (before_content_open) before_content_open(path);
    // The file was found off procfs and sysfs: being it again is enough.
    struct stat st {};
    platform::Fd fd = open_regular(path, st, true);
    if (fd && (identity_of(st) != id || static_cast<std::uint64_t>(st.st_size) != size)) fd.reset();
    return fd;
}

bool still_of_size(int fd, std::uint64_t size) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == size;
}

std::vector<std::uint32_t> split_by_content(const std::vector<ContentFile>& files, std::uint64_t size,
                                            platform::StopCheck stop) {
    return Splitter(files, size, stop).run();
}
