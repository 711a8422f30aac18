#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <pty.h>
#include <unistd.h>

#include "console.h"
#include "cp1252.h"
#include "terminal.h"
#include "user_locale.h"

namespace {
// Standard output pointed at another descriptor for the life of the value.
class StdoutRedirect {
public:
    explicit StdoutRedirect(int fd) : saved_(dup(STDOUT_FILENO)) { dup2(fd, STDOUT_FILENO); }
    ~StdoutRedirect() {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    StdoutRedirect(const StdoutRedirect&) = delete;
    StdoutRedirect& operator=(const StdoutRedirect&) = delete;

private:
    int saved_;
};

TEST(Console, ModeSucceedsOnlyWhenStandardOutputIsATerminal) {
    EXPECT_EQ(GetStdHandle(static_cast<DWORD>(-10)), INVALID_HANDLE_VALUE);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    ASSERT_NE(out, nullptr);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        StdoutRedirect to_pipe(fds[1]);
        DWORD mode = 77;
        EXPECT_FALSE(GetConsoleMode(out, &mode));
        EXPECT_EQ(mode, 77u);
        EXPECT_FALSE(SetConsoleMode(out, ENABLE_VIRTUAL_TERMINAL_PROCESSING));
    }
    close(fds[0]);
    close(fds[1]);

    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    {
        StdoutRedirect to_terminal(slave);
        DWORD mode = 0;
        ASSERT_TRUE(GetConsoleMode(out, &mode));
        EXPECT_TRUE(SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
        ASSERT_TRUE(GetConsoleMode(out, &mode));
        EXPECT_EQ(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING, ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        EXPECT_FALSE(GetConsoleMode(out, nullptr));
        EXPECT_FALSE(GetConsoleMode(INVALID_HANDLE_VALUE, &mode));
    }
    close(slave);
    close(master);

    EXPECT_TRUE(SetConsoleOutputCP(65001));
    EXPECT_TRUE(SetConsoleCP(65001));
    EXPECT_FALSE(SetConsoleOutputCP(1252));
}

TEST(UserLocale, NameIsWrittenAsWindowsWritesIt) {
    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "", 1);
    setenv("LANG", "de_DE.UTF-8@euro", 1);
    wchar_t buf[85];
    std::wmemset(buf, L'x', 85);
    ASSERT_EQ(GetUserDefaultLocaleName(buf, 85), 6);
    EXPECT_STREQ(buf, L"de-DE");
    // Too small a buffer fails as the Windows call does, and writes nothing.
    wchar_t small[5];
    std::wmemset(small, L'x', 5);
    EXPECT_EQ(GetUserDefaultLocaleName(small, 5), 0);
    EXPECT_EQ(small[0], L'x');
    EXPECT_EQ(GetUserDefaultLocaleName(buf, 6), 6);

    for (const char* none : {"C", "POSIX", "C.UTF-8", ""}) {
        setenv("LANG", none, 1);
        EXPECT_EQ(GetUserDefaultLocaleName(buf, 85), 0) << "LANG=" << none;
    }
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    EXPECT_EQ(GetUserDefaultLocaleName(buf, 85), 0);
}

TEST(Cp1252, ConversionsBothWays) {
    const struct {
        unsigned char byte;
        char32_t code_point;
    } cases[] = {{0x41, U'A'}, {0x80, 0x20AC}, {0x8A, 0x0160}, {0x9F, 0x0178}, {0xE4, 0x00E4}, {0xFF, 0x00FF}};
    for (const auto& c : cases) {
        EXPECT_EQ(cp1252_to_unicode(c.byte), c.code_point) << int{c.byte};
        EXPECT_EQ(unicode_to_cp1252(c.code_point), c.byte) << int{c.byte};
    }
    for (int unassigned : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(cp1252_to_unicode(static_cast<unsigned char>(unassigned)), 0u);
    // C1 controls are not on the page: 0x80 is the euro sign there.
    EXPECT_EQ(unicode_to_cp1252(0x0080), 0);
    EXPECT_EQ(unicode_to_cp1252(0x4E2D), 0);

    EXPECT_EQ(cp1252_to_utf8("Gr\xf6\xdf"
                             "e \x80\x81"),
              "Gr\xc3\xb6\xc3\x9f"
              "e \xe2\x82\xac?");
    EXPECT_EQ(utf8_to_cp1252("Gr\xc3\xb6\xc3\x9f"
                             "e \xe2\x82\xac \xe4\xb8\xad \xff"),
              "Gr\xf6\xdf"
              "e \x80 ? ?");
}

TEST(Cp1252, Utf8DecodingRefusesWhatIsNotUtf8) {
    const struct {
        const char* bytes;
        std::size_t length;
        char32_t code_point;
    } cases[] = {
        {"a", 1, U'a'},
        {"\xc3\xa9", 2, 0xE9},
        {"\xe2\x82\xac", 3, 0x20AC},
        {"\xf0\x9f\x98\x80", 4, 0x1F600},
        {"\xc0\xaf", 0, 0},
        {"\xe0\x80\xaf", 0, 0},
        {"\xed\xa0\x80", 0, 0},
        {"\xc3", 0, 0},
        {"\xc3"
         "a",
         0, 0},
        {"\x80", 0, 0},
        {"\xf8\x88\x80\x80", 0, 0},
    };
    for (const auto& c : cases) {
        char32_t cp = 0;
        const std::size_t n = decode_utf8(c.bytes, 0, cp);
        EXPECT_EQ(n, c.length) << c.bytes;
        if (n > 0) {
            EXPECT_EQ(cp, c.code_point) << c.bytes;
            std::string again;
            append_utf8(again, cp);
            EXPECT_EQ(again, c.bytes);
        }
    }
}

TEST(TerminalText, LatinOneBytesAreNotTakenForACutLetter) {
    set_text_encoding(TextEncoding::utf8);
    // A run of four bytes from 0x80 to 0xBF cannot be the tail of one letter.
    EXPECT_EQ(terminal_text("\xb0\xb0\xb0\xb0"), L"\u00b0\u00b0\u00b0\u00b0");
    EXPECT_EQ(terminal_text("\xb5"
                            "m"),
              L"m");
    EXPECT_EQ(terminal_text("a\xb5m"), L"a\u00b5m");
}
}  // namespace
