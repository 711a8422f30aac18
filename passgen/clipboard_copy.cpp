#include "clipboard_copy.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "clipboard.h"

namespace {
using Clock = std::chrono::steady_clock;

// One thread for all clearings, owned by the program so that its end can
// carry out what is still waiting instead of losing it.
struct ClearTimer {
    std::mutex lock;
    std::condition_variable changed;
    std::multiset<Clock::time_point> due;
    bool stop = false;
    std::thread thread;

    ~ClearTimer() { join(); }

    void join() {
        {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
        }
        changed.notify_all();
        if (thread.joinable()) thread.join();
    }

    void run() {
        std::unique_lock<std::mutex> guard(lock);
        while (!stop) {
            if (due.empty()) {
                changed.wait(guard);
            } else if (const Clock::time_point next = *due.begin(); Clock::now() < next) {
                // A copy: the set may change while the lock is let go.
                changed.wait_until(guard, next);
            } else {
                due.erase(due.begin());
                guard.unlock();
                corvane::clipboard_clear();
                guard.lock();
            }
        }
    }
};

ClearTimer& clear_timer() {
    static ClearTimer timer;
    return timer;
}

}  // namespace

bool clipboard_set_text(const std::string& text) {
    const int n = MultiByteToWideChar(CP_1252, 0, text.c_str(), -1, nullptr, 0);
    if (n < 1) return false;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 2 * static_cast<std::size_t>(n));
    if (block == nullptr) return false;
    auto* units = static_cast<WCHAR*>(GlobalLock(block));
    if (units == nullptr) {
        GlobalFree(block);
        return false;
    }
    MultiByteToWideChar(CP_1252, 0, text.c_str(), -1, units, n);
    GlobalUnlock(block);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(block);
        return false;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
        CloseClipboard();
        GlobalFree(block);
        return false;
    }
    CloseClipboard();  // the clipboard owns the block now
    return true;
}

void corvane::clipboard_clear() {
    if (!clipboard_set_text("")) clipboard_forget_copies();
}

bool corvane::schedule_clipboard_clear(std::int32_t seconds) {
    ClearTimer& timer = clear_timer();
    {
        std::lock_guard<std::mutex> guard(timer.lock);
        if (!timer.thread.joinable()) {
            timer.stop = false;
            try {
                timer.thread = std::thread([&timer] { timer.run(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        // The whole wait, even beyond what one 32-bit millisecond count holds.
        timer.due.insert(Clock::now() + std::chrono::seconds(seconds));
    }
    timer.changed.notify_all();
    return true;
}

void corvane::clear_clipboard_now() {
    ClearTimer& timer = clear_timer();
    bool waiting = false;
    {
        std::lock_guard<std::mutex> guard(timer.lock);
        waiting = !timer.due.empty();
        timer.due.clear();
    }
    timer.join();
    if (waiting) clipboard_clear();
}

std::size_t corvane::pending_clipboard_clears() {
    ClearTimer& timer = clear_timer();
    std::lock_guard<std::mutex> guard(timer.lock);
    return timer.due.size();
}
