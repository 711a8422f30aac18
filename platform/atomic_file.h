// The one way a file is put in place: written beside its final name, synced,
// renamed over it, and the folder synced, so that a crash, a full disk or a
// failed write leaves either the old file whole or the new one, never a cut
// one, and a link in the final name's place is replaced, never written through.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "fd.h"

namespace platform {

class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile() { discard(); }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Opens `folder` and makes a fresh file there that will take `name` (one
    // path component): unnamed where the file system allows it (it vanishes
    // with the process), else under a hidden temporary name made with
    // O_EXCL|O_NOFOLLOW. take_over_mode: when `name` is a regular file now, the
    // new one gets its permission bits, and its owner and group where this
    // process may set them. False (errno set) when nothing could be made.
    bool open(const std::string& folder, const std::string& name, bool take_over_mode);
    // The same in a folder already open (the descriptor is duplicated).
    bool open_in(int folder_fd, const std::string& name, bool take_over_mode);

    int fd() const { return file_.get(); }
    int folder_fd() const { return folder_.get(); }
    // The temporary's name while it has one (the named fallback), else empty.
    const std::string& temp_name() const { return temp_name_; }

    bool write(const void* data, std::size_t n);
    bool write(std::string_view text) { return write(text.data(), text.size()); }

    // Syncs the file, gives it its final name and syncs the folder. On a failure
    // before the rename the temporary is removed and the old file stays as it
    // was; a failed folder sync after the rename returns false too, with the
    // new file already in place.
    bool commit();
    // Removes the temporary (unless committed) and closes everything.
    void discard();

private:
    bool link_unnamed();

    Fd folder_;
    Fd file_;
    std::string name_;
    std::string temp_name_;
};

// Seams for tests: the sync every AtomicFile calls (file and folder alike),
// and a switch that makes every temporary a named one, as on file systems
// without unnamed files.
extern int (*atomic_file_sync)(int fd);
extern bool atomic_file_named_only;

// Replaces the file at `path` with `content` through an AtomicFile.
bool write_file_atomically(const std::string& path, std::string_view content, bool take_over_mode);

}  // namespace platform
