#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <unistd.h>

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

TEST(Banner, BytesAndColours) {
    std::ostringstream out;
    write_banner(out, "Tovrel", "v3.0.0");
    const std::string s = out.str();
    const std::string head = "\x1b[2J\x1b[H\x1b[38;5;214m\n\n";
    ASSERT_EQ(s.substr(0, head.size()), head);
    const std::size_t art_end = head.size() + banner_logo_art().size();
    EXPECT_EQ(s.substr(head.size(), banner_logo_art().size()), banner_logo_art());
    const std::string rest = s.substr(art_end);
    const std::string maker = "\n\n\x1b[0m\n\x1b[38;5;220m" + std::string(30, ' ') + "Zeylaworks v3\x1b[0m\n";
    ASSERT_EQ(rest.substr(0, maker.size()), maker);
    const std::string name = "\x1b[38;5;220m" + std::string(30, ' ') + "Tovrel  \x1b[38;5;231mv3.0.0\x1b[0m\n";
    ASSERT_EQ(rest.substr(maker.size(), name.size()), name);
    const std::string tagline = rest.substr(maker.size() + name.size());
    EXPECT_EQ(tagline.substr(0, 11 + 20), "\x1b[38;5;214m" + std::string(20, ' '));
    EXPECT_EQ(tagline.substr(tagline.size() - 6), "\x1b[0m\n\n");
}

TEST(Banner, EmptyVersionEndsTheNameLineAtTheTitle) {
    std::ostringstream out;
    write_banner(out, "Vornix", "");
    EXPECT_NE(out.str().find("\x1b[38;5;220m" + std::string(30, ' ') + "Vornix\n\x1b[38;5;214m"), std::string::npos);
}

TEST(Banner, ShowBannerWaitsFiveSeconds) {
    // Standard output is not a terminal here: the banner is printed anyway.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    dup2(fileno(sink), STDOUT_FILENO);
    const auto start = std::chrono::steady_clock::now();
    show_banner("Lumeno", "2.2.0");
    const auto waited = std::chrono::steady_clock::now() - start;
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_GE(waited, std::chrono::seconds(5));
    std::rewind(sink);
    char buf[16] = {};
    ASSERT_EQ(std::fread(buf, 1, 7, sink), 7u);
    EXPECT_STREQ(buf, "\x1b[2J\x1b[H");
    std::fclose(sink);
}
}  // namespace
