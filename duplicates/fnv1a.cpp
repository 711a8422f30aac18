#include "fnv1a.h"

#include <bit>
#include <cstring>

#include "ending_signals.h"
#include "read_only_file.h"

namespace {
// Folds everything from progress.offset to the end of the file in, in blocks of
// the buffer's size.
void hash_to_end(int fd, Fnv1aProgress& progress, std::vector<unsigned char>& buffer) {
    if (buffer.size() < kFnv1aFileBlockSize) buffer.resize(kFnv1aFileBlockSize);
    while (!progress.complete && ending_signal() == 0) {
        bool failed = false;
        const std::size_t got = read_fully_at(fd, buffer.data(), buffer.size(), progress.offset, failed);
        progress.state = fnv1a_update(progress.state, buffer.data(), got);
        progress.offset += got;
        progress.complete = failed || got < buffer.size();
    }
}
}  // namespace

std::uint64_t fnv1a_update(std::uint64_t state, const void* data, std::size_t size) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t i = 0;
    // One load per eight bytes; the byte order of the fold stays the file's.
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        for (int k = 0; k < 8; ++k) {
            if constexpr (std::endian::native == std::endian::little)
                state = (state ^ ((word >> (8 * k)) & 0xff)) * kFnv1aPrime;
            else
                state = (state ^ ((word >> (56 - 8 * k)) & 0xff)) * kFnv1aPrime;
        }
    }
    for (; i < size; ++i) state = (state ^ bytes[i]) * kFnv1aPrime;
    return state;
}

std::uint64_t fnv1a_buffer(const void* data, std::size_t size) noexcept {
    return fnv1a_update(kFnv1aOffsetBasis, data, size);
}

std::uint64_t fnv1a_stream(std::istream& in) {
    std::vector<char> block(kFnv1aBlockSize);
    std::uint64_t state = kFnv1aOffsetBasis;
    while (in.good()) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const std::streamsize got = in.gcount();
        if (got > 0) state = fnv1a_update(state, block.data(), static_cast<std::size_t>(got));
    }
    return state;
}

bool fnv1a_file(const std::filesystem::path& file, std::uint64_t& hash) {
    std::vector<unsigned char> buffer;
    return fnv1a_file(file.native(), hash, buffer);
}

bool fnv1a_file(const std::string& file, std::uint64_t& hash, std::vector<unsigned char>& buffer) {
    const ReadOnlyFile in(file.c_str());
    if (!in.is_open()) return false;
    hash = fnv1a_descriptor(in.descriptor(), buffer);
    return true;
}

std::uint64_t fnv1a_descriptor(int fd, std::vector<unsigned char>& buffer) {
    Fnv1aProgress progress;
    hash_to_end(fd, progress, buffer);
    return progress.state;
}

bool file_opens_for_reading(const std::string& file) { return ReadOnlyFile(file.c_str()).is_open(); }

bool fnv1a_file_head(const char* file, std::size_t limit, Fnv1aProgress& progress, std::vector<unsigned char>& buffer) {
    const ReadOnlyFile in(file);
    if (!in.is_open()) return false;
    // One byte more than the limit tells a file of exactly `limit` bytes from a longer one.
    if (buffer.size() < limit + 1) buffer.resize(limit + 1);
    bool failed = false;
    const std::size_t got = in.read_at(buffer.data(), limit + 1, 0, failed);
    const std::size_t used = got > limit ? limit : got;
    progress = Fnv1aProgress{};
    progress.state = fnv1a_update(progress.state, buffer.data(), used);
    progress.offset = used;
    progress.complete = failed || got <= limit;
    return true;
}

void fnv1a_file_rest(const char* file, Fnv1aProgress& progress, std::vector<unsigned char>& buffer) {
    if (progress.complete) return;
    const ReadOnlyFile in(file);
    if (!in.is_open()) {
        progress.complete = true;
        return;
    }
    hash_to_end(in.descriptor(), progress, buffer);
}
