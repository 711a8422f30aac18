// The sender reading a hostile receiver: the fuzzer's bytes are the
// receiver's side of the conversation (the handshake reply, then whatever it
// sends after the end marker). The handshake passes only on a reply of the
// ciphertext's exact length; the transfer counts as done only when the
// receiver then closes without a byte; and whatever the reply, what the
// sender put on the wire is a well-formed handshake and file stream. One key
// pair serves every input: making one per input would cost more than the rest.
#include <cstdint>
#include <sstream>
#include <string>

#include "file_stream.h"
#include "fuzz_check.h"
#include "handshake.h"
#include "transfer_fuzz_peer.h"

using namespace tovrel;

namespace {
constexpr std::uint32_t kKyberCiphertext = 1568;

const KemSession& key_pair() {
    static const KemSession session = [] {
        KemSession s;
        ShareCard card;
        FUZZ_CHECK(net_startup() && kem_generate_keypair(s, card));
        return s;
    }();
    return session;
}

bool upper_hex(const std::string& s) {
    if (s.size() != 6) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}
}  // namespace

// Input: one byte for the file's length and chunk size, then the receiver's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxPeerBytes) return 0;
    silence_stdout();
    const std::size_t fileLength = data[0] & 0x1F;
    const std::uint64_t chunk = (data[0] >> 5) + 1u;
    const std::string content = std::string("The quick brown fox jumps over").substr(0, fileLength);
    WireReader reply{data + 1, size - 1};
    std::uint32_t n = 0;
    const bool wantHandshake = reply.u32(n) && n == kKyberCiphertext && reply.take(n);

    FedSocket socket(data + 1, size - 1);
    KemSession session = key_pair();
    std::string fingerprint;
    const bool handshakeOk = handshake_as_sender(socket.near, session, fingerprint);
    FUZZ_CHECK(handshakeOk == wantHandshake);
    bool sentOk = false;
    if (handshakeOk) {
        FUZZ_CHECK(upper_hex(fingerprint));
        std::istringstream in(content);
        sentOk = send_stream(socket.near, "fox.txt", content.size(), in, chunk);
        // After the end marker only an orderly close, with no byte before it, confirms the save.
        FUZZ_CHECK(sentOk == (reply.left == 0));
    }

    // The sender's side of the wire: magic, its public key, then the whole stream.
    const std::string wire = socket.sent();
    WireReader w{reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()};
    std::uint32_t magic = 0;
    std::uint32_t keyLength = 0;
    std::string key;
    FUZZ_CHECK(w.u32(magic) && magic == kHandshakeMagic && w.u32(keyLength) && w.take(keyLength, &key));
    FUZZ_CHECK(key == std::string(key_pair().public_key.begin(), key_pair().public_key.end()));
    if (!handshakeOk) {
        FUZZ_CHECK(w.left == 0);
        return 0;
    }
    std::uint32_t nameLength = 0;
    std::string name;
    std::uint64_t announced = 0;
    FUZZ_CHECK(w.u32(nameLength) && w.take(nameLength, &name) && name == "fox.txt");
    FUZZ_CHECK(w.u64(announced) && announced == content.size());
    std::string received;
    for (;;) {
        std::uint32_t length = 0;
        FUZZ_CHECK(w.u32(length));
        if (length == 0) break;
        FUZZ_CHECK(length <= chunk);
        std::string part;
        FUZZ_CHECK(w.take(length, &part));
        received += part;
    }
    FUZZ_CHECK(received == content && w.left == 0);
    return 0;
}
