// One file's wipe: passes over its whole size from its own descriptor, then
// its removal while its name still holds it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <random>

#include "ending_signals.h"
#include "fd.h"
#include "target_place.h"
#include "wipe_engine.h"
#include "wipe_steps.h"

namespace fs = std::filesystem;
using platform::Fd;
using namespace vornix;

namespace vornix {

SyncFunction wipe_sync = ::fdatasync;

namespace {
struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Block = std::unique_ptr<unsigned char, FreeDeleter>;

// calloc hands out untouched zero pages, so a large block costs memory only
// where it is actually written.
Block zeroed_block(std::uint64_t bytes) {
    auto* p = static_cast<unsigned char*>(std::calloc(std::max<std::uint64_t>(bytes, 1), 1));
    if (p == nullptr) throw std::bad_alloc();
    return Block(p);
}

// One pass over the whole size, committed to the medium before it counts:
// otherwise the removal that follows lets the kernel drop the dirty pages.
bool overwrite_pass(int fd, const std::string& shown, std::uint64_t size, std::uint64_t block_bytes, bool random_pass,
                    const unsigned char* zeros, unsigned char* random, std::mt19937_64& gen,
                    const platform::LineSink& log) {
    for (std::uint64_t written = 0; written < size;) {
        const std::uint64_t n = std::min(size - written, block_bytes);
        const unsigned char* data = zeros;
        if (random_pass) {
            fill_random_block(random, n, gen);
            data = random;
        }
        if (!platform::pwrite_all(fd, data, static_cast<std::size_t>(n), written)) {
            log("Write error on: " + esc(shown));
            return false;
        }
        written += n;
        act_on_signals();  // an ending signal ends the program here
    }
    if (wipe_sync(fd) != 0) {
        log("Write error on: " + esc(shown));
        return false;
    }
    return true;
}

// Removes the name only while it still holds the file worked on, at the size
// worked on: a file replaced by a new version or grown was not (all)
// overwritten, so it stays. removed: what the failure's log line calls the removal.
bool remove_unchanged(int dir, const std::string& name, const EntryInfo& info, std::uint64_t size,
                      const std::string& p, const char* removed, const platform::LineSink& log) {
    if (!unchanged(dir, name, info, size)) {
        log("File changed while it was overwritten, left in place: " + p);
        return false;
    }
    if (unlinkat(dir, name.c_str(), 0) != 0) {
        log(removed + std::string(" with error: ") + p + " (" + error_text(errno) + ")");
        return false;
    }
    return true;
}
}  // namespace

bool unchanged(int dir, const std::string& name, const EntryInfo& worked_on, std::uint64_t size) {
    EntryInfo now;
    return query_entry(dir, name, now) == 0 && same_entry(now, worked_on) && now.size == size;
}

void throw_target_changed(const std::string& shown) {
    throw fs::filesystem_error("target changed since it was checked", fs::path(shown),
                               std::make_error_code(std::errc::operation_canceled));
}

bool wipe_entry(int dir, const std::string& name, const std::string& shown, const MountRef& mount,
                const EntryInfo* checked, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run,
                const platform::LineSink& log) {
    const std::string p = esc(shown);
    EntryInfo queried;
    if (query_entry(dir, name, queried) != 0 || !S_ISREG(queried.mode)) {
        log("Skipping non-regular file: " + p);
        return false;
    }
    if (dry_run) {
        if (checked != nullptr && !same_entry(queried, *checked)) throw_target_changed(shown);
        if (queried.nlink > 1) {
            log("Skipping file with other hard links: " + p);
            return false;
        }
        log("[DRY] Preparing to overwrite: " + p + " (" + std::to_string(queried.size) + " bytes)");
        return true;
    }

    // Non-blocking and no controlling terminal: a FIFO or a device swapped in
    // since the query cannot hang the open. Write-only keeps the file's
    // blocks: truncating would free them unwritten.
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    Fd fd(openat(dir, name.c_str(), O_RDWR | kFlags));
    int open_err = fd ? 0 : errno;
    if (!fd && open_err != ELOOP) {
        fd = Fd(openat(dir, name.c_str(), O_WRONLY | kFlags));
        open_err = fd ? 0 : errno;
    }
    EntryInfo opened;
    if (open_err == ELOOP || (fd && (query_entry(fd.get(), "", opened) != 0 || !S_ISREG(opened.mode)))) {
        log("Skipping non-regular file: " + p);
        return false;
    }
    const EntryInfo& info = fd ? opened : queried;
    if (checked != nullptr && !same_entry(info, *checked)) throw_target_changed(shown);
    // An empty file has no data to overwrite, so it goes even when it cannot be opened.
    if (!fd && queried.size != 0) {
        log("Preparing to overwrite: " + p + " (" + std::to_string(queried.size) + " bytes)");
        log("Failed to open for overwrite: " + p);
        return false;
    }
    if (on_other_mount(info, mount)) {
        log("Skipping mount point: " + p);
        return false;
    }
    // The data belongs to the names outside the target too.
    if (info.nlink > 1) {
        log("Skipping file with other hard links: " + p);
        return false;
    }
    const std::uint64_t size = info.size;
    log("Preparing to overwrite: " + p + " (" + std::to_string(size) + " bytes)");

    if (size == 0) {
        if (!remove_unchanged(dir, name, info, 0, p, "Zero-length file removed", log)) return false;
        log("Zero-length file removed: " + p);
        return true;
    }

    const Block zeros = zeroed_block(block_bytes);
    const Block random = zeroed_block(block_bytes);
    std::random_device source;
    const std::uint32_t seed = source();
    std::mt19937_64 gen(seed);
    for (std::uint64_t pass = 0; pass < passes; ++pass) {
        if (!overwrite_pass(fd.get(), shown, size, block_bytes, pass % 2 == 1, zeros.get(), random.get(), gen, log))
            return false;
    }

    if (!remove_unchanged(dir, name, info, size, p, "File removed", log)) return false;
    log("File overwritten and removed: " + p);
    return true;
}

}  // namespace vornix

bool wipe_file(const fs::path& path, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    const TargetPlace place = open_target(path);
    EntryInfo folder;
    if (!place.folder || query_entry(place.folder.get(), "", folder) != 0) {
        log_line_sink("Skipping non-regular file: " + esc(place.shown));
        return false;
    }
    return wipe_entry(place.folder.get(), place.name, place.shown, mount_of(folder), nullptr, passes, block_bytes,
                      dry_run, log_line_sink);
}
