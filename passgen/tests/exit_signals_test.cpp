#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "exit_signals.h"

namespace {
const int kEnding[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
}  // namespace

TEST(ExitSignals, OnlyRecordedWhileWatched) {
    for (int signal : kEnding) {
        watch_exit_signals();
        EXPECT_EQ(exit_signal(), 0);
        raise(signal);  // the test goes on
        EXPECT_EQ(exit_signal(), signal);
        unwatch_exit_signals();
    }
}

TEST(ExitSignalsDeathTest, TheProcessEndsByTheSignalRecorded) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int signal : kEnding) {
        EXPECT_EXIT(
            {
                watch_exit_signals();
                raise(signal);
                stop_interrupting();
                unwatch_exit_signals();
                end_by_exit_signal();
                _exit(0);
            },
            ::testing::KilledBySignal(signal), "")
            << signal;
    }
    EXPECT_EXIT(
        {
            watch_exit_signals();
            unwatch_exit_signals();
            end_by_exit_signal();  // none recorded: returns
            _exit(3);
        },
        ::testing::ExitedWithCode(3), "");
}

TEST(ExitSignals, TheMainThreadsBlockingReadFailsWhereverTheSignalLanded) {
    watch_exit_signals();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::atomic<bool> done{false};
    // The signal is handled on another thread, so it interrupts nothing on
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
    EXPECT_EQ(exit_signal(), SIGTERM);
    stop_interrupting();
    unwatch_exit_signals();
    close(fds[0]);
    close(fds[1]);
}
