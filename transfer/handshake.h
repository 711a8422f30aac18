// Network start-up, the Kyber1024 handshake and the fingerprints of keys.
#pragma once

#include <array>
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

// One connected socket of a worker; INVALID_SOCKET means none.
struct SocketHandle {
    SOCKET value = INVALID_SOCKET;
};
void close_socket(SocketHandle& socket);
// Closes with a reset, so the peer sees a failure rather than an orderly end.
void reset_socket(SocketHandle& socket);

inline constexpr std::uint32_t kHandshakeMagic = 0x5A594C31;
inline constexpr std::uint32_t kMaxHandshakeBlob = 65536;

// Announced key and ciphertext lengths: 1 to 65536.
bool handshake_length_ok(std::uint32_t n);

bool net_startup();

bool send_exact(const SocketHandle& socket, const void* data, std::size_t n);
bool recv_exact(const SocketHandle& socket, void* buffer, std::size_t n);
bool send_u32(const SocketHandle& socket, std::uint32_t value);
bool send_u64(const SocketHandle& socket, std::uint64_t value);
bool recv_u32(const SocketHandle& socket, std::uint32_t& value);
bool recv_u64(const SocketHandle& socket, std::uint64_t& value);

bool kem_generate_keypair(KemSession& session, ShareCard& card);
bool handshake_as_sender(const SocketHandle& socket, KemSession& session, std::string& fingerprint);
bool handshake_as_receiver(const SocketHandle& socket, KemSession& session, std::string& fingerprint);

std::array<std::uint8_t, 32> sha256_digest(const std::uint8_t* data, std::size_t size);
// The first three digest bytes as six upper-case hex digits.
std::string fingerprint_of_digest(const std::array<std::uint8_t, 32>& digest);
std::string short_fingerprint(const std::uint8_t* data, std::size_t size);
