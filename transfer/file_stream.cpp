#include "file_stream.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <system_error>
#include <vector>

#include "escape.h"
#include "part_file.h"
#include "terminal_lock.h"

using namespace tovrel;

namespace fs = std::filesystem;

void tovrel::write_stdout(std::string_view text) {
    std::lock_guard<std::mutex> lock(terminal_mutex());
    std::cout << text << std::flush;
}

namespace {

// Counts the data against the announced size: a sender that sends more is
// refused before its bytes are read, one that sends less at the end marker.
bool receive_chunks(const SocketHandle& socket, PartFile& part, std::uint64_t size, const platform::LineSink& out) {
    std::uint64_t received = 0;
    for (;;) {
        std::uint32_t length = 0;
        if (!recv_u32(socket, length)) return false;
        if (length == 0) return received == size;
        if (length > kMaxChunkLength || length > size - received) return false;
        std::vector<char> buffer(length, 0);
        if (!recv_exact(socket, buffer.data(), length)) return false;
        if (!part_file_write(part, buffer.data(), length)) return false;
        received += length;
        if (size != 0) out(progress_line(received, size));
    }
}

// After the end marker the receiver closes its side only once the file is
// saved; anything else (a reset, data, silence past the bound) means it was not.
bool receiver_closed_in_order(SocketHandle& socket, int close_ms) {
    if (net_shutdown_send(socket.value) != 0) return false;
    bound_phase(socket, close_ms);
    char byte = 0;
    return recv_some(socket, &byte, 1) == 0;
}
}  // namespace

std::string tovrel::progress_line(std::uint64_t done, std::uint64_t total) {
    if (total == 0) return {};
    std::uint64_t percent = done * 100 / total;
    return "\rProgress: " + std::to_string(percent) + "% (" + std::to_string(done) + "/" + std::to_string(total) +
           " bytes)";
}

void print_progress(std::uint64_t done, std::uint64_t total) {
    if (total == 0) return;
    write_stdout(progress_line(done, total));
}

std::optional<std::string> tovrel::announced_name(const std::string& path) {
    try {
        std::string name = fs::path(path).filename().string();
        if (name.empty()) return std::nullopt;
        return name;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> tovrel::received_file_name(const std::string& announced) {
    // Control bytes (NUL among them) would reach terminals and file listings
    // from a name the peer chose; such a name is refused whole.
    if (zeylatui::has_control_text(announced)) return std::nullopt;
    // A Windows sender may announce "sub\dir\report.txt".
    std::size_t cut = announced.find_last_of("/\\");
    std::string name = cut == std::string::npos ? announced : announced.substr(cut + 1);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    return name;
}

bool send_file(SocketHandle& socket, const TransferRequest& request, const TransferLimits& limits) {
    return tovrel::send_file(socket, request, limits, write_stdout);
}

bool tovrel::send_file(SocketHandle& socket, const TransferRequest& request, const TransferLimits& limits,
                       const platform::LineSink& out) {
    std::error_code ec;
    // Opening a pipe would wait for a writer without bound; only a regular
    // file has a size to announce anyway.
    if (!fs::is_regular_file(fs::path(request.path), ec)) return false;
    std::ifstream in(request.path, std::ios::in | std::ios::binary);
    if (in.fail() || in.bad()) return false;
    const std::uint64_t size = fs::file_size(fs::path(request.path), ec);
    if (ec) return false;
    return send_stream(socket, request.name, size, in, request.chunk_size, limits, out);
}

bool tovrel::send_stream(SocketHandle& socket, const std::string& name, std::uint64_t size, std::istream& in,
                         std::uint64_t chunk_size, const TransferLimits& limits, const platform::LineSink& out) {
    if (chunk_size == 0 || chunk_size > kMaxChunkLength) return false;
    bound_pace(socket, kStreamStep, limits.stream_window_ms);
    if (!send_u32(socket, static_cast<std::uint32_t>(name.size()))) return false;
    if (!send_exact(socket, name.data(), name.size())) return false;
    if (!send_u64(socket, size)) return false;

    std::vector<char> buffer(chunk_size, 0);
    std::uint64_t sent = 0;
    while (!in.fail() && !in.bad()) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        // A read error must not pass for the end of the file: no end marker
        // goes out, and the receiver keeps nothing.
        if (in.bad()) return false;
        const auto count = static_cast<std::uint64_t>(in.gcount());
        if (count == 0) break;
        if (!send_u32(socket, static_cast<std::uint32_t>(count))) return false;
        if (!send_exact(socket, buffer.data(), count)) return false;
        sent += count;
        if (size != 0) out(progress_line(sent, size));
    }
    if (!send_u32(socket, 0)) return false;
    if (!receiver_closed_in_order(socket, limits.close_ms)) return false;
    out("\n");
    return true;
}

bool receive_file(SocketHandle& socket, const std::string& out_dir, const TransferLimits& limits) {
    return tovrel::receive_file(socket, out_dir, limits, write_stdout);
}

bool tovrel::receive_file(SocketHandle& socket, const std::string& out_dir, const TransferLimits& limits,
                          const platform::LineSink& out) {
    bound_pace(socket, kStreamStep, limits.stream_window_ms);
    std::uint32_t name_length = 0;
    if (!recv_u32(socket, name_length)) return false;
    if (name_length - 1u > kMaxNameLength - 1u) return false;
    std::string announced(name_length, '\0');
    if (!recv_exact(socket, announced.data(), name_length)) return false;
    std::uint64_t size = 0;
    if (!recv_u64(socket, size)) return false;

    const std::optional<std::string> name = received_file_name(announced);
    if (!name) return false;
    const std::string destination = (fs::path(out_dir) / fs::path(*name)).string();
    PartFile part;
    if (!part_file_open(part, out_dir, *name, limits.unsynced_ms)) return false;
    if (!receive_chunks(socket, part, size, out)) return false;
    if (!part_file_commit(part)) return false;
    out("\nSaved: " + zeylatui::escape_untrusted(destination) + "\n");
    return true;
}
