#include "workers.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "file_stream.h"
#include "i18n.h"

using namespace tovrel;

namespace {
std::string format_port(const std::string& format, std::uint16_t port) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<int>(port));
    return buffer;
}

void publish(std::atomic<bool>& success, std::atomic<bool>& done, bool result) {
    success.store(result);
    done.store(true);
}

// Listening socket on every interface; INVALID_SOCKET when the port cannot be had.
SOCKET open_listener(std::uint16_t port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return INVALID_SOCKET;
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 1) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool resolve_ipv4(const std::string& host, in_addr& out) {
    if (::inet_pton(AF_INET, host.c_str(), &out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return false;
    out = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
    ::freeaddrinfo(list);
    return true;
}

bool connect_to(const std::string& host, std::uint16_t port, int connect_ms, SocketHandle& socket) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (!resolve_ipv4(host, addr.sin_addr) ||
        net_connect_timeout(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr, connect_ms) != 0) {
        closesocket(s);
        return false;
    }
    socket.value = s;
    return true;
}

bool output_dir_exists(const std::string& out_dir) {
    if (out_dir.empty()) return false;
    std::error_code ec;
    bool exists = std::filesystem::exists(std::filesystem::path(out_dir), ec);
    return exists && !ec;
}
}  // namespace

void sender_worker(std::uint16_t port, std::string& error, std::atomic<bool>& success, std::atomic<bool>& done,
                   TransferLog& log, KemSession& session, const std::string& path, const TransferLimits& limits) {
    SocketHandle listener;
    SocketHandle peer;
    bool sent = false;
    try {
        net_startup();
        listener.value = open_listener(port);
        if (listener.value == INVALID_SOCKET) {
            error = format_port(tr("p2p_err_listen"), port);
            publish(success, done, false);
            return;
        }
        log.push(format_port(tr("p2p_log_listening"), port));
        log.push(tr("p2p_log_wait_conn"));
        if (net_wait_readable(listener.value, limits.accept_ms))
            peer.value = ::accept(listener.value, nullptr, nullptr);
        if (peer.value == INVALID_SOCKET) {
            error = tr("p2p_err_accept");
        } else {
            log.push(tr("p2p_log_connected"));
            bound_phase(peer, limits.handshake_ms);
            std::string fingerprint;
            if (!handshake_as_sender(peer, session, fingerprint)) {
                error = tr("p2p_err_handshake");
            } else {
                log.push(tr("p2p_log_handshake"));
                log.push("FP: " + fingerprint);
                std::optional<std::string> name = announced_name(path);
                log.push(tr("p2p_log_transfer"));
                sent = name && send_file(peer, TransferRequest{path, *name, 65536}, limits);
                if (!sent) error = tr("p2p_err_transfer");
            }
        }
    } catch (...) {
        sent = false;
        if (error.empty()) error = tr("p2p_err_transfer");
    }
    publish(success, done, sent);
    // A sender that gave up says so, as the receiver does.
    if (sent)
        close_socket(peer);
    else
        reset_socket(peer);
    close_socket(listener);
}

bool receiver_worker(const std::string& host, std::uint16_t port, const std::string& out_dir, TransferLog& log,
                     std::string& error, const TransferLimits& limits) {
    SocketHandle socket;
    try {
        if (host.empty()) {
            error = tr("p2p_err_host");
            return false;
        }
        if (!output_dir_exists(out_dir)) {
            error = tr("p2p_err_outdir");
            return false;
        }
        net_startup();
        log.push("Connecting to " + host + ":" + std::to_string(port) + " ...");
        if (!connect_to(host, port, limits.connect_ms, socket)) {
            error = tr("p2p_err_connect");
            return false;
        }
        log.push(tr("p2p_log_connected"));
        return receive_on_connection(socket, out_dir, log, error, limits);
    } catch (...) {
        reset_socket(socket);
        if (error.empty()) error = tr("p2p_err_receive");
        return false;
    }
}

bool tovrel::receive_on_connection(SocketHandle& socket, const std::string& out_dir, TransferLog& log,
                                   std::string& error, const TransferLimits& limits) {
    bool received = false;
    try {
        bound_phase(socket, limits.handshake_ms);
        // Until the file is saved even the close at the process's end (Ctrl-C,
        // a closed terminal) must not read as "saved" to the sender.
        net_reset_on_close(socket.value, true);
        KemSession session;
        std::string fingerprint;
        if (!handshake_as_receiver(socket, session, fingerprint)) {
            error = tr("p2p_err_handshake");
        } else {
            log.push(tr("p2p_log_handshake"));
            log.push("FP: " + fingerprint);
            log.push(tr("p2p_log_transfer"));
            received = receive_file(socket, out_dir, limits);
            if (!received) error = tr("p2p_err_receive");
        }
    } catch (...) {
        received = false;
        if (error.empty()) error = tr("p2p_err_receive");
    }
    // The sender takes an orderly close for "saved"; every failure, one after
    // the last byte included, resets instead.
    if (received && net_reset_on_close(socket.value, false))
        close_socket(socket);
    else
        reset_socket(socket);
    return received;
}

void tovrel::receiver_thread(const std::string& host, std::uint16_t port, const std::string& out_dir, TransferLog& log,
                             std::atomic<bool>& success, std::string& error, std::atomic<bool>& done,
                             const TransferLimits& limits) {
    std::string own_error;
    bool ok = receiver_worker(host, port, out_dir, log, own_error, limits);
    success.store(ok);
    error = own_error;
    done.store(true);
}
