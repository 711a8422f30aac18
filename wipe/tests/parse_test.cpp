#include <gtest/gtest.h>

#include <random>
#include <set>

#include "confirm.h"
#include "wizard.h"

using namespace vornix;

namespace {
TEST(WizardParse, PassesFollowStoulOn32Bits) {
    const std::pair<const char*, std::uint64_t> cases[] = {
        {"", 1},
        {"abc", 1},
        {"4294967296", 1},
        {"99999999999999999999", 1},
        {"0", 1},
        {"3", 3},
        {"7 passes", 7},
        {"-1", 4294967295u},
        {"4294967295", 4294967295u},
        {"  12", 12},
        {"+5", 5},
        {"-4294967295", 1},
        {"-4294967296", 1},
        {"+-3", 1},
        {"0x10", 1},
        {"000000000000000000009", 9},
        {"-0", 1},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(parse_passes(text), want) << '"' << text << '"';
}

TEST(WizardParse, BlockSizeIsClampedToOneThrough1024) {
    const std::pair<const char*, std::uint64_t> cases[] = {
        {"0", 1}, {"2048", 1024}, {"x", 4},       {"16", 16},   {"4294967296", 4},
        {"", 4},  {"1024", 1024}, {"1025", 1024}, {"-1", 1024}, {" 8 MiB", 8},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(parse_block_mib(text), want) << '"' << text << '"';
}

TEST(WizardParse, FlagsAcceptFourExactSpellings) {
    for (const char* on : {"1", "y", "Y", "true"}) EXPECT_TRUE(parse_flag(on)) << on;
    for (const char* off : {"True", "yes", " 1", "1 ", "", "0", "TRUE", "n"}) EXPECT_FALSE(parse_flag(off)) << off;
}

TEST(ConfirmationCode, ElevenCharactersFromTheAlphabet) {
    const std::string alphabet = kCodeAlphabet;
    ASSERT_EQ(alphabet.size(), 32u);
    std::mt19937_64 gen(42), reference(42);
    const std::string code = make_confirmation_code(gen);
    ASSERT_EQ(code.size(), 11u);
    EXPECT_EQ(code.substr(0, 5), "WIPE-");
    for (std::size_t i = 5; i < 11; ++i) EXPECT_EQ(code[i], alphabet[reference() >> 59]) << i;

    std::set<char> seen;
    for (int n = 0; n < 2000; ++n) {
        const std::string c = make_confirmation_code(gen);
        ASSERT_EQ(c.size(), 11u);
        ASSERT_EQ(c.rfind("WIPE-", 0), 0u);
        for (char ch : c.substr(5)) {
            EXPECT_EQ(std::string("IO01").find(ch), std::string::npos) << c;
            seen.insert(ch);
        }
    }
    EXPECT_EQ(seen.size(), 32u);
}
}  // namespace
