// How long a transfer waits for its peer, phase by phase, and how much
// received data may wait for the disk. Tests shorten them.
#pragma once

#include <cstdint>

namespace tovrel {
struct TransferLimits {
    // The receiver's connect.
    int connect_ms = 15000;
    // The sender's wait for a receiver.
    int accept_ms = 600000;
    // The whole handshake, from the connection.
    int handshake_ms = 60000;
    // The file stream: at least kStreamStep bytes, or the rest, in every window.
    int stream_window_ms = 60000;
    // The sender's wait, after the end marker, for the receiver's orderly close.
    // The receiver keeps its unsynced data to a few seconds of disk time, so
    // its final sync fits in this on any medium.
    int close_ms = 60000;
    // Received data not yet on disk, in the disk's own write time.
    int unsynced_ms = 2000;
};

// One chunk as the sender cuts them.
inline constexpr std::uint64_t kStreamStep = 65536;
}  // namespace tovrel
