// The receiver's file while it arrives: a temporary file beside the
// destination, written through descriptors and put in the destination's place
// only once it is complete and on disk, so a failed receive never leaves a
// cut file under the final name nor touches an existing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct PartFile {
    int dir_fd = -1;
    int fd = -1;
    std::string temp_name;
    std::string final_name;
    std::uint64_t written = 0;
    std::uint64_t handed_to_disk = 0;

    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile();
};

// Opens out_dir and makes a fresh temporary file there for name (one path
// component). False when out_dir is not a folder that opens, when name is a
// folder there or an existing file this user may not write, or when no
// temporary file can be made.
bool part_file_open(PartFile& file, const std::string& out_dir, const std::string& name);
bool part_file_write(PartFile& file, const char* data, std::size_t n);
// Syncs the temporary file, closes it and renames it over the final name.
// On any failure the temporary file is removed and false returned.
bool part_file_commit(PartFile& file);
// Removes the temporary file (unless committed) and closes what is open.
void part_file_discard(PartFile& file);
