// The receiver reading a hostile sender: the fuzzer's bytes arrive through a
// socket pair, either as the whole conversation (handshake, then the file
// stream) or as the file stream alone, and the file is received into a
// scratch folder that already holds a file, a folder and a link pointing out
// of it. After each input: nothing outside the folder changed, no temporary
// file is left, and a file exists under a new final name only when the input
// was a complete valid stream whose data length equals the announced size,
// with exactly that data in it.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "file_stream.h"
#include "fuzz_check.h"
#include "handshake.h"
#include "transfer_fuzz_peer.h"

using namespace tovrel;

namespace fs = std::filesystem;

namespace {
constexpr std::uint32_t kKyberPublicKey = 1568;

// A Kyber1024 public key holds 1024 twelve-bit coefficients, each below the
// modulus 3329, and 32 bytes of seed; a key with any other coefficient is refused.
bool kyber_key_valid(const std::string& key) {
    for (std::size_t i = 0; i + 3 <= 1536; i += 3) {
        const auto b0 = static_cast<unsigned char>(key[i]);
        const auto b1 = static_cast<unsigned char>(key[i + 1]);
        const auto b2 = static_cast<unsigned char>(key[i + 2]);
        if ((b0 | (b1 & 0x0Fu) << 8) >= 3329 || (b1 >> 4 | b2 << 4) >= 3329) return false;
    }
    return true;
}

// Never destroyed: the exit handler that removes the folder runs after static destructors.
const fs::path& scratch() {
    static const fs::path& root = *[] {
        std::string pattern = (fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string()) +
                              "/transfer_receiver_fuzz.XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(scratch(), ec);
        });
        return new fs::path(pattern);
    }();
    return root;
}
fs::path out_dir() { return scratch() / "out"; }

void write_file(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}
std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The folder as each input finds it.
void reset_scratch() {
    std::error_code ec;
    fs::remove_all(out_dir(), ec);
    fs::create_directory(out_dir());
    write_file(scratch() / "victim", "outside");
    write_file(out_dir() / "existing", "old");
    fs::create_directory(out_dir() / "sub");
    fs::create_symlink("../victim", out_dir() / "link");
}

// Entry name -> "f:" + content for a file, "d" for a folder, "l:" + target for a link.
std::map<std::string, std::string> listing(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink())
            entries[name] = "l:" + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[name] = "d";
        else
            entries[name] = "f:" + read_file(entry.path());
    }
    return entries;
}

// The stream written out plainly: the name to save under and its data, or
// nothing when the stream is cut, refused or ends with a length that differs
// from the announced size.
std::optional<std::pair<std::string, std::string>> reference_stream(WireReader in) {
    std::uint32_t nameLength = 0;
    std::string announced;
    std::uint64_t size = 0;
    if (!in.u32(nameLength) || nameLength == 0 || nameLength > kMaxNameLength) return std::nullopt;
    if (!in.take(nameLength, &announced) || !in.u64(size)) return std::nullopt;
    const std::optional<std::string> name = received_file_name(announced);
    if (!name || *name == "sub") return std::nullopt;
    std::string data;
    for (;;) {
        std::uint32_t length = 0;
        if (!in.u32(length)) return std::nullopt;
        if (length == 0) break;
        if (length > kMaxChunkLength || length > size - data.size()) return std::nullopt;
        std::string chunk;
        if (!in.take(length, &chunk)) return std::nullopt;
        data += chunk;
    }
    if (data.size() != size) return std::nullopt;
    return std::make_pair(*name, data);
}
}  // namespace

// Input: one byte choosing the conversation (odd: handshake first) and the sender's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxPeerBytes) return 0;
    silence_stdout();
    net_startup();
    const bool withHandshake = (data[0] & 1) != 0;
    WireReader wire{data + 1, size - 1};
    reset_scratch();
    const auto before = listing(out_dir());

    FedSocket socket(data + 1, size - 1);
    bool handshakeOk = true;
    if (withHandshake) {
        std::uint32_t magic = 0;
        std::uint32_t keyLength = 0;
        std::string key;
        const bool wantHandshake = wire.u32(magic) && magic == kHandshakeMagic && wire.u32(keyLength) &&
                                   keyLength == kKyberPublicKey && wire.take(keyLength, &key) && kyber_key_valid(key);
        KemSession session;
        std::string fingerprint;
        handshakeOk = handshake_as_receiver(socket.near, session, fingerprint);
        FUZZ_CHECK(handshakeOk == wantHandshake);
    }
    std::optional<std::pair<std::string, std::string>> want;
    bool received = false;
    if (handshakeOk) {
        want = reference_stream(wire);
        received = receive_file(socket.near, out_dir().string());
        FUZZ_CHECK(received == want.has_value());
    }
    if (withHandshake && handshakeOk) {
        // The receiver's reply: the ciphertext, length first.
        const std::string reply = socket.sent();
        WireReader r{reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()};
        std::uint32_t n = 0;
        FUZZ_CHECK(r.u32(n) && n == 1568 && r.take(n) && r.left == 0);
    }

    auto expected = before;
    if (received) {
        expected[want->first] = "f:" + want->second;
        FUZZ_CHECK(want->first != "link" || !fs::is_symlink(out_dir() / "link"));
    }
    FUZZ_CHECK(listing(out_dir()) == expected);
    const auto outside = listing(scratch());
    FUZZ_CHECK(outside.size() == 2 && outside.at("victim") == "f:outside" && outside.at("out") == "d");
    return 0;
}
