#include "clipboard_tmux.h"

#include "fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

// A tmux command that does not answer within this time is given up: the
// clearing runs while the program ends and must not hang it.
constexpr auto kCommandTimeout = std::chrono::seconds(3);
// How long the buffer made by the blank is waited for.
constexpr auto kBlankWait = std::chrono::milliseconds(1500);
// Nesting deeper than this is not followed.
constexpr std::size_t kMaxServers = 8;

const char kBlank[] = " ";

// Servers found by tmux_remember_servers.
std::mutex remembered_lock;
std::vector<std::string> remembered;

void close_quietly(int fd) {
    if (fd >= 0) close(fd);
}

// Runs tmux -S socket args...; its standard output into out. True when it
// ran and ended with status 0.
bool run_tmux(const std::string& socket, const std::vector<std::string>& args, std::string* out) {
    int pipe_fds[2] = {-1, -1};
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The caller may block the ending signals; tmux gets the usual ones.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> words = {"tmux", "-S", socket};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "tmux", &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipe_fds[1]);
    if (spawned != 0) {
        close(pipe_fds[0]);
        return false;
    }

    const auto deadline = Clock::now() + kCommandTimeout;
    bool timed_out = false;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{pipe_fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timed_out = ready == 0;
            break;
        }
        // Whatever poll found, not a full buffer: the deadline must hold.
        const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (out != nullptr) out->append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe_fds[0]);
    if (timed_out) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return !timed_out && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The $TMUX a process started with: for a tmux client, the server whose
// pane it runs in.
std::string tmux_env_of_process(const std::string& pid) {
    const std::string path = "/proc/" + pid + "/environ";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    std::string environment;
    char buffer[4096];
    for (;;) {
        const ssize_t n = platform::read_full(fd, buffer, sizeof buffer);
        if (n > 0) environment.append(buffer, static_cast<std::size_t>(n));
        if (n < static_cast<ssize_t>(sizeof buffer)) break;
    }
    close_quietly(fd);
    std::size_t start = 0;
    while (start < environment.size()) {
        std::size_t end = environment.find('\0', start);
        if (end == std::string::npos) end = environment.size();
        if (environment.compare(start, 5, "TMUX=") == 0) return environment.substr(start + 5, end - start - 5);
        start = end + 1;
    }
    return "";
}

// The servers whose panes hold the clients of this one.
std::vector<std::string> outer_servers(const std::string& socket) {
    std::string pids;
    if (!run_tmux(socket, {"list-clients", "-F", "#{client_pid}"}, &pids)) return {};
    std::vector<std::string> sockets;
    for (const std::string& pid : split_lines(pids)) {
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string outer = tmux_socket_from_env(tmux_env_of_process(pid));
        if (!outer.empty()) sockets.push_back(outer);
    }
    return sockets;
}

struct Buffer {
    std::string name;
    std::size_t size = 0;
};

bool list_buffers(const std::string& socket, std::vector<Buffer>& buffers) {
    std::string listing;
    if (!run_tmux(socket, {"list-buffers", "-F", "#{buffer_size} #{buffer_name}"}, &listing)) return false;
    for (const std::string& line : split_lines(listing)) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || space == 0) continue;
        Buffer b;
        b.name = line.substr(space + 1);
        b.size = std::strtoull(line.substr(0, space).c_str(), nullptr, 10);
        buffers.push_back(b);
    }
    return true;
}

void wipe(std::string& text) {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
    text.clear();
}

// Deletes the buffers of one server holding one of texts; the number
// deleted, or -1 when the server could not be asked.
int delete_matching(const std::string& socket, const std::vector<std::string>& texts) {
    std::vector<Buffer> buffers;
    if (!list_buffers(socket, buffers)) return -1;
    int deleted = 0;
    for (const Buffer& b : buffers) {
        bool candidate = false;
        for (const std::string& t : texts) candidate = candidate || t.size() == b.size;
        if (!candidate) continue;
        std::string content;
        const bool read = run_tmux(socket, {"show-buffer", "-b", b.name}, &content);
        bool match = false;
        for (const std::string& t : texts) match = match || (read && content == t);
        wipe(content);
        if (match && run_tmux(socket, {"delete-buffer", "-b", b.name}, nullptr)) ++deleted;
    }
    return deleted;
}

