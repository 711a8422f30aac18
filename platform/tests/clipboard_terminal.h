// A pseudo-terminal standing in for the user's terminal in clipboard tests:
// the clipboard writes to its slave side, the test reads the master.
#pragma once

#include <poll.h>
#include <pty.h>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "clipboard.h"

class ClipboardTerminal {
public:
    ClipboardTerminal() {
        if (openpty(&master_, &slave_, name_, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
        termios raw{};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
        set_clipboard_terminal(name_);
        // Outside tmux unless a test says otherwise, wherever the tests run:
        // no $TMUX, and no default server in the folder of an empty TMUX_TMPDIR.
        save("TMUX", saved_tmux_);
        save("TMUX_TMPDIR", saved_tmux_tmpdir_);
        unsetenv("TMUX");
        setenv("TMUX_TMPDIR", "/nonexistent", 1);
    }
    ~ClipboardTerminal() {
        restore("TMUX", saved_tmux_);
        restore("TMUX_TMPDIR", saved_tmux_tmpdir_);
        set_clipboard_terminal("/dev/tty");
        close(slave_);
        close(master_);
    }
    ClipboardTerminal(const ClipboardTerminal&) = delete;
    ClipboardTerminal& operator=(const ClipboardTerminal&) = delete;

    // What arrives within wait_ms, and whatever follows it without a pause.
    std::string read(int wait_ms = 100) {
        std::string out;
        char buf[4096];
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, wait_ms) > 0) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
            wait_ms = 100;
        }
        return out;
    }

private:
    static void save(const char* name, std::string& saved) {
        if (const char* value = std::getenv(name)) saved = value;
    }
    static void restore(const char* name, const std::string& saved) {
        if (saved.empty())
            unsetenv(name);
        else
            setenv(name, saved.c_str(), 1);
    }

    int master_ = -1;
    int slave_ = -1;
    char name_[256] = {};
    std::string saved_tmux_;
    std::string saved_tmux_tmpdir_;
};
