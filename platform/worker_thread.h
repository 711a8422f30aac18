// A thread with a stack of a chosen size, which std::thread offers no way to ask for.
#pragma once

#include <cstddef>
#include <functional>
#include <pthread.h>

struct WorkerThread {
    std::function<void()> body;
    pthread_t handle{};
    bool running = false;
};

// Starts worker.body; throws std::system_error when the system refuses.
// The worker must stay at the same address until it is joined.
void start_worker(WorkerThread& worker, std::size_t stack_bytes);
void join_worker(WorkerThread& worker);