bool makes_buffers(const std::string& socket) {
    std::string value;
    return run_tmux(socket, {"show-options", "-gv", "set-clipboard"}, &value) && value == "on\n";
}

// The blank reaches a server some time after it was written; waits for its
// buffer and deletes it.
void delete_blank_when_it_lands(const std::string& socket) {
    const auto deadline = Clock::now() + kBlankWait;
    while (delete_matching(socket, {kBlank}) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
}
}  // namespace

std::string tmux_default_socket() {
    const char* dir = std::getenv("TMUX_TMPDIR");
    std::string uid = std::to_string(getuid());
    // Run through sudo, the program is still in the invoking user's tmux.
    if (const char* sudo = std::getenv("SUDO_UID");
        sudo != nullptr && *sudo != '\0' && std::string(sudo).find_first_not_of("0123456789") == std::string::npos)
        uid = sudo;
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/tmux-" + uid + "/default";
}

std::string tmux_server_socket() {
    if (const char* value = std::getenv("TMUX")) {
        const std::string socket = tmux_socket_from_env(value);
        if (!socket.empty()) return socket;
    }
    const std::string fallback = tmux_default_socket();
    struct stat st {};
    return stat(fallback.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) ? fallback : std::string();
}

std::string tmux_socket_from_env(const std::string& value) {
    // The socket path may itself hold commas; the last two fields are numbers.
    const std::size_t session = value.rfind(',');
    if (session == std::string::npos || session == 0) return "";
    const std::size_t pid = value.rfind(',', session - 1);
    if (pid == std::string::npos || pid == 0) return "";
    return value.substr(0, pid);
}

bool tmux_delete_buffers_holding(const std::vector<std::string>& texts, bool blank_sent) {
    const std::string nearest = tmux_server_socket();
    if (nearest.empty()) return true;
    // The default server may be one the program does not run in: only a
    // password found there says that the blank went there too.
    const char* own = std::getenv("TMUX");
    const bool runs_in_nearest = own != nullptr && tmux_socket_from_env(own) == nearest;
    std::vector<std::string> pending = {nearest};
    // A remembered server may since have ended, taking its buffers along:
    // not answering is no failure there.
    std::set<std::string> may_be_gone;
    {
        std::lock_guard<std::mutex> guard(remembered_lock);
        pending.insert(pending.end(), remembered.begin(), remembered.end());
        may_be_gone.insert(remembered.begin(), remembered.end());
    }
    std::set<std::string> seen;
    bool all_asked = true;
    bool first = true;
    while (!pending.empty() && seen.size() < kMaxServers) {
        const std::string socket = pending.front();
        pending.erase(pending.begin());
        if (!seen.insert(socket).second) continue;
        const int deleted = delete_matching(socket, texts);
        if (deleted < 0) {
            all_asked = all_asked && !first && may_be_gone.count(socket) > 0;
        } else if (blank_sent && ((first && runs_in_nearest && makes_buffers(socket)) || deleted > 0)) {
            // A server that held the text was sent the blank as well.
            delete_blank_when_it_lands(socket);
        }
        first = false;
        for (const std::string& outer : outer_servers(socket)) pending.push_back(outer);
    }
    return all_asked;
}

void tmux_remember_servers() {
    const std::string nearest = tmux_server_socket();
    if (nearest.empty()) return;
    std::vector<std::string> pending = {nearest};
    std::set<std::string> seen;
    while (!pending.empty() && seen.size() < kMaxServers) {
        const std::string socket = pending.front();
        pending.erase(pending.begin());
        if (!seen.insert(socket).second) continue;
        for (const std::string& outer : outer_servers(socket)) pending.push_back(outer);
    }
    std::lock_guard<std::mutex> guard(remembered_lock);
    for (const std::string& socket : seen)
        if (std::find(remembered.begin(), remembered.end(), socket) == remembered.end() &&
            remembered.size() < kMaxServers)
            remembered.push_back(socket);
}
