#include "wipe_engine.h"

void vornix::fill_random_block(unsigned char* block, std::uint64_t n, std::mt19937_64& gen) {
    std::uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const auto v = static_cast<std::uint32_t>(gen());
        block[i] = static_cast<unsigned char>(v);
        block[i + 1] = static_cast<unsigned char>(v >> 8);
        block[i + 2] = static_cast<unsigned char>(v >> 16);
        block[i + 3] = static_cast<unsigned char>(v >> 24);
    }
    if (i < n) {
        auto v = static_cast<std::uint32_t>(gen());
        for (; i < n; ++i, v >>= 8) block[i] = static_cast<unsigned char>(v);
    }
}
