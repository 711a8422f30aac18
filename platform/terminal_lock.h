// The lock every writer to the terminal holds: curses during a refresh, the
// clipboard sequence, the transfer's progress lines. No curses here, so
// engines that print take it too.
#pragma once

#include <mutex>

std::mutex& terminal_mutex();
