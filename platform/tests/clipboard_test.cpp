#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "clipboard.h"
#include "clipboard_terminal.h"

namespace {
std::u16string widen(const std::string& cp1252) {
    const int n = MultiByteToWideChar(CP_1252, 0, cp1252.c_str(), -1, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, cp1252.c_str(), -1, out.data(), n), n);
    return out;
}

HGLOBAL unicode_block(const std::u16string& text_with_zero) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text_with_zero.size() * sizeof(WCHAR));
    std::memcpy(GlobalLock(block), text_with_zero.data(), text_with_zero.size() * sizeof(WCHAR));
    GlobalUnlock(block);
    return block;
}

bool put_text(const std::u16string& text_with_zero) {
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    HGLOBAL block = unicode_block(text_with_zero);
    const bool ok = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    CloseClipboard();
    if (!ok) GlobalFree(block);
    return ok;
}
}  // namespace

TEST(Clipboard, Windows1252BecomesUtf16) {
    struct Case {
        const char* bytes;
        std::u16string units;
    };
    const Case cases[] = {
        {"", {0}},
        {"Ab1!", {u'A', u'b', u'1', u'!', 0}},
        {"\xE0", {0x00E0, 0}},  // à
        {"\x80", {0x20AC, 0}},  // euro sign
        {"\x9F\xFF\xC0", {0x0178, 0x00FF, 0x00C0, 0}},
        {"\x8A\x9C\x99", {0x0160, 0x0153, 0x2122, 0}},
        {"\x81", {0x0081, 0}},  // unassigned: passed through
    };
    for (const Case& c : cases) EXPECT_EQ(widen(c.bytes), c.units) << c.bytes;
}

TEST(Clipboard, ConversionCountsAndRefusesAsWindowsDoes) {
    WCHAR out[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abc", -1, nullptr, 0), 4);  // the zero counts
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abc", 2, nullptr, 0), 2);
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abc", -1, out, 3), 0);  // no room for the zero
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abc", 2, out, 8), 2);
    EXPECT_EQ(out[0], u'a');
    EXPECT_EQ(out[1], u'b');
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", -1, out, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abc", 0, out, 8), 0);
}

TEST(Clipboard, TextReachesTheTerminalAsOneOsc52Sequence) {
    ClipboardTerminal terminal;
    ASSERT_TRUE(put_text(widen("\xE0\x80")));  // à€ in UTF-8 is C3 A0 E2 82 AC
    EXPECT_EQ(terminal.read(), "\x1b]52;c;w6Digqw=\a");
    ASSERT_TRUE(put_text(widen("Ab1")));
    ASSERT_TRUE(put_text(widen("ab")));
    EXPECT_EQ(terminal.read(), "\x1b]52;c;QWIx\a\x1b]52;c;YWI=\a");
}

TEST(Clipboard, EmptyTextAndEmptiedClipboardAreSentAsOneBlank) {
    // An empty payload is dropped by tmux, which then passes nothing on.
    ClipboardTerminal terminal;
    ASSERT_TRUE(put_text(widen("")));
    EXPECT_EQ(terminal.read(), "\x1b]52;c;IA==\a");
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_TRUE(EmptyClipboard());
    EXPECT_TRUE(CloseClipboard());
    EXPECT_EQ(terminal.read(), "\x1b]52;c;IA==\a");
    // Opening and closing alone leaves the clipboard as it was.
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_TRUE(CloseClipboard());
    EXPECT_EQ(terminal.read(), "");
}

TEST(Clipboard, UsesOutsideAnOpenClipboardFail) {
    ClipboardTerminal terminal;
    HGLOBAL block = unicode_block(widen("x"));
    EXPECT_FALSE(EmptyClipboard());
    EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, block), nullptr);
    EXPECT_FALSE(CloseClipboard());

    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_FALSE(OpenClipboard(nullptr));  // already open
    bool other_thread_opened = true;
    std::thread([&] { other_thread_opened = OpenClipboard(nullptr) != 0; }).join();
    EXPECT_FALSE(other_thread_opened);
    EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, block), nullptr);  // not emptied first
    EmptyClipboard();
    EXPECT_EQ(SetClipboardData(1, block), nullptr);  // CF_TEXT is not offered
    EXPECT_TRUE(CloseClipboard());
    GlobalFree(block);
    EXPECT_EQ(terminal.read(), "\x1b]52;c;IA==\a");
}

TEST(Clipboard, NoTerminalMeansNoClipboard) {
    set_clipboard_terminal("/nonexistent/tty");
    EXPECT_FALSE(OpenClipboard(nullptr));
    set_clipboard_terminal("/dev/tty");
}
