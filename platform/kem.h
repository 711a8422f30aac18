// Key encapsulation with the calls of liboqs's KEM interface, so the
// handshake reads as it would against liboqs. Only "Kyber1024" (round 3)
// exists here; its byte encodings are the reference ones.
#pragma once

#include <cstddef>
#include <cstdint>

typedef enum { OQS_ERROR = -1, OQS_SUCCESS = 0 } OQS_STATUS;

struct OQS_KEM {
    const char* method_name;
    std::size_t length_public_key;
    std::size_t length_secret_key;
    std::size_t length_ciphertext;
    std::size_t length_shared_secret;
};

// Null for any algorithm name other than "Kyber1024".
OQS_KEM* OQS_KEM_new(const char* method_name);
void OQS_KEM_free(OQS_KEM* kem);

// Each buffer holds exactly the object's length for it.
OQS_STATUS OQS_KEM_keypair(const OQS_KEM* kem, std::uint8_t* public_key, std::uint8_t* secret_key);
OQS_STATUS OQS_KEM_encaps(const OQS_KEM* kem, std::uint8_t* ciphertext, std::uint8_t* shared_secret,
                          const std::uint8_t* public_key);
OQS_STATUS OQS_KEM_decaps(const OQS_KEM* kem, std::uint8_t* shared_secret, const std::uint8_t* ciphertext,
                          const std::uint8_t* secret_key);
