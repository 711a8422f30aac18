#include "worker_thread.h"

#include <system_error>

namespace {
void* run_body(void* arg) {
    static_cast<WorkerThread*>(arg)->body();
    return nullptr;
}
}  // namespace

void start_worker(WorkerThread& worker, std::size_t stack_bytes) {
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc == 0) {
        rc = pthread_attr_setstacksize(&attr, stack_bytes);
        if (rc == 0) rc = pthread_create(&worker.handle, &attr, run_body, &worker);
        pthread_attr_destroy(&attr);
    }
    if (rc != 0) throw std::system_error(rc, std::generic_category(), "cannot start a search worker");
    worker.running = true;
}

void join_worker(WorkerThread& worker) {
    if (!worker.running) return;
    pthread_join(worker.handle, nullptr);
    worker.running = false;
}
