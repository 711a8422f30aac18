#include "fnv1a.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "temp_tree.h"

TEST(Fnv1a, PublishedVectors) {
    struct Case {
        std::string input;
        std::uint64_t hash;
    };
    const Case cases[] = {
        {"", 0xcbf29ce484222325ULL},
        {"a", 0xaf63dc4c8601ec8cULL},
        {"foobar", 0x85944171f73967e8ULL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fnv1a_buffer(c.input.data(), c.input.size()), c.hash) << '"' << c.input << '"';
        std::istringstream in(c.input);
        EXPECT_EQ(fnv1a_stream(in), c.hash) << "stream of \"" << c.input << '"';
    }
}

TEST(Fnv1a, BytesAboveSevenBitAreUnsigned) {
    const std::string high(1, static_cast<char>(0xff));
    // 0xff folded as 255, not as a sign-extended -1.
    EXPECT_EQ(fnv1a_buffer(high.data(), 1), (kFnv1aOffsetBasis ^ 0xffULL) * kFnv1aPrime);
}

TEST(Fnv1a, FileAcrossBlockBoundariesMatchesBuffer) {
    TempTree tree;
    std::string content;
    for (std::size_t i = 0; i < 2 * kFnv1aBlockSize + 7; ++i) content += static_cast<char>((i * 31 + 7) % 251);
    const auto file = tree.write("big.bin", content);
    std::uint64_t hash = 0;
    ASSERT_TRUE(fnv1a_file(file, hash));
    EXPECT_EQ(hash, fnv1a_buffer(content.data(), content.size()));

    // Exactly one block: the final empty read must not change the state.
    const std::string block(kFnv1aBlockSize, 'x');
    ASSERT_TRUE(fnv1a_file(tree.write("block.bin", block), hash));
    EXPECT_EQ(hash, fnv1a_buffer(block.data(), block.size()));
}

TEST(Fnv1a, MissingFileLeavesHashUntouched) {
    TempTree tree;
    std::uint64_t hash = 42;
    EXPECT_FALSE(fnv1a_file(tree.root() / "absent", hash));
    EXPECT_EQ(hash, 42u);
}
