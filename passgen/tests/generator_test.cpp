#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "generator.h"
#include "random.h"

using namespace corvane;

namespace {
const std::string kLower = "abcdefghijklmnopqrstuvwxyz";
const std::string kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string kDigits = "0123456789";
const std::string kSymbols = "!@#$%^&*()-_=+[]{};:,.<>/?~`|\\\"'";

std::string accented_bytes() {
    std::string out;
    auto range = [&](int from, int to) {
        for (int b = from; b <= to; ++b) out += static_cast<char>(b);
    };
    range(0xE0, 0xEF), range(0xF1, 0xF6), range(0xF8, 0xFD), range(0xFF, 0xFF);
    range(0xC0, 0xCF), range(0xD1, 0xD6), range(0xD8, 0xDD);
    return out;
}

std::string joined(const std::vector<std::string>& elements) {
    std::string out;
    for (const auto& e : elements) out += e;
    return out;
}

GenOptions options(bool upper, bool lower, bool digits, bool accented, bool symbols, int length, int quantity,
                   const std::string& exclude = "", bool guarantee = true) {
    GenOptions o;
    o.upper = upper, o.lower = lower, o.digits = digits, o.accented = accented, o.symbols = symbols;
    o.length = length, o.quantity = quantity, o.exclude = exclude, o.guarantee_each_class = guarantee;
    return o;
}

std::string refusal(const GenOptions& o) {
    try {
        generate_passwords(o);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

bool any_of_class(const std::string& password, const std::string& members) {
    return password.find_first_of(members) != std::string::npos;
}

// Sources that stand in for the kernel.
bool failing_source(unsigned char*, std::size_t) { return false; }

std::vector<std::uint32_t> scripted_values;
std::size_t scripted_next = 0;
bool scripted_source(unsigned char* buffer, std::size_t size) {
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        const std::uint32_t v = scripted_values[scripted_next++ % scripted_values.size()];
        std::memcpy(buffer + i, &v, 4);  // little-endian here, as on Windows
    }
    return true;
}

struct SourceGuard {
    ~SourceGuard() { set_random_source(nullptr); }
};
}  // namespace

TEST(Generator, PoolHoldsTheClassesInPoolOrder) {
    const auto pool = build_charset(true, true, true, true, true);
    EXPECT_EQ(pool.size(), 151u);
    EXPECT_EQ(joined(pool), kLower + kUpper + kDigits + accented_bytes() + kSymbols);
    for (const auto& e : pool) EXPECT_EQ(e.size(), 1u);
    EXPECT_EQ(accented_bytes().size(), 57u);
    EXPECT_EQ(kSymbols.size(), 32u);
    EXPECT_EQ(joined(build_charset(true, false, true, false, false)), kUpper + kDigits);
    EXPECT_EQ(joined(build_charset(false, false, false, true, false)), accented_bytes());
    EXPECT_TRUE(build_charset(false, false, false, false, false).empty());
    // ð ÷ þ Ð × Þ ß and the space are in no class.
    const std::string all = joined(pool);
    for (char c : std::string("\xF0\xF7\xFE\xD0\xD7\xDE\xDF "))
        EXPECT_EQ(all.find(c), std::string::npos) << static_cast<int>(static_cast<unsigned char>(c));
}

TEST(Generator, ExclusionIsByteWise) {
    auto pool = build_charset(true, true, false, true, false);
    remove_excluded(pool, "a");
    const std::string rest = joined(pool);
    EXPECT_EQ(rest.find('a'), std::string::npos);
    EXPECT_NE(rest.find('A'), std::string::npos);
    EXPECT_NE(rest.find('\xE0'), std::string::npos);  // à stays
    EXPECT_EQ(pool.size(), 26u + 26u + 57u - 1u);

    auto digits = build_charset(false, false, true, false, false);
    remove_excluded(digits, "");
    EXPECT_EQ(joined(digits), kDigits);
    remove_excluded(digits, "9x#3");  // bytes of no class change nothing
    EXPECT_EQ(joined(digits), "01245678");

    EXPECT_TRUE(is_excluded("ab", "xb"));
    EXPECT_FALSE(is_excluded("ab", "xyz"));
    EXPECT_FALSE(is_excluded("a", ""));
}

TEST(Generator, RefusalsComeInTheirOrderWithTheirTexts) {
    struct Case {
        GenOptions o;
        const char* text;
    };
    const Case cases[] = {
        {options(false, false, true, false, false, 0, 0), "Length must be > 0"},
        {options(false, false, true, false, false, 5000, 0), "Quantity must be > 0"},
        {options(false, false, true, false, false, -1, 5), "Length must be > 0"},
        {options(false, false, true, false, false, 4097, 1), "Length too large (max 4096)"},
        {options(false, false, true, false, false, 2147483647, 1), "Length too large (max 4096)"},
        {options(false, false, true, false, false, 5000, 20000), "Length too large (max 4096)"},
        {options(false, false, true, false, false, 1, 10001), "Quantity too large (max 10000)"},
        {options(false, false, true, false, false, 4096, 4883),
         "Requested output is too large (length*quantity limit exceeded)"},
        {options(false, false, true, false, false, 2001, 10000),
         "Requested output is too large (length*quantity limit exceeded)"},
        {options(false, false, false, false, false, 8, 1), "Empty charset (after exclude)"},
        {options(false, false, true, false, false, 8, 1, "0123456789"), "Empty charset (after exclude)"},
        {options(false, false, true, false, false, 8, 1, "0123456789", false), "Empty charset (after exclude)"},
        {options(true, false, true, false, false, 8, 1, "0123456789"), "A selected class became empty after exclude"},
        {options(true, true, true, false, false, 2, 1),
         "Requested length 2 is smaller than number of required classes (3)"},
        {options(true, true, true, true, true, 4, 1),
         "Requested length 4 is smaller than number of required classes (5)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(refusal(c.o), c.text) << "length " << c.o.length << " quantity " << c.o.quantity;
}

TEST(Generator, WithoutTheGuaranteeClassesAreNotCounted) {
    const auto two = generate_passwords(options(true, true, true, false, false, 2, 50, "", false));
    ASSERT_EQ(two.size(), 50u);
    for (const auto& p : two) EXPECT_EQ(p.size(), 2u);

    // The digits are gone, the upper-case letters remain.
    const auto upper_only = generate_passwords(options(true, false, true, false, false, 12, 20, "0123456789", false));
    for (const auto& p : upper_only) {
        EXPECT_EQ(p.size(), 12u);
        EXPECT_EQ(p.find_first_not_of(kUpper), std::string::npos) << p;
    }
}

TEST(Generator, EveryPasswordHasItsLengthAndEachChosenClass) {
    const auto one = generate_passwords(options(false, false, true, false, false, 1, 1));
    ASSERT_EQ(one.size(), 1u);
    ASSERT_EQ(one[0].size(), 1u);
    EXPECT_NE(kDigits.find(one[0][0]), std::string::npos);

    // Five characters, five classes: each class exactly once, in any place.
    const auto five = generate_passwords(options(true, true, true, true, true, 5, 2000));
    ASSERT_EQ(five.size(), 2000u);
    std::vector<int> first_class_at(5, 0);
    for (const auto& p : five) {
        ASSERT_EQ(p.size(), 5u);  // bytes: accented letters are one byte each
        EXPECT_TRUE(any_of_class(p, kUpper)) << p;
        EXPECT_TRUE(any_of_class(p, kLower)) << p;
        EXPECT_TRUE(any_of_class(p, kDigits)) << p;
        EXPECT_TRUE(any_of_class(p, accented_bytes())) << p;
        EXPECT_TRUE(any_of_class(p, kSymbols)) << p;
        if (kUpper.find(p[0]) != std::string::npos) ++first_class_at[0];
    }
    // The shuffle moves the upper-case letter away from the front.
    EXPECT_GT(first_class_at[0], 200);
    EXPECT_LT(first_class_at[0], 650);

    const auto excluded = generate_passwords(options(true, true, true, true, true, 64, 50, "aA0!"));
    for (const auto& p : excluded) {
        EXPECT_EQ(p.size(), 64u);
        EXPECT_EQ(p.find_first_of("aA0!"), std::string::npos) << p;
    }
}

TEST(Generator, CeilingOfTwentyMillionCharactersPasses) {
    const auto big = generate_passwords(options(true, true, true, true, true, 2000, 10000));
    ASSERT_EQ(big.size(), 10000u);
    for (const auto& p : big) ASSERT_EQ(p.size(), 2000u);
    EXPECT_NE(big.front(), big.back());
    EXPECT_EQ(refusal(options(false, false, true, false, false, 4096, 4882)), "");
}

TEST(Generator, DrawsComeInTheFixedOrder) {
    SourceGuard guard;
    // Required upper, lower, digits, then one from the pool (lower, upper,
    // digits), then the shuffle from the top index down.
    scripted_values = {1, 2, 3, 30, 0, 2, 0};
    scripted_next = 0;
    set_random_source(scripted_source);
    const auto p = generate_passwords(options(true, true, true, false, false, 4, 1));
    // Chosen B c 3 E; swap 3<->0: E c 3 B; j == 2 keeps; swap 1<->0: c E 3 B.
    EXPECT_EQ(p, std::vector<std::string>{"cE3B"});
}

TEST(Generator, FailingSourceEndsTheCall) {
    SourceGuard guard;
    set_random_source(failing_source);
    try {
        random_below(10);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "BCryptGenRandom failed");
    }
    EXPECT_EQ(refusal(options(true, false, false, false, false, 8, 3)), "BCryptGenRandom failed");
    // Nothing to choose from means nothing is drawn.
    EXPECT_EQ(random_below(0), 0u);
    EXPECT_EQ(random_below(1), 0u);
    const auto single = generate_passwords(options(false, false, true, false, false, 1, 3, "012345678"));
    EXPECT_EQ(single, (std::vector<std::string>{"9", "9", "9"}));
}

// The generator as described draw by draw, one 32-bit value per draw from
// the script, for comparison with the real one.
std::vector<std::string> reference_passwords(const GenOptions& o, std::size_t& next) {
    auto below = [&](std::uint32_t n) -> std::uint32_t {
        if (n < 2) return 0;
        const std::uint64_t limit = 4294967295u - (4294967295u % n);
        for (;;) {
            const std::uint32_t r = scripted_values[next++ % scripted_values.size()];
            if (r < limit) return r % n;
        }
    };
    std::vector<std::string> required;
    const std::pair<bool, std::string> classes[] = {{o.upper, kUpper},
                                                    {o.lower, kLower},
                                                    {o.digits, kDigits},
                                                    {o.accented, accented_bytes()},
                                                    {o.symbols, kSymbols}};
    std::string pool;
    for (const auto& [on, members] : classes) {
        if (!on) continue;
        std::string kept;
        for (char c : members)
            if (o.exclude.find(c) == std::string::npos) kept += c;
        if (o.guarantee_each_class) required.push_back(kept);
    }
    for (const auto& e : build_charset(o.upper, o.lower, o.digits, o.accented, o.symbols))
        if (o.exclude.find(e[0]) == std::string::npos) pool += e;
    std::vector<std::string> out;
    for (int p = 0; p < o.quantity; ++p) {
        std::string chosen;
        for (const auto& members : required) chosen += members[below(static_cast<std::uint32_t>(members.size()))];
        while (chosen.size() < static_cast<std::size_t>(o.length))
            chosen += pool[below(static_cast<std::uint32_t>(pool.size()))];
        for (std::size_t i = chosen.size() - 1; i >= 1; --i)
            std::swap(chosen[i], chosen[below(static_cast<std::uint32_t>(i + 1))]);
        out.push_back(chosen);
    }
    return out;
}

std::atomic<int> blocks_until_failure{0};
bool source_failing_later(unsigned char* buffer, std::size_t size) {
    if (blocks_until_failure.fetch_sub(1) <= 0) return false;
    return scripted_source(buffer, size);
}

TEST(Generator, BlockReadsDrawTheSameValuesInTheSameOrder) {
    SourceGuard guard;
    // Values over the whole 32-bit range, with the ones every bound rejects
    // (0xFFFFFFFF) and the largest accepted for the pool of 151; a prime
    // count, so that the script never lines up with a block of the source.
    scripted_values.clear();
    std::uint64_t state = 12345;
    for (int i = 0; i < 10007; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        scripted_values.push_back(static_cast<std::uint32_t>(state >> 32));
    }
    for (std::size_t i = 0; i < scripted_values.size(); i += 97) scripted_values[i] = 0xFFFFFFFFu;
    for (std::size_t i = 50; i < scripted_values.size(); i += 89)
        scripted_values[i] = 4294967295u - 4294967295u % 151 - 1;
    set_random_source(scripted_source);

    // Small requests, and ones large enough to be read ahead on another thread.
    const GenOptions cases[] = {
        options(true, true, true, true, true, 16, 20),
        options(true, false, true, false, true, 7, 30, "0!A", true),
        options(false, true, false, true, false, 33, 10, "", false),
        options(true, true, true, true, true, 2000, 400),
        options(false, false, true, false, false, 4096, 200, "13579"),
    };
    for (const GenOptions& o : cases) {
        scripted_next = 0;
        const auto real = generate_passwords(o);
        std::size_t next = 0;
        const auto expected = reference_passwords(o, next);
        ASSERT_EQ(real.size(), expected.size());
        for (std::size_t i = 0; i < real.size(); ++i)
            ASSERT_EQ(real[i], expected[i]) << "length " << o.length << " password " << i;
    }
}

TEST(Generator, SourceFailingMidwayEndsALargeCall) {
    SourceGuard guard;
    scripted_values = {7, 11, 13};
    set_random_source(source_failing_later);
    for (int blocks : {0, 1, 5, 40}) {
        blocks_until_failure = blocks;
        EXPECT_EQ(refusal(options(true, true, true, true, true, 2000, 10000)), "BCryptGenRandom failed") << blocks;
    }
}

TEST(Generator, RandomBelowIsUniform) {
    for (std::uint32_t n : {2u, 7u, 151u, 4294967295u})
        for (int i = 0; i < 1000; ++i) ASSERT_LT(random_below(n), n);

    // Chi-square over ten cells, 9 degrees of freedom: 60 is far beyond any
    // chance result (p < 1e-8).
    constexpr int kCells = 10, kDraws = 100000;
    std::vector<int> counts(kCells, 0);
    for (int i = 0; i < kDraws; ++i) ++counts[random_below(kCells)];
    const double expected = static_cast<double>(kDraws) / kCells;
    double chi2 = 0;
    for (int c : counts) chi2 += (c - expected) * (c - expected) / expected;
    EXPECT_LT(chi2, 60.0);

    // n = 3 * 2^30: a plain modulo would put half the draws below 2^30
    // instead of a third.
    constexpr std::uint32_t kBig = 3221225472u;
    int low = 0;
    for (int i = 0; i < 30000; ++i)
        if (random_below(kBig) < 1073741824u) ++low;
    EXPECT_GT(low, 9300);
    EXPECT_LT(low, 10700);
}

TEST(Generator, TrimDropsIsspaceOnly) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {" 12 ", "12"}, {"\t\r\n\v\f12\f", "12"}, {"   ", ""}, {"", ""}, {"a b", "a b"}, {"\xA0x\xA0", "\xA0x\xA0"},
    };
    for (const Case& c : cases) EXPECT_EQ(trim(c.in), c.out) << c.in;
}
