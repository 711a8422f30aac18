#include "generator.h"

#include <cctype>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "random.h"

namespace {
const char kLower[] = "abcdefghijklmnopqrstuvwxyz";
const char kUpper[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const char kDigits[] = "0123456789";
// Windows-1252 letters: E0-EF, F1-F6, F8-FD, FF, C0-CF, D1-D6, D8-DD.
const char kAccented[] =
    "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF"
    "\xF1\xF2\xF3\xF4\xF5\xF6\xF8\xF9\xFA\xFB\xFC\xFD\xFF"
    "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF"
    "\xD1\xD2\xD3\xD4\xD5\xD6\xD8\xD9\xDA\xDB\xDC\xDD";
const char kSymbols[] = "!@#$%^&*()-_=+[]{};:,.<>/?~`|\\\"'";

constexpr std::int64_t kMaxLength = 4096;
constexpr std::int64_t kMaxQuantity = 10000;
constexpr std::int64_t kMaxCharacters = 20000000;
constexpr std::uint64_t kMaxDraw = 4294967295u;

void append_class(std::vector<std::string>& out, const char* chars) {
    for (const char* c = chars; *c != '\0'; ++c) out.emplace_back(1, *c);
}

std::string join(const std::vector<std::string>& elements) {
    std::string out;
    for (const std::string& e : elements) out += e;
    return out;
}

// A draw below n as random_below makes it, with the divisions done once per
// n: the rejection limit, and a reciprocal that gives r mod n exactly for
// every 32-bit r (Lemire, "Faster remainder by direct computation").
struct Bound {
    explicit Bound(std::uint32_t below)
        : n(below),
          limit(below < 2 ? 0 : static_cast<std::uint32_t>(kMaxDraw - kMaxDraw % below)),
          reciprocal(below < 2 ? 0 : UINT64_MAX / below + 1) {}
    std::uint32_t n;
    std::uint32_t limit;
    std::uint64_t reciprocal;

    std::uint32_t remainder(std::uint32_t r) const {
        const std::uint64_t low = reciprocal * r;
        // High 64 bits of the 96-bit product low * n.
        const std::uint64_t part = ((low & 0xFFFFFFFFu) * n) >> 32;
        return static_cast<std::uint32_t>(((low >> 32) * n + part) >> 32);
    }
};

// The random source read in large blocks: the same 32-bit values in the same
// order as one 4-byte read per draw, without a call per draw. For a large
// request one reader thread fills the next blocks while this one draws, so
// the kernel's time and ours overlap; the source is still called by one
// thread at a time, in order. Every byte is wiped when the call ends.
class RandomBlocks {
public:
    explicit RandomBlocks(std::uint64_t expected_draws) : blocks_(new Block[kBlocks]) {
        if (expected_draws < kReaderThreshold) return;
        try {
            reader_ = std::thread([this] { read_ahead(); });
        } catch (const std::system_error&) {
            // Without a thread the blocks are filled on demand.
        }
    }
    RandomBlocks(const RandomBlocks&) = delete;
    RandomBlocks& operator=(const RandomBlocks&) = delete;
    ~RandomBlocks() {
        if (reader_.joinable()) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                stop_ = true;
            }
            changed_.notify_all();
            reader_.join();
        }
        for (std::size_t i = 0; i < kBlocks; ++i) wipe(blocks_[i].bytes, sizeof blocks_[i].bytes);
    }

    std::uint32_t below(const Bound& bound) {
        if (bound.n < 2) return 0;
        for (;;) {
            const std::uint32_t r = next();
            if (r < bound.limit) return bound.remainder(r);
        }
    }

private:
    static constexpr std::size_t kValues = 16384;
    static constexpr std::size_t kBlocks = 8;
    static constexpr std::uint64_t kReaderThreshold = 1000000;

    struct Block {
        unsigned char bytes[4 * kValues];
        bool filled = false;
        bool failed = false;
    };

    static void wipe(void* bytes, std::size_t size) {
        auto* p = static_cast<volatile unsigned char*>(bytes);
        for (std::size_t i = 0; i < size; ++i) p[i] = 0;
    }

    static bool fill(Block& block) {
        return BCryptGenRandom(nullptr, block.bytes, sizeof block.bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
    }

    // Fills the ring in order, each block once the drawing side has let it go.
    void read_ahead() {
        for (std::size_t slot = 0;; slot = (slot + 1) % kBlocks) {
            Block& block = blocks_[slot];
            {
                std::unique_lock<std::mutex> guard(lock_);
                changed_.wait(guard, [&] { return stop_ || !block.filled; });
                if (stop_) return;
            }
            const bool ok = fill(block);
            {
                std::lock_guard<std::mutex> guard(lock_);
                block.filled = true;
                block.failed = !ok;
            }
            changed_.notify_all();
            if (!ok) return;
        }
    }

    // Releases the block just used and waits for the next one.
    void advance() {
        if (!reader_.joinable()) {
            current_ = &blocks_[0];
            if (!fill(*current_)) throw std::runtime_error("BCryptGenRandom failed");
            used_ = 0;
            return;
        }
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (current_ != nullptr) {
                current_->filled = false;
                slot_ = (slot_ + 1) % kBlocks;
            }
            changed_.notify_all();
            Block& block = blocks_[slot_];
            changed_.wait(guard, [&] { return block.filled; });
            if (block.failed) throw std::runtime_error("BCryptGenRandom failed");
            current_ = &block;
        }
        used_ = 0;
    }

