// Network start-up, the Kyber1024 handshake and the fingerprints of keys.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net.h"

struct KemSession {
    std::vector<std::uint8_t> public_key;
    std::vector<std::uint8_t> secret_key;
    std::vector<std::uint8_t> shared_secret;
    std::array<std::uint8_t, 32> session_key{};
};

struct ShareCard {
    std::string session_text;
    std::string fingerprint;
};

namespace tovrel {
// How long the peer may keep this side waiting, as a whole: one deadline for
// a phase, or, while `step` is set, a deadline that moves `window` ahead each
// time `step` more bytes have crossed, so a peer must keep the transfer
// moving, not merely alive. The exact-length operations count against it.
struct PeerBound {
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::chrono::milliseconds window{0};
    std::uint64_t step = 0;
    std::uint64_t moved = 0;
};
}  // namespace tovrel

// One connected socket of a worker; INVALID_SOCKET means none.
struct SocketHandle {
    SocketHandle() = default;
    explicit SocketHandle(SOCKET s) : value(s) {}

    SOCKET value = INVALID_SOCKET;
    // Counted by the exact-length operations, which take the handle as const.
    mutable tovrel::PeerBound bound;
    // The send and receive time-out set on the socket for that bound; 0: none.
    mutable int timeout_ms = 0;
};

bool net_startup();

bool send_exact(const SocketHandle& socket, const void* data, std::size_t n);
bool recv_exact(const SocketHandle& socket, void* buffer, std::size_t n);

bool kem_generate_keypair(KemSession& session, ShareCard& card);
bool handshake_as_sender(const SocketHandle& socket, KemSession& session, std::string& fingerprint);
bool handshake_as_receiver(const SocketHandle& socket, KemSession& session, std::string& fingerprint);

std::array<std::uint8_t, 32> sha256_digest(const std::uint8_t* data, std::size_t size);
std::string short_fingerprint(const std::uint8_t* data, std::size_t size);

// The program's own socket helpers under the interfaces above.
namespace tovrel {
// The phase that starts now ends within the time, however the peer paces it.
void bound_phase(SocketHandle& socket, int milliseconds);
// From now on at least `step` bytes cross in every window of the time.
void bound_pace(SocketHandle& socket, std::uint64_t step, int milliseconds);
void close_socket(SocketHandle& socket);
// Closes with a reset, so the peer sees a failure rather than an orderly end.
void reset_socket(SocketHandle& socket);

inline constexpr std::uint32_t kHandshakeMagic = 0x5A594C31;
inline constexpr std::uint32_t kMaxHandshakeBlob = 65536;

// Announced key and ciphertext lengths: 1 to 65536.
bool handshake_length_ok(std::uint32_t n);

// One receive under the socket's bound: a byte count, 0 when the peer ended
// its side in order, SOCKET_ERROR on a failure or once the bound has run out.
int recv_some(const SocketHandle& socket, void* buffer, std::size_t n);

bool send_u32(const SocketHandle& socket, std::uint32_t value);
bool send_u64(const SocketHandle& socket, std::uint64_t value);
bool recv_u32(const SocketHandle& socket, std::uint32_t& value);
bool recv_u64(const SocketHandle& socket, std::uint64_t& value);

// The first three digest bytes as six upper-case hex digits.
std::string fingerprint_of_digest(const std::array<std::uint8_t, 32>& digest);
}  // namespace tovrel
