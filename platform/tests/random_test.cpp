#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "random.h"

namespace {
NTSTATUS draw(unsigned char* buffer, ULONG size) {
    return BCryptGenRandom(nullptr, buffer, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
}

std::uint32_t draw_u32() {
    unsigned char b[4] = {};
    EXPECT_EQ(draw(b, 4), STATUS_SUCCESS);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

bool fill_ab(unsigned char* buffer, std::size_t size) {
    std::memset(buffer, 0xAB, size);
    return true;
}
bool always_fail(unsigned char*, std::size_t) { return false; }

struct SourceGuard {
    ~SourceGuard() { set_random_source(nullptr); }
};
}  // namespace

TEST(Random, RequestsOfEverySizeAreFilledAcrossBatchEdges) {
    for (ULONG size : {1u, 3u, 4u, 17u, 4096u, 16383u, 16384u, 16385u, 100000u}) {
        std::vector<unsigned char> a(size, 0), b(size, 0);
        ASSERT_EQ(draw(a.data(), size), STATUS_SUCCESS) << size;
        ASSERT_EQ(draw(b.data(), size), STATUS_SUCCESS) << size;
        if (size >= 16) {
            EXPECT_NE(a, b) << size;
            // The tail must be written too, not only the first batch.
            const auto tail = a.end() - 16;
            EXPECT_FALSE(std::all_of(tail, a.end(), [](unsigned char c) { return c == 0; })) << size;
        }
    }
}

TEST(Random, SuccessiveDrawsAreNotHandedOutTwice) {
    // 100000 values of 32 bits collide about once by chance; a batch handed
    // out twice would repeat thousands of them.
    std::set<std::uint32_t> seen;
    int repeats = 0;
    for (int i = 0; i < 100000; ++i)
        if (!seen.insert(draw_u32()).second) ++repeats;
    EXPECT_LE(repeats, 10);
}

TEST(Random, ArgumentsAreCheckedAsWindowsDoes) {
    unsigned char b[4] = {};
    EXPECT_EQ(BCryptGenRandom(nullptr, b, 4, 0), STATUS_INVALID_HANDLE);
    EXPECT_LT(BCryptGenRandom(nullptr, b, 4, 0), 0);
    EXPECT_EQ(draw(nullptr, 4), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(draw(b, 0), STATUS_SUCCESS);
}

TEST(Random, FailureOfTheSourceIsANegativeStatus) {
    SourceGuard guard;
    unsigned char b[4] = {};
    draw(b, 4);  // leaves a half-used batch behind
    set_random_source(always_fail);
    EXPECT_LT(draw(b, 4), 0);
    EXPECT_LT(draw(b, 1), 0);
    set_random_source(nullptr);
    EXPECT_EQ(draw(b, 4), STATUS_SUCCESS);
}

TEST(Random, BytesOfAReplacedSourceAreNotHandedOut) {
    SourceGuard guard;
    unsigned char b[8] = {};
    draw(b, 4);
    set_random_source(fill_ab);
    ASSERT_EQ(draw(b, 8), STATUS_SUCCESS);
    for (unsigned char c : b) EXPECT_EQ(c, 0xAB);
    set_random_source(nullptr);
    std::vector<unsigned char> big(64);
    ASSERT_EQ(draw(big.data(), 64), STATUS_SUCCESS);
    EXPECT_FALSE(std::all_of(big.begin(), big.end(), [](unsigned char c) { return c == 0xAB; }));
}
