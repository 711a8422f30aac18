#include "random.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/random.h>

namespace {
std::atomic<RandomSource> installed_source{nullptr};
// Bumped whenever the source changes, so that no thread hands out bytes
// drawn from the previous one.
std::atomic<unsigned> source_generation{0};

bool kernel_random(unsigned char* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t n = getrandom(buffer, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        buffer += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool fill_from_source(unsigned char* buffer, std::size_t size) {
    const RandomSource source = installed_source.load();
    return source != nullptr ? source(buffer, size) : kernel_random(buffer, size);
}

// The generator asks for 4 bytes per draw, tens of millions of times for its
// largest request; one system call per draw would dominate the run, so each
// thread draws a block from the kernel and hands it out piece by piece.
struct Batch {
    static constexpr std::size_t kSize = 16384;
    unsigned char bytes[kSize];
    std::size_t used = kSize;
    unsigned generation = 0;
};

bool take_random(unsigned char* out, std::size_t size) {
    thread_local Batch batch;
    const unsigned generation = source_generation.load();
    if (batch.generation != generation) {
        std::memset(batch.bytes, 0, Batch::kSize);
        batch.used = Batch::kSize;
        batch.generation = generation;
    }
    if (size >= Batch::kSize) return fill_from_source(out, size);
    while (size > 0) {
        if (batch.used == Batch::kSize) {
            if (!fill_from_source(batch.bytes, Batch::kSize)) return false;
            batch.used = 0;
        }
        std::size_t n = Batch::kSize - batch.used;
        if (n > size) n = size;
        std::memcpy(out, batch.bytes + batch.used, n);
        // Bytes once handed out do not stay behind in the batch.
        std::memset(batch.bytes + batch.used, 0, n);
        batch.used += n;
        out += n;
        size -= n;
    }
    return true;
}
}  // namespace

NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG size, ULONG flags) {
    if (algorithm == nullptr && (flags & BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0) return STATUS_INVALID_HANDLE;
    if (size == 0) return STATUS_SUCCESS;
    if (buffer == nullptr) return STATUS_INVALID_PARAMETER;
    return take_random(buffer, size) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

void set_random_source(RandomSource source) {
    installed_source.store(source);
    source_generation.fetch_add(1);
}
