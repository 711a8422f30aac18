// A private tmux server for clipboard tests, and $TMUX pointing at it while
// the object lives, as if the test ran in one of its panes.
#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <stdexcept>
#include <string>

class TmuxServer {
public:
    // command: what the server's first pane runs (a shell when empty); name:
    // the socket's name in tmux's folder (a fresh one when empty).
    explicit TmuxServer(const std::string& command = "", const std::string& options = "",
                        const std::string& name = "") {
        std::random_device seed;
        name_ = name.empty() ? "zeyla-test-" + std::to_string(seed()) + std::to_string(seed()) : name;
        run("-f /dev/null new-session -d -x 80 -y 24" + (command.empty() ? "" : " " + quoted(command)));
        if (!options.empty()) run(options);
        socket_ = run("display-message -p '#{socket_path}'");
        if (!socket_.empty() && socket_.back() == '\n') socket_.pop_back();
        if (socket_.empty()) throw std::runtime_error("tmux did not start");
        if (const char* tmux = std::getenv("TMUX")) saved_tmux_ = tmux;
    }
    ~TmuxServer() {
        leave();
        run("kill-server");
    }
    TmuxServer(const TmuxServer&) = delete;
    TmuxServer& operator=(const TmuxServer&) = delete;

    void enter() { setenv("TMUX", (socket_ + ",1,0").c_str(), 1); }
    void leave() {
        if (saved_tmux_.empty())
            unsetenv("TMUX");
        else
            setenv("TMUX", saved_tmux_.c_str(), 1);
    }

    // Runs "tmux -L name args"; its standard output.
    std::string run(const std::string& args) const {
        std::string out;
        FILE* p = popen(("tmux -L " + name_ + " " + args + " 2>/dev/null").c_str(), "r");
        if (p == nullptr) return out;
        std::array<char, 4096> buffer{};
        std::size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0) out.append(buffer.data(), n);
        pclose(p);
        return out;
    }

    void set_buffer(const std::string& name, const std::string& content) {
        run("set-buffer -b " + name + " -- " + quoted(content));
    }

    // Every paste buffer by name, with its content.
    std::map<std::string, std::string> buffers() const {
        std::map<std::string, std::string> out;
        const std::string names = run("list-buffers -F '#{buffer_name}'");
        std::size_t start = 0;
        while (start < names.size()) {
            const std::size_t end = names.find('\n', start);
            const std::string name = names.substr(start, end - start);
            out[name] = run("show-buffer -b " + name);
            start = end == std::string::npos ? names.size() : end + 1;
        }
        return out;
    }

    const std::string& name() const { return name_; }

    static std::string quoted(const std::string& text) {
        std::string out = "'";
        for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }

private:
    std::string name_;
    std::string socket_;
    std::string saved_tmux_;
};
