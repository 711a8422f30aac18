#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>

#include "clipboard.h"
#include "clipboard_terminal.h"
#include "clipboard_tmux.h"
#include "clipboard_tmux_server.h"

namespace {
const std::string kPassword = "Zq9!\xC3\xA0x'\"$";  // UTF-8, as tmux keeps it

bool put_utf16(const std::u16string& text_with_zero) {
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text_with_zero.size() * sizeof(WCHAR));
    std::memcpy(GlobalLock(block), text_with_zero.data(), text_with_zero.size() * sizeof(WCHAR));
    GlobalUnlock(block);
    const bool ok = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    CloseClipboard();
    if (!ok) GlobalFree(block);
    return ok;
}

bool holds(const std::map<std::string, std::string>& buffers, const std::string& text) {
    for (const auto& [name, content] : buffers)
        if (content == text) return true;
    return false;
}
}  // namespace

TEST(ClipboardTmux, SocketFromTheEnvironment) {
    struct Case {
        const char* value;
        const char* socket;
    };
    const Case cases[] = {
        {"/tmp/tmux-1000/default,4242,0", "/tmp/tmux-1000/default"},
        {"/tmp/odd,name,77,3", "/tmp/odd,name"},
        {"/tmp/x,1", ""},
        {",1,2", ""},
        {"", ""},
        {"plain", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(tmux_socket_from_env(c.value), c.socket) << c.value;
}

// An environment variable set for a test's scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        had_ = std::getenv(name) != nullptr;
        if (value == nullptr)
            unsetenv(name);
        else
            setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, saved_.c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

TEST(ClipboardTmux, DefaultSocketOfTheUserSudoWasRunBy) {
    const std::string own = std::to_string(getuid());
    struct Case {
        const char* tmpdir;
        const char* sudo_uid;
        std::string socket;
    };
    const Case cases[] = {
        {nullptr, nullptr, "/tmp/tmux-" + own + "/default"},
        {"", nullptr, "/tmp/tmux-" + own + "/default"},
        {"/run/user/7", nullptr, "/run/user/7/tmux-" + own + "/default"},
        {nullptr, "1000", "/tmp/tmux-1000/default"},
        {"/x", "0", "/x/tmux-0/default"},
        {nullptr, "", "/tmp/tmux-" + own + "/default"},
        {nullptr, "10a", "/tmp/tmux-" + own + "/default"},
    };
    for (const Case& c : cases) {
        ScopedEnv tmpdir("TMUX_TMPDIR", c.tmpdir);
        ScopedEnv sudo("SUDO_UID", c.sudo_uid);
        EXPECT_EQ(tmux_default_socket(), c.socket) << (c.tmpdir ? c.tmpdir : "-") << " " << (c.sudo_uid ? c.sudo_uid : "-");
    }
}

TEST(ClipboardTmux, WithoutTmuxVariableTheDefaultServerIsEmptied) {
    ClipboardTerminal terminal;  // no $TMUX
    char folder[] = "/tmp/zeyla-tmuxdir-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    ScopedEnv tmpdir("TMUX_TMPDIR", folder);
    ScopedEnv sudo("SUDO_UID", nullptr);
    EXPECT_EQ(tmux_server_socket(), "");  // no server yet
    {
        TmuxServer server("", "set-option -g set-clipboard on", "default");
        EXPECT_EQ(tmux_server_socket(), tmux_default_socket());
        ASSERT_TRUE(put_utf16({u'p', u'w', 0}));
        server.set_buffer("buffer0", "pw");
        server.set_buffer("mine", "keep me");
        std::thread lands([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            server.set_buffer("buffer1", " ");
        });
        ASSERT_TRUE(put_utf16({0}));
        lands.join();
        EXPECT_EQ(terminal.read(), "\x1b]52;c;cHc=\a\x1b]52;c;IA==\a");
        EXPECT_EQ(server.buffers(), (std::map<std::string, std::string>{{"mine", "keep me"}}));
    }
    std::filesystem::remove_all(folder);
}

TEST(ClipboardTmux, OnlyBuffersHoldingATextAreDeleted) {
    TmuxServer server;
    const std::map<std::string, std::string> kept = {
        {"longer", kPassword + "\n"},  // same text and more
        {"shorter", kPassword.substr(1)},
        {"same_size", "Zq9!\xC3\xA0y'\"$"},
        {"blank", " "},  // no blank was sent
    };
    for (const auto& [name, content] : kept) server.set_buffer(name, content);
    server.set_buffer("first", kPassword);
    server.set_buffer("again", kPassword);
    server.set_buffer("other_copy", "second copy");
    server.enter();
    EXPECT_TRUE(tmux_delete_buffers_holding({kPassword, "second copy"}, false));
    EXPECT_EQ(server.buffers(), kept);
    server.leave();
}

TEST(ClipboardTmux, AServerThatCannotBeAskedIsReported) {
    ClipboardTerminal terminal;  // keeps the real $TMUX out
    setenv("TMUX", "/nonexistent/socket,1,0", 1);
    EXPECT_FALSE(tmux_delete_buffers_holding({kPassword}, false));
    unsetenv("TMUX");
    EXPECT_TRUE(tmux_delete_buffers_holding({kPassword}, false));  // not in tmux: nothing to do
}

TEST(ClipboardTmux, ClearingSendsABlankAndDeletesCopiesAndTheBlank) {
    ClipboardTerminal terminal;
    TmuxServer server("", "set-option -g set-clipboard on");
    server.enter();
    ASSERT_TRUE(put_utf16({u'Z', u'q', 0x00E0, 0}));
    ASSERT_TRUE(put_utf16({u'a', u'b', 0}));
    EXPECT_EQ(terminal.read(), "\x1b]52;c;WnHDoA==\a\x1b]52;c;YWI=\a");
    // What tmux would have made of the two sequences, and a buffer of the user's.
    server.set_buffer("buffer0", "Zq\xC3\xA0");
    server.set_buffer("buffer1", "ab");
    server.set_buffer("mine", "keep me");
    // The blank lands a moment after it is sent.
    std::thread lands([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        server.set_buffer("buffer2", " ");
    });
    ASSERT_TRUE(put_utf16({0}));
    lands.join();
    EXPECT_EQ(terminal.read(), "\x1b]52;c;IA==\a");  // one blank
    EXPECT_EQ(server.buffers(), (std::map<std::string, std::string>{{"mine", "keep me"}}));

    // An emptied clipboard is a clearing too; a copy made after the last
    // clearing is the one looked for.
    ASSERT_TRUE(put_utf16({u'c', 0}));
    server.set_buffer("buffer3", "c");
    server.set_buffer("buffer4", " ");
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    EXPECT_EQ(terminal.read(), "\x1b]52;c;Yw==\a\x1b]52;c;IA==\a");
    EXPECT_EQ(server.buffers(), (std::map<std::string, std::string>{{"mine", "keep me"}}));
    server.leave();
}

TEST(ClipboardTmux, CopiesAreForgottenWithoutTheTerminal) {
    ClipboardTerminal terminal;
    TmuxServer server;
    server.enter();
    ASSERT_TRUE(put_utf16({u'x', u'y', 0}));
    server.set_buffer("buffer0", "xy");
    server.set_buffer("buffer1", " ");
    set_clipboard_terminal("/nonexistent/tty");
    clipboard_forget_copies();
    // No blank was sent, so a blank buffer is not this program's.
    EXPECT_EQ(server.buffers(), (std::map<std::string, std::string>{{"buffer1", " "}}));
    EXPECT_EQ(terminal.read(), "\x1b]52;c;eHk=\a");
    server.leave();
}

TEST(ClipboardTmux, ServersThisOneIsNestedInAreCleanedToo) {
    TmuxServer inner;
    // The outer server's pane runs a client of the inner one, as a tmux
    // started inside tmux does.
    TmuxServer outer("tmux -L " + inner.name() + " attach");
    for (int i = 0; i < 50 && inner.run("list-clients").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(inner.run("list-clients").empty());
    inner.set_buffer("buffer0", kPassword);
    outer.set_buffer("buffer0", kPassword);
    outer.set_buffer("buffer1", "unrelated");
    inner.enter();
    EXPECT_TRUE(tmux_delete_buffers_holding({kPassword}, false));
    inner.leave();
    EXPECT_FALSE(holds(inner.buffers(), kPassword));
    EXPECT_EQ(outer.buffers(), (std::map<std::string, std::string>{{"buffer1", "unrelated"}}));
}

TEST(ClipboardTmux, ServersFoundAtTheCopyAreCleanedAfterTheInnerOneHasGone) {
    ClipboardTerminal terminal;
    TmuxServer inner;
    TmuxServer outer("tmux -L " + inner.name() + " attach", "set-option -g remain-on-exit on");
    for (int i = 0; i < 50 && inner.run("list-clients").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(inner.run("list-clients").empty());
    inner.enter();
    ASSERT_TRUE(put_utf16({u'p', u'w', 0}));
    outer.set_buffer("buffer0", "pw");
    // The terminal closes with the inner tmux, whose server ends with it.
    inner.run("kill-server");
    set_clipboard_terminal("/nonexistent/tty");
    clipboard_forget_copies();
    inner.leave();
    EXPECT_FALSE(holds(outer.buffers(), "pw"));
}
