#include "fnv1a.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "fd.h"

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

bool fnv1a_read(int fd, std::uint64_t until, Fnv1aProgress& progress, std::vector<unsigned char>& buffer,
                platform::StopCheck stop) {
    if (buffer.size() < kFnv1aFileBlockSize) buffer.resize(kFnv1aFileBlockSize);
    while (progress.offset < until) {
        if (stop.stop()) return false;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), until - progress.offset));
        const ssize_t got = platform::pread_full(fd, buffer.data(), want, progress.offset);
        if (got != static_cast<ssize_t>(want)) return false;
        progress.state = fnv1a_update(progress.state, buffer.data(), want);
        progress.offset += want;
    }
    return true;
}
