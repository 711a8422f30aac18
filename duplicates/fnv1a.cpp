#include "fnv1a.h"

#include <fstream>
#include <vector>

std::uint64_t fnv1a_update(std::uint64_t state, const void* data, std::size_t size) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        state ^= bytes[i];
        state *= kFnv1aPrime;
    }
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
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) return false;
    hash = fnv1a_stream(in);
    return true;
}
