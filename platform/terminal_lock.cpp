#include "terminal_lock.h"

std::mutex& terminal_mutex() {
    static std::mutex m;
    return m;
}
