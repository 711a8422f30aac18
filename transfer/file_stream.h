// The file stream that follows the handshake: name, size, length-prefixed
// chunks and an end marker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "handshake.h"

struct TransferRequest {
    std::string path;
    std::string name;
    std::uint64_t chunk_size = 65536;
};

inline constexpr std::uint32_t kMaxNameLength = 4096;
inline constexpr std::uint32_t kMaxChunkLength = 67108864;

bool send_file(const SocketHandle& socket, const TransferRequest& request);
bool receive_file(const SocketHandle& socket, const std::string& out_dir);

// "\rProgress: P% (done/total bytes)"; empty when total is 0.
std::string progress_line(std::uint64_t done, std::uint64_t total);
void print_progress(std::uint64_t done, std::uint64_t total);

// The last component of a path as the sender announces it.
std::optional<std::string> announced_name(const std::string& path);
// The file name the receiver writes for an announced name: its last
// component after '/' or '\'; none for an empty name, "." or "..".
std::optional<std::string> received_file_name(const std::string& announced);
