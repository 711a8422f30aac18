#include <gtest/gtest.h>

#include <sstream>

#include "banner.h"

namespace {
std::vector<std::string> split_lines(const std::string& s) {
    std::vector<std::string> lines;
    std::stringstream in(s);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Banner, LogoIs49RowsOf100Characters) {
    const auto rows = split_lines(banner_logo_art());
    ASSERT_EQ(rows.size(), 49u);
    for (const std::string& row : rows) EXPECT_EQ(row.size(), 100u);
    EXPECT_EQ(banner_logo_art().back(), ' ');  // no trailing newline inside the art
}

TEST(Banner, ClearsFirstThenArtMakerAndTitleWithNoColourLeftOn) {
    std::ostringstream out;
    write_banner(out, "Tovrel", "v3.0.0");
    const std::string s = out.str();
    EXPECT_EQ(s.rfind("\x1b[2J\x1b[H", 0), 0u);
    const std::size_t art = s.find(banner_logo_art());
    const std::size_t maker = s.find("Zeylaworks v3");
    const std::size_t title = s.find("Tovrel");
    ASSERT_NE(art, std::string::npos);
    ASSERT_NE(maker, std::string::npos);
    ASSERT_NE(title, std::string::npos);
    EXPECT_LT(art, maker);
    EXPECT_LT(maker, title);
    // The version shares the title's line.
    const std::size_t version = s.find("v3.0.0", title);
    ASSERT_NE(version, std::string::npos);
    EXPECT_EQ(s.find('\n', title), s.find('\n', version));
    // The terminal gets its colours back once the banner ends.
    EXPECT_GT(s.rfind("\x1b[0m"), s.rfind("\x1b[38;5;"));
    EXPECT_EQ(s.substr(s.size() - 2), "\n\n");
}

TEST(Banner, EmptyVersionEndsTheNameLineAtTheTitle) {
    std::ostringstream out;
    write_banner(out, "Vornix", "");
    EXPECT_NE(out.str().find("\x1b[38;5;220m" + std::string(30, ' ') + "Vornix\n\x1b[38;5;214m"), std::string::npos);
}
}  // namespace
