#include "file_stream.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <system_error>
#include <vector>

#include "terminal.h"

namespace fs = std::filesystem;

namespace {
void write_stdout(const std::string& text) {
    // Curses writes to the same terminal from the screen thread.
    std::lock_guard<std::mutex> lock(terminal_mutex());
    std::cout << text << std::flush;
}

// A partial receive goes here first, so a failed transfer never touches an
// existing file of the destination's name.
fs::path temporary_path(const fs::path& dir) {
    std::random_device rd;
    std::error_code ec;
    for (;;) {
        std::uint64_t tag = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
        fs::path candidate = dir / (".tovrel-" + std::to_string(tag) + ".part");
        if (!fs::exists(candidate, ec) && !ec) return candidate;
        if (ec) return {};
    }
}

bool receive_chunks(const SocketHandle& socket, std::ofstream& out, std::uint64_t size) {
    std::uint64_t received = 0;
    for (;;) {
        std::uint32_t length = 0;
        if (!recv_u32(socket, length)) return false;
        if (length == 0) return true;
        if (length > kMaxChunkLength) return false;
        std::vector<char> buffer(length, 0);
        if (!recv_exact(socket, buffer.data(), length)) return false;
        out.write(buffer.data(), static_cast<std::streamsize>(length));
        received += length;
        if (size != 0) write_stdout(progress_line(received, size));
    }
}
}  // namespace

std::string progress_line(std::uint64_t done, std::uint64_t total) {
    if (total == 0) return {};
    std::uint64_t percent = done * 100 / total;
    return "\rProgress: " + std::to_string(percent) + "% (" + std::to_string(done) + "/" + std::to_string(total) +
           " bytes)";
}

void print_progress(std::uint64_t done, std::uint64_t total) {
    if (total == 0) return;
    write_stdout(progress_line(done, total));
}

std::optional<std::string> announced_name(const std::string& path) {
    try {
        std::string name = fs::path(path).filename().string();
        if (name.empty()) return std::nullopt;
        return name;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> received_file_name(const std::string& announced) {
    // A Windows sender may announce "sub\dir\report.txt".
    std::size_t cut = announced.find_last_of("/\\");
    std::string name = cut == std::string::npos ? announced : announced.substr(cut + 1);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) return std::nullopt;
    return name;
}

bool send_file(const SocketHandle& socket, const TransferRequest& request) {
    std::ifstream in(request.path, std::ios::in | std::ios::binary);
    if (in.fail() || in.bad()) return false;
    std::error_code ec;
    const std::uint64_t size = fs::file_size(fs::path(request.path), ec);
    if (ec) return false;
    if (request.chunk_size == 0 || request.chunk_size > kMaxChunkLength) return false;

    if (!send_u32(socket, static_cast<std::uint32_t>(request.name.size()))) return false;
    if (!send_exact(socket, request.name.data(), request.name.size())) return false;
    if (!send_u64(socket, size)) return false;

    std::vector<char> buffer(request.chunk_size, 0);
    std::uint64_t sent = 0;
    while (!in.fail() && !in.bad()) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto count = static_cast<std::uint64_t>(in.gcount());
        if (count == 0) break;
        if (!send_u32(socket, static_cast<std::uint32_t>(count))) return false;
        if (!send_exact(socket, buffer.data(), count)) return false;
        sent += count;
        print_progress(sent, size);
    }
    if (!send_u32(socket, 0)) return false;
    write_stdout("\n");
    return true;
}

bool receive_file(const SocketHandle& socket, const std::string& out_dir) {
    std::uint32_t name_length = 0;
    if (!recv_u32(socket, name_length)) return false;
    if (name_length - 1u > kMaxNameLength - 1u) return false;
    std::string announced(name_length, '\0');
    if (!recv_exact(socket, announced.data(), name_length)) return false;
    std::uint64_t size = 0;
    if (!recv_u64(socket, size)) return false;

    std::optional<std::string> name = received_file_name(announced);
    if (!name) return false;
    fs::path destination;
    fs::path temporary;
    try {
        destination = fs::path(out_dir) / fs::path(*name);
        std::error_code ec;
        if (fs::is_directory(destination, ec)) return false;
        // The rename below would replace a file the user cannot write; refuse
        // it as opening it in place would.
        if (fs::exists(destination, ec) &&
            !std::ofstream(destination, std::ios::out | std::ios::app | std::ios::binary).is_open())
            return false;
        temporary = temporary_path(fs::path(out_dir));
    } catch (...) {
        return false;
    }
    if (temporary.empty()) return false;

    bool ok = false;
    {
        std::ofstream out(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!out.is_open()) return false;
        ok = receive_chunks(socket, out, size);
        out.close();
        // A short write (full disk) must not be reported as a saved file.
        ok = ok && !out.fail();
    }
    std::error_code ec;
    if (ok) {
        fs::rename(temporary, destination, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(temporary, ec);
        return false;
    }
    write_stdout("\nSaved: " + destination.string() + "\n");
    return true;
}
