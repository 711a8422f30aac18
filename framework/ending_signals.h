// The signals that end a program (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1,
// SIGUSR2, SIGALRM, SIGPIPE) and Ctrl-Z, caught in one place for every
// program. The handler only records the signal and wakes the main thread,
// which acts on it where it can stop cleanly (a key read, between blocks of
// long work): it leaves the screen, puts the terminal back, runs the
// program's last step, and ends by the same signal with its default action.
// No curses here: engines check for a signal too.
#pragma once

enum class PipeSignal {
    ends,     // a write to a closed pipe ends the program like the others
    ignored,  // the program's sockets report it as an error instead
};

// Call first in main, on the main thread: before curses starts, which
// installs handlers of its own for signals nobody handles. Also forbids core
// dumps, which would hold whatever the program had in memory.
void watch_ending_signals(PipeSignal pipe = PipeSignal::ends);
// Puts the previous handlers back (tests).
void unwatch_ending_signals();

// The ending signal received, 0 if none. Work on other threads stops at its
// next block, file or wait when this is set.
int ending_signal();

// On the main thread: an ending signal ends the program here, without
// returning. A stop (Ctrl-Z) is carried out here too; true once the program
// has been continued after one, so that the screen is drawn again. False
// otherwise, and always on other threads.
bool act_on_signals();

// The program's own last step before it ends by a signal, and its step
// before it stops; run on the main thread after the terminal is put back.
void set_last_step(void (*step)());
void set_stop_step(void (*step)());

// The framework's part: leaving the screen before the end or a stop, and
// taking it up again after a stop.
void set_screen_steps(void (*leave)(), void (*resume)());
