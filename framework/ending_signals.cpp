#include "ending_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kEnding[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE};
constexpr int kEndingCount = static_cast<int>(std::size(kEnding));
// A signal handled on another thread interrupts nothing on the main thread;
// until the main thread acts, it is nudged this often.
constexpr int kNudgeMs = 100;

// The signal that interrupts the main thread's blocking calls: one of our
// own, so that a nudge is never taken for a second Ctrl-Z.
int nudge_signal() { return SIGRTMIN; }

std::atomic<int> ending{0};
std::atomic<bool> stop_wanted{false};
std::atomic<bool> acting{false};
std::atomic<bool> quitting{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the handler writes them");
int wake_pipe[2] = {-1, -1};
bool watching = false;
pthread_t main_thread;
// Never destroyed: the process may end while it still runs.
std::thread* watcher = nullptr;

int terminal_fd = -1;
termios terminal_at_start{};

void (*last_step)() = nullptr;
void (*stop_step)() = nullptr;
void (*leave_screen)() = nullptr;
void (*resume_screen)() = nullptr;

struct sigaction previous_ending[kEndingCount];
struct sigaction previous_stop;
struct sigaction previous_nudge;

void record(int signal) {
    const int saved = errno;
    if (signal == SIGTSTP) {
        stop_wanted = true;
    } else if (signal != nudge_signal()) {
        int none = 0;
        ending.compare_exchange_strong(none, signal);  // the first one decides
    }
    // One byte wakes the watcher, and a full pipe already will: a single
    // write, which is async-signal-safe where a retrying loop need not be.
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(wake_pipe[1], &byte, 1);
    errno = saved;
}

bool something_pending() { return (ending != 0 || stop_wanted) && !acting; }

void watch() {
    for (;;) {
        pollfd p{wake_pipe[0], POLLIN, 0};
        const int ready = poll(&p, 1, something_pending() ? kNudgeMs : -1);
        if (quitting) return;
        if (ready > 0) {
            char bytes[64];
            while (read(wake_pipe[0], bytes, sizeof bytes) > 0) {
            }
            continue;
        }
        if (ready == 0 && something_pending()) pthread_kill(main_thread, nudge_signal());
    }
}

sigset_t handled_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kEnding) sigaddset(&set, s);
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, nudge_signal());
    return set;
}

// A signal ignored when the program started (nohup, a background job)
// stays ignored.
void take_over(int signal, struct sigaction& previous) {
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = record;
    action.sa_mask = handled_set();
    action.sa_flags = 0;  // no SA_RESTART: a blocking key read must fail
    sigaction(signal, &action, nullptr);
}

void restore_terminal() {
    if (terminal_fd >= 0) tcsetattr(terminal_fd, TCSADRAIN, &terminal_at_start);
}

void set_default(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
}

[[noreturn]] void end_by(int signal) {
    acting = true;
    if (leave_screen) leave_screen();
    restore_terminal();
    if (last_step) last_step();
    set_default(signal);
    raise(signal);
    _exit(128 + signal);  // a signal the system keeps from ending us
}

void stop_and_continue() {
    acting = true;
    termios current{};
    const bool have_current = terminal_fd >= 0 && tcgetattr(terminal_fd, &current) == 0;
    if (leave_screen) leave_screen();
    restore_terminal();
    if (stop_step) stop_step();
    struct sigaction ours {};
    sigaction(SIGTSTP, nullptr, &ours);
    set_default(SIGTSTP);
    raise(SIGTSTP);  // stopped here until continued
    sigaction(SIGTSTP, &ours, nullptr);
    if (have_current) tcsetattr(terminal_fd, TCSADRAIN, &current);
    if (resume_screen) resume_screen();
    acting = false;
}
}  // namespace

void watch_ending_signals(PipeSignal pipe) {
    if (watching) return;
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
    main_thread = pthread_self();
    ending = 0;
    stop_wanted = false;
    acting = false;
    quitting = false;
    terminal_fd = -1;
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (isatty(fd) && tcgetattr(fd, &terminal_at_start) == 0) {
            terminal_fd = fd;
            break;
        }
    }
    for (int i = 0; i < kEndingCount; ++i) {
        if (kEnding[i] == SIGPIPE && pipe == PipeSignal::ignored) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(SIGPIPE, &ignore, &previous_ending[i]);
            continue;
        }
        take_over(kEnding[i], previous_ending[i]);
    }
    take_over(SIGTSTP, previous_stop);
    take_over(nudge_signal(), previous_nudge);
    watching = true;

    if (wake_pipe[0] < 0) return;
    // The watcher never takes a signal meant to wake the main thread.
    const sigset_t handled = handled_set();
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &handled, &old);
    try {
        watcher = new std::thread(watch);
    } catch (const std::exception&) {
        // A signal that lands on another thread then waits for the next key.
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void unwatch_ending_signals() {
    if (!watching) return;
    quitting = true;
    if (wake_pipe[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = write(wake_pipe[1], &byte, 1);
    }
    if (watcher != nullptr) {
        watcher->join();
        delete watcher;
        watcher = nullptr;
    }
    for (int i = 0; i < kEndingCount; ++i) sigaction(kEnding[i], &previous_ending[i], nullptr);
    sigaction(SIGTSTP, &previous_stop, nullptr);
    sigaction(nudge_signal(), &previous_nudge, nullptr);
    for (int& fd : wake_pipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    watching = false;
    ending = 0;
    stop_wanted = false;
    last_step = stop_step = nullptr;
}

int ending_signal() { return ending.load(std::memory_order_relaxed); }

bool act_on_signals() {
    if (!watching || !pthread_equal(pthread_self(), main_thread)) return false;
    bool continued = false;
    for (;;) {
        if (const int signal = ending.load(); signal != 0) end_by(signal);
        if (!stop_wanted.exchange(false)) return continued;
        stop_and_continue();
        continued = true;
    }
}

void set_last_step(void (*step)()) { last_step = step; }
void set_stop_step(void (*step)()) { stop_step = step; }

void set_screen_steps(void (*leave)(), void (*resume)()) {
    leave_screen = leave;
    resume_screen = resume;
}
