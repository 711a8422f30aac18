// The file stream that follows the handshake: name, size, length-prefixed
// chunks and an end marker.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>

#include "handshake.h"
#include "line_sink.h"
#include "transfer_limits.h"

struct TransferRequest {
    std::string path;
    std::string name;
    std::uint64_t chunk_size = 65536;
};

inline constexpr std::uint32_t kMaxNameLength = 4096;
inline constexpr std::uint32_t kMaxChunkLength = 67108864;

// Fields 6 to 11 of the file at request.path. True only once the receiver,
// after the end marker, has closed its side in order (it does so only when
// the file is saved). The receiver must take the stream at the limits' pace
// and close within their time after the end marker.
bool send_file(SocketHandle& socket, const TransferRequest& request, const tovrel::TransferLimits& limits = {});
// Fields 6 to 11 into out_dir, which the sender must keep moving at the
// limits' pace. True only when exactly the announced number of bytes arrived
// before the end marker and the file was synced, put in place and its folder
// synced; otherwise nothing is left under the final name.
bool receive_file(SocketHandle& socket, const std::string& out_dir, const tovrel::TransferLimits& limits = {});

void print_progress(std::uint64_t done, std::uint64_t total);

// The stream's own steps under the interfaces above.
namespace tovrel {
// Text for standard output, written whole under the terminal lock: the
// screen thread draws through curses on the same terminal. The default for
// what the stream prints (progress, the saved file).
void write_stdout(std::string_view text);

// send_file and receive_file with their progress and "Saved: " text going to out.
bool send_file(SocketHandle& socket, const TransferRequest& request, const TransferLimits& limits,
               const platform::LineSink& out);
bool receive_file(SocketHandle& socket, const std::string& out_dir, const TransferLimits& limits,
                  const platform::LineSink& out);

// send_file once the file is open: its bytes come from in, and a read that
// fails (in goes bad) fails the transfer without an end marker.
bool send_stream(SocketHandle& socket, const std::string& name, std::uint64_t size, std::istream& in,
                 std::uint64_t chunk_size, const TransferLimits& limits = {},
                 const platform::LineSink& out = write_stdout);

// "\rProgress: P% (done/total bytes)"; empty when total is 0.
std::string progress_line(std::uint64_t done, std::uint64_t total);

// The last component of a path as the sender announces it.
std::optional<std::string> announced_name(const std::string& path);

// The file name the receiver writes for an announced name: its last
// component after '/' or '\'; none for an empty name, "." or "..", and none
// for a name holding a control byte or a C1 character anywhere.
std::optional<std::string> received_file_name(const std::string& announced);
}  // namespace tovrel
