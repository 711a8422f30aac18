// The Windows random-number call the password generator makes, answered by
// the kernel's cryptographically secure generator.
#pragma once

#include <cstddef>
#include <cstdint>

using NTSTATUS = std::int32_t;
using BCRYPT_ALG_HANDLE = void*;
using PUCHAR = unsigned char*;
using ULONG = std::uint32_t;

inline constexpr ULONG BCRYPT_USE_SYSTEM_PREFERRED_RNG = 0x00000002;
inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001u);
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);

// Fills buffer with size random bytes. Without an algorithm handle only the
// system-preferred generator is available. Failure is a negative status.
NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG size, ULONG flags);

// Where the bytes come from: the kernel (getrandom) unless a test installs
// its own source (null restores the kernel). A source returns false on failure.
using RandomSource = bool (*)(unsigned char* buffer, std::size_t size);
void set_random_source(RandomSource source);
