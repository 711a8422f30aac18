// How long work hears that the program is to end (an ending signal), without
// this layer knowing where that news comes from.
#pragma once

namespace platform {

struct StopCheck {
    // Polled between steps on any thread: nonzero ends the work early.
    int (*requested)() = nullptr;
    // Run on the calling thread once every worker has ended, before any failure is passed on.
    bool (*act)() = nullptr;

    bool stop() const { return requested && requested() != 0; }
};

}  // namespace platform
