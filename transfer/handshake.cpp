#include "handshake.h"

#include <cryptopp/sha.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <iomanip>
#include <memory>
#include <sstream>

#include "kem.h"

using namespace tovrel;

namespace {
struct KemFree {
    void operator()(OQS_KEM* kem) const { OQS_KEM_free(kem); }
};
using KemPtr = std::unique_ptr<OQS_KEM, KemFree>;

}  // namespace

// One unsigned comparison rejects 0 and anything above 64 KiB.
bool tovrel::handshake_length_ok(std::uint32_t n) { return n - 1u <= kMaxHandshakeBlob - 1u; }

namespace {

// Workers start one at a time, but tests run a sender and a receiver together.
std::atomic<bool> started{false};

using Clock = std::chrono::steady_clock;

// Milliseconds the peer has left, rounded up; -1 without a bound.
int wait_left(const PeerBound& bound) {
    if (bound.deadline == Clock::time_point::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(bound.deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

void count_moved(PeerBound& bound, int n) {
    if (bound.step == 0 || n <= 0) return;
    bound.moved += static_cast<std::uint64_t>(n);
    if (bound.moved < bound.step) return;
    bound.moved = 0;
    bound.deadline = Clock::now() + bound.window;
}

bool set_socket_timeout(const SocketHandle& socket, int milliseconds) {
    if (!net_set_timeouts(socket.value, milliseconds)) return false;
    socket.timeout_ms = milliseconds;
    return true;
}

// Plain blocking calls under a socket time-out that never reaches past the
// deadline: set to half of what is left whenever it would, and raised again
// after it ran out early, so a steady peer costs no more than plain calls.
// Once no time is left only what is already there is taken.
template <typename Io, typename Within>
int bounded_io(const SocketHandle& socket, Io io, Within within) {
    for (bool timed_out = false;; timed_out = true) {
        const int left = wait_left(socket.bound);
        int n = 0;
        if (left < 0) {
            if (socket.timeout_ms != 0) set_socket_timeout(socket, 0);
            n = io();
        } else if (left == 0) {
            n = within(0);
        } else {
            const int target = std::max(1, left / 2);
            const bool reset =
                socket.timeout_ms == 0 || socket.timeout_ms > left || (timed_out && socket.timeout_ms < target);
            if (reset && !set_socket_timeout(socket, target)) {
                n = within(left);
            } else {
                n = io();
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            }
        }
        count_moved(socket.bound, n);
        return n;
    }
}

int send_some(const SocketHandle& socket, const char* data, int n) {
    return bounded_io(
        socket, [&] { return net_send(socket.value, data, n, 0); },
        [&](int ms) { return net_send_within(socket.value, data, n, ms); });
}
}  // namespace

void tovrel::bound_phase(SocketHandle& socket, int milliseconds) {
    socket.bound = PeerBound{};
    socket.bound.deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
}

void tovrel::bound_pace(SocketHandle& socket, std::uint64_t step, int milliseconds) {
    bound_phase(socket, milliseconds);
    socket.bound.window = std::chrono::milliseconds(milliseconds);
    socket.bound.step = step;
}

int tovrel::recv_some(const SocketHandle& socket, void* buffer, std::size_t n) {
    if (socket.value == INVALID_SOCKET) return SOCKET_ERROR;
    char* p = static_cast<char*>(buffer);
    const int part = static_cast<int>(std::min<std::size_t>(n, INT_MAX));
    return bounded_io(
        socket, [&] { return net_recv(socket.value, p, part, 0); },
        [&](int ms) { return net_recv_within(socket.value, p, part, ms); });
}

void tovrel::close_socket(SocketHandle& socket) {
    if (socket.value != INVALID_SOCKET) closesocket(socket.value);
    socket = SocketHandle{};
}

void tovrel::reset_socket(SocketHandle& socket) {
    if (socket.value != INVALID_SOCKET) net_close_reset(socket.value);
    socket = SocketHandle{};
}

bool net_startup() {
    if (started.load()) return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    started.store(true);
    return true;
}

bool send_exact(const SocketHandle& socket, const void* data, std::size_t n) {
    if (socket.value == INVALID_SOCKET) return false;
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        int part = static_cast<int>(std::min<std::size_t>(n, INT_MAX));
        int sent = send_some(socket, p, part);
        if (sent < 1) return false;
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool recv_exact(const SocketHandle& socket, void* buffer, std::size_t n) {
    if (socket.value == INVALID_SOCKET) return false;
    char* p = static_cast<char*>(buffer);
    while (n > 0) {
        int got = recv_some(socket, p, n);
        if (got < 1) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool tovrel::send_u32(const SocketHandle& socket, std::uint32_t value) {
    std::uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return send_exact(socket, b, sizeof b);
}

bool tovrel::send_u64(const SocketHandle& socket, std::uint64_t value) {
    std::uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return send_exact(socket, b, sizeof b);
}

bool tovrel::recv_u32(const SocketHandle& socket, std::uint32_t& value) {
    std::uint8_t b[4];
    if (!recv_exact(socket, b, sizeof b)) return false;
    value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | b[i];
    return true;
}

bool tovrel::recv_u64(const SocketHandle& socket, std::uint64_t& value) {
    std::uint8_t b[8];
    if (!recv_exact(socket, b, sizeof b)) return false;
    value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | b[i];
    return true;
}

bool kem_generate_keypair(KemSession& session, ShareCard& card) {
    KemPtr kem(OQS_KEM_new("Kyber1024"));
    if (!kem) return false;
    session.public_key.assign(kem->length_public_key, 0);
    session.secret_key.assign(kem->length_secret_key, 0);
    if (OQS_KEM_keypair(kem.get(), session.public_key.data(), session.secret_key.data()) != OQS_SUCCESS) return false;
    card.session_text = "KYBER1024";
    card.fingerprint = short_fingerprint(session.public_key.data(), session.public_key.size());
    return true;
}

namespace {
void finish_session(KemSession& session, std::string& fingerprint) {
    session.session_key = sha256_digest(session.shared_secret.data(), session.shared_secret.size());
    fingerprint = short_fingerprint(session.session_key.data(), session.session_key.size());
}
}  // namespace

bool handshake_as_sender(const SocketHandle& socket, KemSession& session, std::string& fingerprint) {
    KemPtr kem(OQS_KEM_new("Kyber1024"));
    if (!kem) return false;
    // The key pair must be the KEM's own: decapsulation reads exactly its length.
    if (session.public_key.size() != kem->length_public_key || session.secret_key.size() != kem->length_secret_key)
        return false;
    if (!send_u32(socket, kHandshakeMagic)) return false;
    if (!send_u32(socket, static_cast<std::uint32_t>(session.public_key.size()))) return false;
    if (!send_exact(socket, session.public_key.data(), session.public_key.size())) return false;

    std::uint32_t n = 0;
    if (!recv_u32(socket, n) || !handshake_length_ok(n)) return false;
    // A ciphertext of another length is refused rather than padded.
    if (n != kem->length_ciphertext) return false;
    std::vector<std::uint8_t> ciphertext(n, 0);
    if (!recv_exact(socket, ciphertext.data(), n)) return false;

    session.shared_secret.assign(kem->length_shared_secret, 0);
    if (OQS_KEM_decaps(kem.get(), session.shared_secret.data(), ciphertext.data(), session.secret_key.data()) !=
        OQS_SUCCESS)
        return false;
    finish_session(session, fingerprint);
    return true;
}

bool handshake_as_receiver(const SocketHandle& socket, KemSession& session, std::string& fingerprint) {
    KemPtr kem(OQS_KEM_new("Kyber1024"));
    if (!kem) return false;
    std::uint32_t magic = 0;
    if (!recv_u32(socket, magic) || magic != kHandshakeMagic) return false;
    std::uint32_t k = 0;
    if (!recv_u32(socket, k) || !handshake_length_ok(k)) return false;
    // A key of another length is refused rather than padded.
    if (k != kem->length_public_key) return false;
    std::vector<std::uint8_t> public_key(k, 0);
    if (!recv_exact(socket, public_key.data(), k)) return false;

    std::vector<std::uint8_t> ciphertext(kem->length_ciphertext, 0);
    session.shared_secret.assign(kem->length_shared_secret, 0);
    if (OQS_KEM_encaps(kem.get(), ciphertext.data(), session.shared_secret.data(), public_key.data()) != OQS_SUCCESS)
        return false;
    if (!send_u32(socket, static_cast<std::uint32_t>(ciphertext.size()))) return false;
    if (!send_exact(socket, ciphertext.data(), ciphertext.size())) return false;
    finish_session(session, fingerprint);
    return true;
}

std::array<std::uint8_t, 32> sha256_digest(const std::uint8_t* data, std::size_t size) {
    static_assert(CryptoPP::SHA256::DIGESTSIZE == 32);
    std::array<std::uint8_t, 32> digest{};
    CryptoPP::SHA256 hash;
    static const std::uint8_t empty = 0;
    hash.Update(data != nullptr ? data : &empty, size);
    hash.Final(digest.data());
    return digest;
}

std::string tovrel::fingerprint_of_digest(const std::array<std::uint8_t, 32>& digest) {
    std::ostringstream out;
    out << std::hex << std::uppercase << std::setfill('0');
    for (int i = 0; i < 3; ++i) out << std::setw(2) << static_cast<unsigned>(digest[static_cast<std::size_t>(i)]);
    return out.str();
}

std::string short_fingerprint(const std::uint8_t* data, std::size_t size) {
    return fingerprint_of_digest(sha256_digest(data, size));
}
