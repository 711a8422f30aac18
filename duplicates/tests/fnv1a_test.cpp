#include "fnv1a.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(Fnv1a, EveryLengthMatchesTheByteByByteDefinition) {
    std::string data;
    for (std::size_t i = 0; i < 40; ++i) data += static_cast<char>(0xf0 + i * 7);
    for (std::size_t offset = 0; offset < 3; ++offset)  // loads from unaligned addresses too
        for (std::size_t length = 0; offset + length <= data.size(); ++length) {
            std::uint64_t expected = kFnv1aOffsetBasis;
            for (std::size_t i = offset; i < offset + length; ++i)
                expected = (expected ^ static_cast<unsigned char>(data[i])) * kFnv1aPrime;
            EXPECT_EQ(fnv1a_buffer(data.data() + offset, length), expected) << offset << "+" << length;
        }
}

TEST(Fnv1a, HeadThenRestEqualsTheWholeFile) {
    struct Case {
        std::size_t size;
        std::size_t limit;
        bool complete_after_head;
    };
    const Case cases[] = {
        {0, 16, true},
        {15, 16, true},
        {16, 16, true},  // exactly the limit: its end is seen without a second open
        {17, 16, false},
        {kFnv1aFileBlockSize * 2, 16, false},
        {kFnv1aFileBlockSize * 2 + 5, 65536, false},
        {100, 0, false},
    };
    TempTree tree;
    std::vector<unsigned char> scratch;
    for (const Case& c : cases) {
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>(i * 131 + c.size);
        const auto file = tree.write("f" + std::to_string(c.size), content);
        const std::uint64_t whole = fnv1a_buffer(content.data(), content.size());
        const std::size_t head = std::min(c.size, c.limit);

        Fnv1aProgress progress;
        ASSERT_TRUE(fnv1a_file_head(file.c_str(), c.limit, progress, scratch)) << c.size;
        EXPECT_EQ(progress.complete, c.complete_after_head) << c.size;
        EXPECT_EQ(progress.offset, head) << c.size;
        EXPECT_EQ(progress.state, fnv1a_buffer(content.data(), head)) << c.size;
        fnv1a_file_rest(file.c_str(), progress, scratch);
        EXPECT_TRUE(progress.complete);
        EXPECT_EQ(progress.state, whole) << c.size;

        std::uint64_t hash = 0;
        ASSERT_TRUE(fnv1a_file(file.string(), hash, scratch));
        EXPECT_EQ(hash, whole) << c.size;
        EXPECT_TRUE(file_opens_for_reading(file.string()));
    }
    Fnv1aProgress progress;
    EXPECT_FALSE(fnv1a_file_head((tree.root() / "absent").c_str(), 16, progress, scratch));
    EXPECT_FALSE(file_opens_for_reading((tree.root() / "absent").string()));
}
