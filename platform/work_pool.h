// Runs one job per index on a few worker threads that take indices from a
// shared counter. Each job writes only its own slot of the caller's tables,
// and the joins publish those slots to the caller: no other sharing.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "stop_check.h"

// The machine's thread count, at least 1.
inline unsigned default_worker_count() { return std::max(1u, std::thread::hardware_concurrency()); }

// Calls job(index, worker) for every index below `count`, `worker` naming the
// thread (0 .. workers-1) so that each can keep its own scratch space. The
// first exception a job throws is rethrown here once every thread has ended.
// A stop asked for lets every thread finish its job; stop.act then runs here.
template <typename Job>
void run_on_workers(std::size_t count, unsigned workers, Job&& job, platform::StopCheck stop = {}) {
    const std::size_t threads = std::min<std::size_t>(std::max(1u, workers), count);
    const auto act = [&] {
        if (stop.act) stop.act();
    };
    if (threads <= 1) {
        for (std::size_t i = 0; i < count && !stop.stop(); ++i) job(i, 0u);
        act();
        return;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> halt{false};
    std::mutex failure_lock;
    std::exception_ptr failure;
    auto work = [&](unsigned worker) {
        try {
            for (std::size_t i = next.fetch_add(1); i < count && !halt.load() && !stop.stop();
                 i = next.fetch_add(1))
                job(i, worker);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(failure_lock);
            if (!failure) failure = std::current_exception();
            halt = true;
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    try {
        for (unsigned w = 1; w < threads; ++w) pool.emplace_back(work, w);
    } catch (const std::system_error&) {
        // No thread to spare: the ones already started share the work.
    }
    work(0);
    for (std::thread& t : pool) t.join();
    act();
    if (failure) std::rethrow_exception(failure);
}
