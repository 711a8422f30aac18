// 64-bit FNV-1a over buffers, streams and whole files: the hashing core
// shared by the duplicate finder and the search program's duplicate filter.
// It never writes to any stream; a caller that warns about a file it could
// not open does so itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

inline constexpr std::uint64_t kFnv1aOffsetBasis = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kFnv1aPrime = 0x100000001b3ULL;
// Streams are read in blocks of this many bytes.
inline constexpr std::size_t kFnv1aBlockSize = 65536;
// Files opened by name are read in larger blocks: fewer system calls, same hash.
inline constexpr std::size_t kFnv1aFileBlockSize = 1 << 18;

// Folds `size` bytes into `state`, each as an unsigned 8-bit value.
std::uint64_t fnv1a_update(std::uint64_t state, const void* data, std::size_t size) noexcept;

// The hash of one buffer, starting from the offset basis.
std::uint64_t fnv1a_buffer(const void* data, std::size_t size) noexcept;

// Hashes what `in` yields, block by block, while the stream stays good: the
// short last block is hashed and ends the loop, and a read error ends it
// with the bytes read so far.
std::uint64_t fnv1a_stream(std::istream& in);

// Opens `file` for binary reading and hashes all of it. False, with `hash`
// left as it was, when the file cannot be opened.
bool fnv1a_file(const std::filesystem::path& file, std::uint64_t& hash);
// The same with the caller's scratch space, reused across calls.
bool fnv1a_file(const std::string& file, std::uint64_t& hash, std::vector<unsigned char>& buffer);

// Hashes an open file from its start to its end, whatever its position; a read
// error ends the hash with the bytes read so far.
std::uint64_t fnv1a_descriptor(int fd, std::vector<unsigned char>& buffer);

// Whether `file` opens for binary reading, as the hashing functions open it.
bool file_opens_for_reading(const std::string& file);

// A file's hash taken in two steps, so that a cheap look at its head can
// decide whether the rest is worth reading. The state after the head is the
// state the whole-file hash passes through, so resuming costs nothing extra.
struct Fnv1aProgress {
    std::uint64_t state = kFnv1aOffsetBasis;
    std::uint64_t offset = 0;  // bytes folded in so far
    bool complete = false;     // end of file or a read error reached
};

// Opens `file` and hashes at most `limit` bytes of it (the whole file when it
// is no longer, its end being seen). False when it cannot be opened.
// `buffer` is the caller's scratch space, reused across calls.
bool fnv1a_file_head(const char* file, std::size_t limit, Fnv1aProgress& progress, std::vector<unsigned char>& buffer);

// Hashes the rest of a file whose head was hashed. A file that no longer
// opens ends the hash where it stood, as a read error would.
void fnv1a_file_rest(const char* file, Fnv1aProgress& progress, std::vector<unsigned char>& buffer);
