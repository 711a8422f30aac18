#include "fnv1a.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <fcntl.h>

#include "fd.h"
#include "temp_folder.h"

namespace {
class Fnv1a : public TempTree {};
}  // namespace

TEST_F(Fnv1a, PublishedVectors) {
    struct Case {
        std::string input;
        std::uint64_t hash;
    };
    const Case cases[] = {
        {"", 0xcbf29ce484222325ULL},
        {"a", 0xaf63dc4c8601ec8cULL},
        {"foobar", 0x85944171f73967e8ULL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fnv1a_buffer(c.input.data(), c.input.size()), c.hash) << '"' << c.input << '"';
}

TEST_F(Fnv1a, BytesAboveSevenBitAreUnsigned) {
    const std::string high(1, static_cast<char>(0xff));
    // 0xff folded as 255, not as a sign-extended -1.
    EXPECT_EQ(fnv1a_buffer(high.data(), 1), (kFnv1aOffsetBasis ^ 0xffULL) * kFnv1aPrime);
}

TEST_F(Fnv1a, EveryLengthMatchesTheByteByByteDefinition) {
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

// A hash taken in steps passes through the whole-file state, never reads past
// the size it is given, and fails when the file holds fewer bytes.
TEST_F(Fnv1a, ReadInStepsUpToTheSizeOnly) {
    struct Case {
        std::size_t size;
        std::size_t head;
    };
    const Case cases[] = {{0, 16}, {15, 16}, {17, 16}, {kFnv1aFileBlockSize * 2 + 5, 65536}, {100, 0}};
    std::vector<unsigned char> scratch;
    for (const Case& c : cases) {
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>(i * 131 + c.size);
        // Bytes beyond the size the hash is given must not count.
        const auto file = write("f" + std::to_string(c.size), content + "tail");
        const platform::Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd.valid());
        const std::size_t head = std::min(c.size, c.head);

        Fnv1aProgress progress;
        ASSERT_TRUE(fnv1a_read(fd.get(), head, progress, scratch)) << c.size;
        EXPECT_EQ(progress.state, fnv1a_buffer(content.data(), head)) << c.size;
        ASSERT_TRUE(fnv1a_read(fd.get(), c.size, progress, scratch)) << c.size;
        EXPECT_EQ(progress.offset, c.size);
        EXPECT_EQ(progress.state, fnv1a_buffer(content.data(), c.size)) << c.size;

        Fnv1aProgress beyond;
        EXPECT_FALSE(fnv1a_read(fd.get(), c.size + 5, beyond, scratch)) << c.size;
    }
}
