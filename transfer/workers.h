// The two sides of one transfer, each run on its own worker thread while the
// screen thread shows progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "handshake.h"
#include "transfer_limits.h"
#include "transfer_log.h"

// Listens on port, accepts one receiver, runs the handshake and sends path.
// Publishes the error text, then success, then done.
void sender_worker(std::uint16_t port, std::string& error, std::atomic<bool>& success, std::atomic<bool>& done,
                   TransferLog& log, KemSession& session, const std::string& path,
                   const tovrel::TransferLimits& limits = {});

// Checks the inputs, connects, runs the handshake and receives into out_dir.
// Writes error only on failure.
bool receiver_worker(const std::string& host, std::uint16_t port, const std::string& out_dir, TransferLog& log,
                     std::string& error, const tovrel::TransferLimits& limits = {});

namespace tovrel {
// The receiving side on a connection that is already up: handshake, file
// stream into out_dir, then the close the sender reads as the outcome (orderly
// once the file is saved, a reset otherwise). Always closes socket.
bool receive_on_connection(SocketHandle& socket, const std::string& out_dir, TransferLog& log, std::string& error,
                           const TransferLimits& limits = {});

// The receiver thread's entry: success, then the error text, then done.
void receiver_thread(const std::string& host, std::uint16_t port, const std::string& out_dir, TransferLog& log,
                     std::atomic<bool>& success, std::string& error, std::atomic<bool>& done,
                     const TransferLimits& limits = {});
}  // namespace tovrel
