#include "part_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <thread>

namespace tovrel {

int (*part_file_sync_range)(int fd, off64_t offset, off64_t n, unsigned int flags) = ::sync_file_range;

namespace {
using Clock = std::chrono::steady_clock;

// Before the disk has been timed the allowance is small enough for a slow
// stick. Writeback goes in slices of an eighth of it, so the disk always has
// most of the allowance queued while the oldest slice is waited for.
constexpr std::uint64_t kFirstAllowance = 2u << 20;
constexpr std::uint64_t kMaxAllowance = 64u << 20;
constexpr std::uint64_t kSlices = 8;
constexpr std::uint64_t kMinSlice = 64u << 10;

std::uint64_t slice_of(const PartFile& part) {
    return std::max(kMinSlice, part.allowed / kSlices / kMinSlice * kMinSlice);
}

// An existing destination must be a file this user could write in place:
// the rename would otherwise replace a folder or a file its owner locked. A
// name the folder cannot take (too long, say) is refused before any data.
bool destination_acceptable(int dir_fd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir_fd, name.c_str(), &st, 0) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) return false;
    return ::faccessat(dir_fd, name.c_str(), W_OK, AT_EACCESS) == 0;
}

// Starts writeback of [from, to), or waits until it is on disk. Where ranges
// cannot be synced the whole file is, which only waits for more.
bool sync_range(int fd, std::uint64_t from, std::uint64_t to, bool wait) {
    const unsigned int flags =
        wait ? SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER : SYNC_FILE_RANGE_WRITE;
    if (part_file_sync_range(fd, static_cast<off64_t>(from), static_cast<off64_t>(to - from), flags) == 0) return true;
    if (errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != ESPIPE) return false;
    return !wait || ::fdatasync(fd) == 0;
}

// A slice is full: its writeback starts, and the oldest slices are waited
// for until the allowance has room for the next one. The bytes found on disk
// since the last look, over the time since then, give the rate: no more than
// the disk's, nor than the network's when that is slower, which only keeps
// the allowance smaller than it might be.
bool hand_to_disk(PartFile& part) {
    const int fd = part.file.fd();
    if (!sync_range(fd, part.handed, part.written, false)) return false;
    part.handed = part.written;
    const Clock::time_point now = Clock::now();
    if (part.synced > part.sampled) {
        const double seconds = std::max(std::chrono::duration<double>(now - part.sampled_at).count(), 1e-6);
        const double rate = static_cast<double>(part.synced - part.sampled) / seconds;
        const double fits = rate * std::chrono::duration<double>(part.unsynced_time).count();
        part.allowed = static_cast<std::uint64_t>(
            std::clamp(fits, static_cast<double>(kSlices * kMinSlice), static_cast<double>(kMaxAllowance)));
        part.sampled = part.synced;
        part.sampled_at = now;
    }
    while (part.synced < part.handed && part.written - part.synced + slice_of(part) > part.allowed) {
        const std::uint64_t end = std::min(part.handed, part.synced + slice_of(part));
        if (!sync_range(fd, part.synced, end, true)) return false;
        part.synced = end;
    }
    return true;
}

// The named temporaries of receives in progress, for an ending program. A
// slot is free, being filled or emptied by its worker, in use, or being
// cleared by remove_unfinished_part_files; the worker that empties a slot
// waits out a clearing (one unlink), never the other way round.
enum SlotState : int { kFree, kBusy, kInUse, kClearing };
struct UnfinishedSlot {
    std::atomic<int> state{kFree};
    int folder_fd = -1;  // the registry's own copy, closed only by the worker
    char name[64] = {};
};
UnfinishedSlot unfinished[16];
std::atomic<bool> ending{false};

int register_unfinished(int folder_fd, const std::string& name) {
    if (name.size() >= sizeof UnfinishedSlot::name) return -1;
    for (int i = 0; i < static_cast<int>(std::size(unfinished)); ++i) {
        UnfinishedSlot& slot = unfinished[i];
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kBusy)) continue;
        slot.folder_fd = ::fcntl(folder_fd, F_DUPFD_CLOEXEC, 0);
        if (slot.folder_fd < 0) {
            slot.state.store(kFree);
            return -1;
        }
        std::memcpy(slot.name, name.c_str(), name.size() + 1);
        slot.state.store(kInUse);
        return i;
    }
    return -1;
}

void unregister_unfinished(int& index) {
    if (index < 0) return;
    UnfinishedSlot& slot = unfinished[index];
    for (int expected = kInUse; !slot.state.compare_exchange_weak(expected, kBusy); expected = kInUse)
        std::this_thread::yield();
    ::close(slot.folder_fd);
    slot.folder_fd = -1;
    slot.state.store(kFree);
    index = -1;
}
}  // namespace

PartFile::~PartFile() { part_file_discard(*this); }

bool part_file_open(PartFile& part, const std::string& out_dir, const std::string& name, int unsynced_ms) {
    part_file_discard(part);
    const platform::Fd dir(::open(out_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir || !destination_acceptable(dir.get(), name)) return false;
    if (!part.file.open_in(dir.get(), name, true)) return false;
    if (!part.file.temp_name().empty()) part.slot = register_unfinished(part.file.folder_fd(), part.file.temp_name());
    // Checked after the slot is in use: an ending that cleared the list before
    // then is seen here, and the receive gives up instead.
    if ((!part.file.temp_name().empty() && part.slot < 0) || ending.load()) {
        part_file_discard(part);
        return false;
    }
    part.unsynced_time = std::chrono::milliseconds(unsynced_ms);
    part.written = part.handed = part.synced = part.sampled = 0;
    part.sampled_at = Clock::now();
    part.allowed = kFirstAllowance;
    return true;
}

bool part_file_write(PartFile& part, const char* data, std::size_t n) {
    if (part.file.fd() < 0) return false;
    // Written slice by slice, so that a chunk larger than the allowance (up
    // to 64 MiB from a sender) cannot pass it.
    while (n > 0) {
        const std::uint64_t room = slice_of(part) - std::min(slice_of(part), part.written - part.handed);
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, room));
        if (!part.file.write(data, take)) return false;
        part.written += take;
        data += take;
        n -= take;
        if (part.written - part.handed >= slice_of(part) && !hand_to_disk(part)) return false;
    }
    return true;
}

bool part_file_commit(PartFile& part) {
    // Unregistered only after the rename: an ending until then removes the
    // temporary, and the rename fails.
    const bool ok = part.file.commit();
    unregister_unfinished(part.slot);
    return ok;
}

void part_file_discard(PartFile& part) {
    part.file.discard();
    unregister_unfinished(part.slot);
}

void remove_unfinished_part_files() {
    ending.store(true);
    for (UnfinishedSlot& slot : unfinished) {
        int expected = kInUse;
        if (!slot.state.compare_exchange_strong(expected, kClearing)) continue;
        ::unlinkat(slot.folder_fd, slot.name, 0);
        slot.state.store(kInUse);
    }
}
}  // namespace tovrel
