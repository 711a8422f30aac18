// The receiver's file while it arrives: an AtomicFile beside the destination,
// put in the destination's place (with the old file's mode and owner) only
// once it is complete and on disk, so a failed receive never leaves a cut file
// under the final name nor touches an existing one. On top of that, what only
// a transfer needs: which destinations it may replace, and writeback paced to
// the disk, so that reading the socket follows the disk and the final sync,
// which the sender waits for, is short on any medium.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "atomic_file.h"

namespace tovrel {
struct PartFile {
    platform::AtomicFile file;
    // Slot in the list of unfinished named temporaries, while there is one.
    int slot = -1;
    // Device time the unsynced data may take.
    std::chrono::milliseconds unsynced_time{2000};
    std::uint64_t written = 0;
    // Writeback has started for [0, handed) and is known done for [0, synced).
    std::uint64_t handed = 0;
    std::uint64_t synced = 0;
    // Bytes that may be written but not known on disk: the unsynced time at
    // the disk's measured rate, sampled at `sampled` bytes synced.
    std::uint64_t allowed = 0;
    std::uint64_t sampled = 0;
    std::chrono::steady_clock::time_point sampled_at{};

    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile();
};

// Opens out_dir and makes a fresh temporary file there for name (one path
// component). False when out_dir is not a folder that opens, when name is a
// folder there, an existing file this user may not write or a name the folder
// cannot take, or when no temporary file can be made. At most about
// unsynced_ms of the disk's write time (and never more than 64 MiB) of what
// is written stays unsynced.
bool part_file_open(PartFile& file, const std::string& out_dir, const std::string& name, int unsynced_ms = 2000);
bool part_file_write(PartFile& file, const char* data, std::size_t n);
// Syncs the file, puts it in place and syncs the folder. False when any of
// that failed; the temporary is then gone.
bool part_file_commit(PartFile& file);
// Removes the temporary file (unless committed) and closes what is open.
void part_file_discard(PartFile& file);

// Unlinks the named temporary of every receive still in progress, for a
// program that is ending: callable from any thread at any moment, it never
// waits for the workers (they fail once their file is gone), and uses only
// calls that are safe in a signal handler. A receive that starts afterwards
// fails. Unnamed temporaries need nothing: they vanish with the process.
void remove_unfinished_part_files();

// Seam for tests: the writeback calls (sync_file_range's signature).
extern int (*part_file_sync_range)(int fd, off64_t offset, off64_t n, unsigned int flags);
}  // namespace tovrel
