#include "exit_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kCount = static_cast<int>(std::size(kSignals));
// The first nudge leaves the signal itself time to interrupt the read.
constexpr int kNudgeMs = 100;

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler writes it");
int wake_pipe[2] = {-1, -1};
std::atomic<bool> interrupting{false};
std::atomic<bool> stopping{false};
pthread_t main_thread;
std::thread watcher;
struct sigaction previous[kCount];

void record(int signal) {
    const int saved = errno;
    received = signal;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(wake_pipe[1], &byte, 1);
    errno = saved;
}

void drain() {
    char bytes[64];
    while (read(wake_pipe[0], bytes, sizeof bytes) > 0) {
    }
}

// A signal can land just before the main thread blocks in its read, or on
// another thread; until the loop has taken note, the main thread is sent
// the signal again.
void watch() {
    for (;;) {
        pollfd p{wake_pipe[0], POLLIN, 0};
        const int timeout = received != 0 && interrupting ? kNudgeMs : -1;
        const int ready = poll(&p, 1, timeout);
        if (stopping) return;
        if (ready > 0) {
            drain();
            // The byte that announced stopping may have gone with the drain.
            if (stopping) return;
            continue;
        }
        if (ready == 0 && received != 0 && interrupting) pthread_kill(main_thread, received);
    }
}
}  // namespace

void watch_exit_signals() {
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
    main_thread = pthread_self();
    received = 0;
    interrupting = true;
    stopping = false;
    struct sigaction action {};
    action.sa_handler = record;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the blocking read must fail
    for (int i = 0; i < kCount; ++i) sigaction(kSignals[i], &action, &previous[i]);

    if (wake_pipe[0] < 0) return;
    sigset_t ending;
    sigset_t old;
    sigemptyset(&ending);
    for (int s : kSignals) sigaddset(&ending, s);
    pthread_sigmask(SIG_BLOCK, &ending, &old);
    try {
        watcher = std::thread(watch);
    } catch (const std::system_error&) {
        // Signals still end the loop; only the rare early one waits for a key.
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

int exit_signal() { return received; }

void stop_interrupting() { interrupting = false; }

void unwatch_exit_signals() {
    interrupting = false;
    stopping = true;
    if (wake_pipe[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = write(wake_pipe[1], &byte, 1);
    }
    if (watcher.joinable()) watcher.join();
    for (int i = 0; i < kCount; ++i) sigaction(kSignals[i], &previous[i], nullptr);
    for (int& fd : wake_pipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

void end_by_exit_signal() {
    const int signal = received.load();
    if (signal == 0) return;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
}