    std::uint32_t next() {
        if (used_ == kValues) advance();
        const unsigned char* b = current_->bytes + 4 * used_++;
        return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
               static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    }

    std::unique_ptr<Block[]> blocks_;
    Block* current_ = nullptr;
    std::size_t slot_ = 0;
    std::size_t used_ = kValues;
    std::mutex lock_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::thread reader_;
};

std::vector<std::string> class_elements(const char* chars) {
    std::vector<std::string> out;
    append_class(out, chars);
    return out;
}
}  // namespace

std::uint32_t random_below(std::uint32_t n) {
    if (n < 2) return 0;
    const std::uint64_t max = 4294967295u;
    const std::uint64_t limit = max - (max % n);
    for (;;) {
        unsigned char buffer[4] = {0, 0, 0, 0};
        if (BCryptGenRandom(nullptr, buffer, sizeof buffer, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
            throw std::runtime_error("BCryptGenRandom failed");
        const std::uint32_t r = static_cast<std::uint32_t>(buffer[0]) | static_cast<std::uint32_t>(buffer[1]) << 8 |
                                static_cast<std::uint32_t>(buffer[2]) << 16 |
                                static_cast<std::uint32_t>(buffer[3]) << 24;
        if (r < limit) return r % n;
    }
}

std::vector<std::string> build_charset(bool upper, bool lower, bool digits, bool accented, bool symbols) {
    std::vector<std::string> pool;
    if (lower) append_class(pool, kLower);
    if (upper) append_class(pool, kUpper);
    if (digits) append_class(pool, kDigits);
    if (accented) append_class(pool, kAccented);
    if (symbols) append_class(pool, kSymbols);
    return pool;
}

bool is_excluded(const std::string& element, const std::string& exclude) {
    for (char c : element)
        if (exclude.find(c) != std::string::npos) return true;
    return false;
}

void remove_excluded(std::vector<std::string>& elements, const std::string& exclude) {
    if (exclude.empty()) return;
    std::erase_if(elements, [&](const std::string& e) { return is_excluded(e, exclude); });
}

std::vector<std::string> generate_passwords(const GenOptions& o) {
    if (o.length < 1) throw std::runtime_error("Length must be > 0");
    if (o.quantity < 1) throw std::runtime_error("Quantity must be > 0");
    if (o.length > kMaxLength) throw std::runtime_error("Length too large (max 4096)");
    if (o.quantity > kMaxQuantity) throw std::runtime_error("Quantity too large (max 10000)");
    if (static_cast<std::int64_t>(o.length) * static_cast<std::int64_t>(o.quantity) > kMaxCharacters)
        throw std::runtime_error("Requested output is too large (length*quantity limit exceeded)");

    std::vector<std::string> pool = build_charset(o.upper, o.lower, o.digits, o.accented, o.symbols);
    if (!o.exclude.empty()) remove_excluded(pool, o.exclude);
    if (pool.empty()) throw std::runtime_error("Empty charset (after exclude)");

    // Upper before lower here, unlike the pool.
    std::vector<std::vector<std::string>> required;
    if (o.guarantee_each_class) {
        const std::pair<bool, const char*> classes[] = {
            {o.upper, kUpper}, {o.lower, kLower}, {o.digits, kDigits}, {o.accented, kAccented}, {o.symbols, kSymbols}};
        for (const auto& [on, chars] : classes) {
            if (!on) continue;
            std::vector<std::string> members = class_elements(chars);
            remove_excluded(members, o.exclude);
            if (members.empty()) throw std::runtime_error("A selected class became empty after exclude");
            required.push_back(std::move(members));
        }
    }
    const auto k = static_cast<std::int32_t>(required.size());
    if (o.guarantee_each_class && o.length < k)
        throw std::runtime_error("Requested length " + std::to_string(o.length) +
                                 " is smaller than number of required classes (" + std::to_string(k) + ")");

    // Every element is one byte, so the draws pick bytes directly.
    const std::string pool_bytes = join(pool);
    std::vector<std::pair<std::string, Bound>> required_bytes;
    for (const auto& members : required)
        required_bytes.emplace_back(join(members), Bound(static_cast<std::uint32_t>(members.size())));
    const Bound pool_bound(static_cast<std::uint32_t>(pool_bytes.size()));
    const auto length = static_cast<std::size_t>(o.length);
    // shuffle_bounds[i] draws below i + 1, for the swap partner of index i.
    std::vector<Bound> shuffle_bounds;
    shuffle_bounds.reserve(length);
    for (std::size_t i = 0; i < length; ++i) shuffle_bounds.emplace_back(static_cast<std::uint32_t>(i + 1));

    // One draw per character and one per shuffle step, besides rejections.
    RandomBlocks random(static_cast<std::uint64_t>(o.quantity) * (2 * length));
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(o.quantity));
    for (std::int32_t p = 0; p < o.quantity; ++p) {
        std::string password;
        password.reserve(4 * length);
        password.resize(length);
        std::size_t filled = 0;
        for (const auto& [members, bound] : required_bytes) password[filled++] = members[random.below(bound)];
        for (; filled < length; ++filled) password[filled] = pool_bytes[random.below(pool_bound)];
        for (std::size_t i = length - 1; i >= 1; --i) {
            const std::size_t j = random.below(shuffle_bounds[i]);
            if (j != i) std::swap(password[i], password[j]);
        }
        result.push_back(std::move(password));
    }
    return result;
}

std::string corvane::trim(const std::string& text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && space(text[begin])) ++begin;
    while (end > begin && space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}
