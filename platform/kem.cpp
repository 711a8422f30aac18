#include "kem.h"

#include <botan/kyber.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

namespace {
constexpr std::size_t kPublicKeyBytes = 1568;
constexpr std::size_t kSecretKeyBytes = 3168;
constexpr std::size_t kCiphertextBytes = 1568;
constexpr std::size_t kSharedSecretBytes = 32;

// Round-3 Kyber: the same outputs as the reference code liboqs wraps.
const Botan::KyberMode& kyber1024() {
    static const Botan::KyberMode mode(Botan::KyberMode::Kyber1024_R3);
    return mode;
}

bool is_kyber1024(const OQS_KEM* kem) {
    return kem != nullptr && kem->length_public_key == kPublicKeyBytes && kem->length_secret_key == kSecretKeyBytes;
}

template <typename Bytes>
bool copy_exact(const Bytes& from, std::uint8_t* to, std::size_t n) {
    if (from.size() != n) return false;
    std::copy(from.begin(), from.end(), to);
    return true;
}
}  // namespace

OQS_KEM* OQS_KEM_new(const char* method_name) {
    if (method_name == nullptr || std::string_view(method_name) != "Kyber1024") return nullptr;
    return new OQS_KEM{"Kyber1024", kPublicKeyBytes, kSecretKeyBytes, kCiphertextBytes, kSharedSecretBytes};
}

void OQS_KEM_free(OQS_KEM* kem) { delete kem; }

OQS_STATUS OQS_KEM_keypair(const OQS_KEM* kem, std::uint8_t* public_key, std::uint8_t* secret_key) {
    if (!is_kyber1024(kem) || public_key == nullptr || secret_key == nullptr) return OQS_ERROR;
    try {
        Botan::Kyber_PrivateKey key(Botan::system_rng(), kyber1024());
        if (!copy_exact(key.raw_public_key_bits(), public_key, kPublicKeyBytes)) return OQS_ERROR;
        if (!copy_exact(key.raw_private_key_bits(), secret_key, kSecretKeyBytes)) return OQS_ERROR;
        return OQS_SUCCESS;
    } catch (...) {
        return OQS_ERROR;
    }
}

OQS_STATUS OQS_KEM_encaps(const OQS_KEM* kem, std::uint8_t* ciphertext, std::uint8_t* shared_secret,
                          const std::uint8_t* public_key) {
    if (!is_kyber1024(kem) || ciphertext == nullptr || shared_secret == nullptr || public_key == nullptr)
        return OQS_ERROR;
    try {
        Botan::Kyber_PublicKey key(std::span<const std::uint8_t>(public_key, kPublicKeyBytes), kyber1024());
        Botan::PK_KEM_Encryptor encryptor(key, "Raw");
        auto result = encryptor.encrypt(Botan::system_rng(), kSharedSecretBytes);
        if (!copy_exact(result.encapsulated_shared_key(), ciphertext, kCiphertextBytes)) return OQS_ERROR;
        if (!copy_exact(result.shared_key(), shared_secret, kSharedSecretBytes)) return OQS_ERROR;
        return OQS_SUCCESS;
    } catch (...) {
        return OQS_ERROR;
    }
}

OQS_STATUS OQS_KEM_decaps(const OQS_KEM* kem, std::uint8_t* shared_secret, const std::uint8_t* ciphertext,
                          const std::uint8_t* secret_key) {
    if (!is_kyber1024(kem) || shared_secret == nullptr || ciphertext == nullptr || secret_key == nullptr)
        return OQS_ERROR;
    try {
        Botan::Kyber_PrivateKey key(std::span<const std::uint8_t>(secret_key, kSecretKeyBytes), kyber1024());
        Botan::PK_KEM_Decryptor decryptor(key, Botan::system_rng(), "Raw");
        auto secret = decryptor.decrypt(ciphertext, kCiphertextBytes, kSharedSecretBytes);
        if (!copy_exact(secret, shared_secret, kSharedSecretBytes)) return OQS_ERROR;
        return OQS_SUCCESS;
    } catch (...) {
        return OQS_ERROR;
    }
}
