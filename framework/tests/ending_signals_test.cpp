#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "ending_signals.h"

namespace {
const int kEnding[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE};

void say(const char* text) { [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, text, strlen(text)); }

TEST(EndingSignals, RecordedOnlyWhileWatchedTheFirstOneCounts) {
    for (int signal : kEnding) {
        watch_ending_signals();
        EXPECT_EQ(ending_signal(), 0);
        raise(signal);  // the test goes on
        raise(signal == SIGTERM ? SIGINT : SIGTERM);
        EXPECT_EQ(ending_signal(), signal);
        // Not on the main thread: nothing happens there.
        bool acted = true;
        std::thread([&acted] { acted = act_on_signals(); }).join();
        EXPECT_FALSE(acted);
        unwatch_ending_signals();
        EXPECT_EQ(ending_signal(), 0);
    }
}

TEST(EndingSignals, APipeSignalTheProgramIgnoresEndsNothing) {
    watch_ending_signals(PipeSignal::ignored);
    raise(SIGPIPE);
    EXPECT_EQ(ending_signal(), 0);
    unwatch_ending_signals();
}

TEST(EndingSignalsDeathTest, TheScreenIsLeftThenTheLastStepRunsThenTheSignalEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int signal : kEnding) {
        EXPECT_EXIT(
            {
                watch_ending_signals();
                set_screen_steps([] { say("leave "); }, [] { say("resume "); });
                set_last_step([] { say("last "); });
                set_stop_step([] { say("stop "); });
                raise(signal);
                act_on_signals();
                say("went on");
                _exit(0);
            },
            ::testing::KilledBySignal(signal), "^leave last $")
            << signal;
    }
}

TEST(EndingSignals, AStopRunsTheStepsAndTheProgramGoesOnOnceContinued) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A group of its own, whose parent is in the session: a stop is not discarded.
        setpgid(0, 0);
        dup2(out[1], STDERR_FILENO);
        watch_ending_signals();
        set_screen_steps([] { say("leave "); }, [] { say("resume "); });
        set_stop_step([] { say("stop "); });
        set_last_step([] { say("last "); });
        raise(SIGTSTP);
        const bool continued = act_on_signals();
        say(continued ? "drawn again" : "not continued");
        _exit(ending_signal());
    }
    close(out[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status));
    EXPECT_EQ(WSTOPSIG(status), SIGTSTP);
    kill(child, SIGCONT);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    EXPECT_EQ(said, "leave stop resume drawn again");
}

TEST(EndingSignals, TheMainThreadsBlockingReadFailsWhereverTheSignalLanded) {
    watch_ending_signals();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::atomic<bool> done{false};
    // The signal is handled on the other thread, which interrupts nothing on
    // this one by itself; a byte after 5 s ends a read left waiting.
    std::thread other([&] {
        pthread_kill(pthread_self(), SIGTERM);
        for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const char byte = 'x';
        EXPECT_EQ(write(fds[1], &byte, 1), 1);
    });
    char c = 0;
    const ssize_t n = read(fds[0], &c, 1);
    const int error = errno;
    done = true;
    other.join();
    EXPECT_EQ(n, -1);
    EXPECT_EQ(error, EINTR);
    EXPECT_EQ(ending_signal(), SIGTERM);
    unwatch_ending_signals();
    close(fds[0]);
    close(fds[1]);
}
}  // namespace
