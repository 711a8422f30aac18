// SIGINT, SIGTERM, SIGHUP and SIGQUIT (Ctrl-\ too) end the program through
// its main loop, so that a clipboard clearing still waiting is carried out
// first. The handler only
// records the signal; a watching thread interrupts the main thread's
// blocking key read until the loop has taken note, so that no screen keeps
// waiting for a key meanwhile (a screen whose read fails closes as on Esc).
#pragma once

// Installs the handlers and starts the watching thread; call on the main
// thread, before curses starts.
void watch_exit_signals();
// The signal received, 0 if none.
int exit_signal();
// The main loop is ending: its reads are no longer interrupted. Signals are
// still only recorded.
void stop_interrupting();
// Restores the previous handlers and joins the watching thread.
void unwatch_exit_signals();
// Ends the process by the signal recorded, as it would have ended without
// the handler; returns when none was.
void end_by_exit_signal();
