// Makes the chained 64-bit FNV-1a collisions of fnv1a64_collisions.txt: each
// line is two different 16-letter blocks that leave the same state when folded
// in from the state the lines above it leave (the first from the offset
// basis), so any choice of one block per line gives one hash: K lines, 2^K
// different contents of one size. Each pair is a birthday collision, found by
// parallel trails that end at distinguished points.
//
//   g++ -std=c++20 -O3 -pthread make_fnv1a_collisions.cpp -o make_collisions
//   ./make_collisions 12 > fnv1a64_collisions.txt
//
// Not run by the build or by CI: the file it wrote is kept.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {
constexpr std::uint64_t kBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kPrime = 0x100000001b3ULL;
constexpr int kBlock = 16;
constexpr int kDistinguishedBits = 22;

// A point is a 64-bit value; its block spells it as 16 letters a..p.
std::string block_of(std::uint64_t x) {
    std::string block(kBlock, 'a');
    for (int i = 0; i < kBlock; ++i) block[i] = static_cast<char>('a' + ((x >> (4 * i)) & 15));
    return block;
}

std::uint64_t step(std::uint64_t state, std::uint64_t x) {
    for (int i = 0; i < kBlock; ++i) state = (state ^ static_cast<std::uint64_t>('a' + ((x >> (4 * i)) & 15))) * kPrime;
    return state;
}

bool distinguished(std::uint64_t x) { return (x & ((1ULL << kDistinguishedBits) - 1)) == 0; }

struct Trail {
    std::uint64_t start;
    std::uint64_t length;
};

// Two trails that reach one distinguished point meet somewhere: walk both
// to the meeting and return the two points just before it.
bool meeting(std::uint64_t from, Trail a, Trail b, std::pair<std::uint64_t, std::uint64_t>& pair) {
    std::uint64_t x = a.start;
    std::uint64_t y = b.start;
    for (; a.length > b.length; --a.length) x = step(from, x);
    for (; b.length > a.length; --b.length) y = step(from, y);
    if (x == y) return false;  // one trail started on the other
    for (;;) {
        const std::uint64_t nx = step(from, x);
        const std::uint64_t ny = step(from, y);
        if (nx == ny) {
            pair = {x, y};
            return true;
        }
        x = nx;
        y = ny;
    }
}

std::pair<std::uint64_t, std::uint64_t> collide(std::uint64_t from) {
    std::mutex lock;
    std::unordered_map<std::uint64_t, Trail> ends;
    std::atomic<bool> found{false};
    std::pair<std::uint64_t, std::uint64_t> result;
    auto work = [&](unsigned seed) {
        std::mt19937_64 rng(seed * 0x9e3779b97f4a7c15ULL ^ from);
        constexpr int kLanes = 4;  // independent trails side by side hide the multiply's latency
        Trail trail[kLanes];
        std::uint64_t x[kLanes];
        for (int l = 0; l < kLanes; ++l) x[l] = trail[l].start = rng(), trail[l].length = 0;
        while (!found.load(std::memory_order_relaxed)) {
            for (int l = 0; l < kLanes; ++l) {
                x[l] = step(from, x[l]);
                ++trail[l].length;
                if (!distinguished(x[l]) && trail[l].length < (40ULL << kDistinguishedBits)) continue;
                if (distinguished(x[l])) {
                    std::lock_guard<std::mutex> hold(lock);
                    const auto [it, fresh] = ends.try_emplace(x[l], trail[l]);
                    std::pair<std::uint64_t, std::uint64_t> pair;
                    if (!fresh && !found && meeting(from, it->second, trail[l], pair)) {
                        result = pair;
                        found = true;
                    }
                }
                x[l] = trail[l].start = rng();
                trail[l].length = 0;
            }
        }
    };
    std::vector<std::thread> threads;
    const unsigned count = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned t = 0; t < count; ++t) threads.emplace_back(work, t + 1);
    for (std::thread& t : threads) t.join();
    return result;
}
}  // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 12;
    std::printf(
        "# Chained 64-bit FNV-1a collisions, made by make_fnv1a_collisions.cpp: one block\n"
        "# from each line, in order, gives one hash whatever the choices.\n");
    std::uint64_t state = kBasis;
    for (int k = 0; k < lines; ++k) {
        const auto [a, b] = collide(state);
        if (step(state, a) != step(state, b) || a == b) return 1;
        std::printf("%s %s\n", block_of(a).c_str(), block_of(b).c_str());
        std::fflush(stdout);
        state = step(state, a);
    }
    return 0;
}
