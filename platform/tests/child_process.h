// Tests that need a second process: a child that may give up root, so that
// permission checks bind it as they bind any user (CI runs as root).
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>
#include <functional>
#include <string>

struct ChildResult {
    int status = -1;  // the child's exit status, or 128 + the signal that ended it
    std::string out;  // what the body returned
};

// Gives up root for the user nobody (65534), supplementary groups too.
inline bool become_nobody() {
    const uid_t nobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
}

// Runs body in a forked child and hands back what it returned. The child ends
// with status 0 once its text is written, 4 when the write failed; a body may
// _exit with its own status.
inline ChildResult run_in_child(const std::function<std::string()>& body) {
    ChildResult result;
    int fds[2];
    if (::pipe(fds) != 0) return result;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    if (child == 0) {
        ::close(fds[0]);
        std::string out;
        try {
            out = body();
        } catch (const std::exception& e) {
            out = std::string("exception: ") + e.what();
        }
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) ::_exit(4);
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        result.out.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
