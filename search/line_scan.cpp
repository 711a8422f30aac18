#include "line_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "ascii.h"
#include "ending_signals.h"
#include "fd.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define LUMENO_X86 1
#endif

ssize_t (*line_scan_read)(int fd, void* data, std::size_t size, bool* failed) = platform::read_full;

namespace {

// Large enough that a read costs little beside the search, small enough to stay in the cache.
constexpr std::size_t kBlockBytes = std::size_t{256} << 10;

inline char fold(char c) { return platform::ascii_lower(c); }
inline bool is_lower_letter(char c) { return c >= 'a' && c <= 'z'; }

// How common a folded byte is in text, source code and binary data; the
// needle's rarest bytes are the ones looked for.
int commonness(char c) {
    static const char kCommon[] =
        " etaoinsrlhdcu\n\tmfpgwybv.,_-k=/();:\"'0x12*j3q4z5>6<7{}89[]#&!|+\\$?%@~`^";
    const auto u = static_cast<unsigned char>(c);
    if (u == 0 || u == 0xFF) return 200;  // padding in binary files
    if (const char* at = std::strchr(kCommon, c); at && c != 0)
        return 100 + static_cast<int>(sizeof kCommon) - static_cast<int>(at - kCommon);
    return u >= 0x80 ? 20 : 10;
}

bool same_folded(const char* data, const std::string& folded) {
    for (std::size_t i = 0; i < folded.size(); ++i)
        if (fold(data[i]) != folded[i]) return false;
    return true;
}

#if LUMENO_X86
bool has_avx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

// Start positions k from k on whose two rare bytes fit, checked 32 at a time up to
// last: true with k at a hit, false with k at the first position left unchecked.
__attribute__((target("avx2"))) bool find_avx2(const char* data, std::size_t& k, std::size_t last,
                                               const FoldedNeedle& n) {
    const char c1 = n.folded[n.rare1];
    const char c2 = n.folded[n.rare2];
    const __m256i want1 = _mm256_set1_epi8(c1);
    const __m256i want2 = _mm256_set1_epi8(c2);
    const __m256i case1 = _mm256_set1_epi8(static_cast<char>(is_lower_letter(c1) ? 0x20 : 0));
    const __m256i case2 = _mm256_set1_epi8(static_cast<char>(is_lower_letter(c2) ? 0x20 : 0));
    for (; k <= last && last - k >= 31; k += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + k + n.rare1));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + k + n.rare2));
        const __m256i hit = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a, case1), want1),
                                             _mm256_cmpeq_epi8(_mm256_or_si256(b, case2), want2));
        auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit));
        while (mask != 0) {
            const std::size_t at = k + static_cast<std::size_t>(__builtin_ctz(mask));
            if (same_folded(data + at, n.folded)) {
                k = at;
                return true;
            }
            mask &= mask - 1;
        }
    }
    return false;
}

bool find_sse2(const char* data, std::size_t& k, std::size_t last, const FoldedNeedle& n) {
    const char c1 = n.folded[n.rare1];
    const char c2 = n.folded[n.rare2];
    const __m128i want1 = _mm_set1_epi8(c1);
    const __m128i want2 = _mm_set1_epi8(c2);
    const __m128i case1 = _mm_set1_epi8(static_cast<char>(is_lower_letter(c1) ? 0x20 : 0));
    const __m128i case2 = _mm_set1_epi8(static_cast<char>(is_lower_letter(c2) ? 0x20 : 0));
    for (; k <= last && last - k >= 15; k += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k + n.rare1));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k + n.rare2));
        const __m128i hit =
            _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, case1), want1), _mm_cmpeq_epi8(_mm_or_si128(b, case2), want2));
        auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(hit));
        while (mask != 0) {
            const std::size_t at = k + static_cast<std::size_t>(__builtin_ctz(mask));
            if (same_folded(data + at, n.folded)) {
                k = at;
                return true;
            }
            mask &= mask - 1;
        }
    }
    return false;
}

// Line feeds in [p, p + n): byte counters summed every 255 rounds.
__attribute__((target("avx2"))) std::uint64_t count_feeds_avx2(const char* p, std::size_t n) {
    const __m256i feed = _mm256_set1_epi8('\n');
    std::uint64_t total = 0;
    std::size_t i = 0;
    while (n - i >= 32) {
        __m256i counts = _mm256_setzero_si256();
        const std::size_t rounds = std::min<std::size_t>((n - i) / 32, 255);
        for (std::size_t r = 0; r < rounds; ++r, i += 32) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            counts = _mm256_sub_epi8(counts, _mm256_cmpeq_epi8(v, feed));
        }
        const __m256i sums = _mm256_sad_epu8(counts, _mm256_setzero_si256());
        total += static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 0)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 1)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 2)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 3));
    }
    for (; i < n; ++i) total += p[i] == '\n';
    return total;
}

std::uint64_t count_feeds_sse2(const char* p, std::size_t n) {
    const __m128i feed = _mm_set1_epi8('\n');
    std::uint64_t total = 0;
    std::size_t i = 0;
    while (n - i >= 16) {
        __m128i counts = _mm_setzero_si128();
        const std::size_t rounds = std::min<std::size_t>((n - i) / 16, 255);
        for (std::size_t r = 0; r < rounds; ++r, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, feed));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        total += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
    for (; i < n; ++i) total += p[i] == '\n';
    return total;
}
#endif

std::uint64_t count_feeds(const char* p, std::size_t n) {
#if LUMENO_X86
    return has_avx2() ? count_feeds_avx2(p, n) : count_feeds_sse2(p, n);
#else
    return static_cast<std::uint64_t>(std::count(p, p + n, '\n'));
#endif
}

// First position in [p, p + n) holding the folded byte in either case.
std::size_t find_folded_byte(const char* p, std::size_t n, char lower) {
    const char upper = is_lower_letter(lower) ? static_cast<char>(lower - 'a' + 'A') : lower;
    const auto* atLower = static_cast<const char*>(std::memchr(p, lower, n));
    if (upper == lower) return atLower ? static_cast<std::size_t>(atLower - p) : std::string::npos;
    const std::size_t limit = atLower ? static_cast<std::size_t>(atLower - p) : n;
    const auto* atUpper = static_cast<const char*>(std::memchr(p, upper, limit));
    const char* at = atUpper ? atUpper : atLower;
    return at ? static_cast<std::size_t>(at - p) : std::string::npos;
}

const char* last_feed(const char* p, std::size_t n) { return static_cast<const char*>(memrchr(p, '\n', n)); }
const char* next_feed(const char* p, std::size_t n) { return static_cast<const char*>(std::memchr(p, '\n', n)); }

std::vector<char>& block_buffer(std::size_t size) {
    thread_local std::vector<char> buffer;
    if (buffer.size() < size) buffer.resize(size);
    return buffer;
}

// The file read front to back, block by block, each byte once: what is kept
// of earlier blocks is kept in memory, never read again.
class Blocks {
public:
    // keepMax: the most the caller keeps of earlier blocks.
    Blocks(int fd, std::uint64_t sizeWhenOpened, std::size_t keepMax)
        : capacity_(keepMax + kBlockBytes), fd_(fd), expected_(sizeWhenOpened) {
        buf = block_buffer(capacity_).data();
    }

    // Drops buf[0, from), then reads on into the room after what is left: the
    // number of bytes added, 0 at the end of the file or after a failure.
    std::size_t next(std::size_t from) {
        std::memmove(buf, buf + from, size - from);
        base += from;
        size -= from;
        if (ended_ || size >= capacity_) return 0;
        // An ending program stops reading at the next block.
        if (ending_signal() != 0) {
            ended_ = true;
            return 0;
        }
        bool failed = false;
        std::size_t room = capacity_ - size;
        // A file is read up to the size it had when opened and no further,
        // which spares the read that would only find its end; a file that
        // reports no size is read to its end.
        const std::uint64_t read = base + size;
        if (expected_ > 0 && read < expected_)
            room = static_cast<std::size_t>(std::min<std::uint64_t>(room, expected_ - read));
        const ssize_t n = line_scan_read(fd_, buf + size, room, &failed);
        const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
        size += got;
        if (n < 0 || failed) {
            readError = true;
            ended_ = true;
        } else if (got < room || (expected_ > 0 && base + size >= expected_)) {
            ended_ = true;
            shrank = shrank_meanwhile();
        }
        return got;
    }
    bool ended() const { return ended_; }

    char* buf = nullptr;
    std::size_t size = 0;    // bytes held
    std::uint64_t base = 0;  // file offset of buf[0]
    bool readError = false;
    bool shrank = false;

private:
    // Fewer bytes than the size at opening: the file shrank while it was read,
    // unless it reports that size still (files whose size is only a guess).
    bool shrank_meanwhile() const {
        if (base + size >= expected_) return false;
        struct stat st {};
        return fstat(fd_, &st) != 0 || static_cast<std::uint64_t>(st.st_size) != expected_;
    }

    std::size_t capacity_;
    int fd_;
    std::uint64_t expected_;
    bool ended_ = false;
};

void warn_unfinished(const Blocks& blocks, std::uint64_t lines, const ScanWarning& warn) {
    if (blocks.readError)
        warn("Read error after line " + std::to_string(lines) + ", taken as not matching");
    else if (blocks.shrank)
        warn("File changed while searched, taken as not matching");
}

std::string marked(const char* line, std::size_t size, std::size_t start, std::size_t end) {
    std::string out;
    out.reserve(size + 15);
    out.append(line, start);
    out += "[MATCH]";
    out.append(line + start, end - start);
    out += "[/MATCH]";
    out.append(line + end, size - end);
    return out;
}

}  // namespace

std::string snippet_of(const char* line, std::size_t size, std::size_t start, std::size_t end) {
    if (size <= kSnippetLineMax) return marked(line, size, start, end);
    const std::size_t from = start > kSnippetLead ? start - kSnippetLead : 0;
    const std::size_t to = std::min(size, from + kSnippetLineMax);
    return marked(line + from, to - from, start - from, std::min(end, to) - from);
}

FoldedNeedle::FoldedNeedle(const std::string& text) : folded(text) {
    for (char& c : folded) c = fold(c);
    for (std::size_t i = 1; i < folded.size(); ++i)
        if (commonness(folded[i]) < commonness(folded[rare1])) rare1 = i;
    rare2 = rare1;
    for (std::size_t i = 0; i < folded.size(); ++i)
        if (i != rare1 && (rare2 == rare1 || commonness(folded[i]) < commonness(folded[rare2]))) rare2 = i;
}

std::size_t FoldedNeedle::find(const char* data, std::size_t size) const {
    const std::size_t len = folded.size();
    if (len == 0) return 0;
    if (size < len) return std::string::npos;
    const std::size_t last = size - len;  // the last start position
    std::size_t k = 0;
#if LUMENO_X86
    if (has_avx2() ? find_avx2(data, k, last, *this) : find_sse2(data, k, last, *this)) return k;
#endif
    for (; k <= last; ++k)
        if (fold(data[k + rare1]) == folded[rare1] && fold(data[k + rare2]) == folded[rare2] &&
            same_folded(data + k, folded))
            return k;
    return std::string::npos;
}

std::string required_literal(const std::string& expression) {
    const std::string& p = expression;
    const std::size_t n = p.size();
    std::string best;
    std::string run;
    const auto end_run = [&] {
        if (run.size() > best.size()) best = run;
        run.clear();
    };
    const auto is_hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    const auto is_alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    // Skips an escape's own characters after the backslash and its letter;
    // npos when they are not plainly the escape's.
    const auto skip_escape = [&](std::size_t i) -> std::size_t {
        const char e = p[i];
        ++i;
        // {...}, <...> or '...' holding names or numbers only, or false when not there.
        const auto skip_bracketed = [&](char open, char close, bool& bad) {
            if (i >= n || p[i] != open) return false;
            std::size_t j = i + 1;
            while (j < n && p[j] != close) {
                const char c = p[j];
                if (!is_alnum(c) && c != '_' && c != '+' && c != '-' && c != ',' && c != '^' && c != ' ') break;
                ++j;
            }
            if (j >= n || p[j] != close) bad = true;
            i = j + 1;
            return true;
        };
        bool bad = false;
        switch (e) {
            case 'c':
                if (i >= n || !std::isalpha(static_cast<unsigned char>(p[i]))) return std::string::npos;
                ++i;
                break;
            case 'x':
            case 'u':
                if (!skip_bracketed('{', '}', bad))
                    for (int k = 0; k < (e == 'x' ? 2 : 4) && i < n && is_hex(p[i]); ++k) ++i;
                break;
            case 'p':
            case 'P':  // a one-letter property name needs no braces
                if (!skip_bracketed('{', '}', bad) && i < n) ++i;
                break;
            case 'k':
            case 'g':
            case 'N':
            case 'o':
                if (!skip_bracketed('{', '}', bad) && !skip_bracketed('<', '>', bad) &&
                    !skip_bracketed('\'', '\'', bad)) {
                    if (i < n && (p[i] == '-' || p[i] == '+')) ++i;
                    while (i < n && std::isdigit(static_cast<unsigned char>(p[i]))) ++i;
                }
                break;
            default:
                if (std::isdigit(static_cast<unsigned char>(e)))
                    while (i < n && std::isdigit(static_cast<unsigned char>(p[i]))) ++i;
                break;
        }
        return bad ? std::string::npos : i;
    };
    // Forms whose reading is not plain enough to trust leave no literal at
    // all: verbs, POSIX classes, quoted text (in classes too) and a quote's
    // end, after which a quantifier takes the atom before it.
    for (const char* form : {"(*", "[:", "[.", "[=", "\\Q", "\\E"})
        if (p.find(form) != std::string::npos) return {};
    int depth = 0;
    bool lastWasRunChar = false;  // the run's last character is the atom just read
    for (std::size_t i = 0; i < n;) {
        const char c = p[i];
        if (c == '[') {  // a class: one atom, skipped to its first unescaped ']'
            ++i;
            if (i < n && p[i] == '^') ++i;
            while (i < n && p[i] != ']') i += p[i] == '\\' ? 2 : 1;
            if (i >= n) return {};
            ++i;
            if (depth == 0) end_run();
            lastWasRunChar = false;
            continue;
        }
        if (c == '\\') {
            if (i + 1 >= n) return {};
            const char e = p[i + 1];
            if (!is_alnum(e) && depth == 0) {
                run += fold(e);
                lastWasRunChar = true;
                i += 2;
                continue;
            }
            i = is_alnum(e) ? skip_escape(i + 1) : i + 2;
            if (i == std::string::npos) return {};
            if (depth == 0) end_run();
            lastWasRunChar = false;
            continue;
        }
        if (c == '(') {
            if (i + 1 < n && p[i + 1] == '?') {
                const std::string kind = p.substr(i + 2, 2);
                if (kind.empty() || !(kind[0] == ':' || kind[0] == '=' || kind[0] == '!' || kind == "<=" ||
                                      kind == "<!"))
                    return {};
            }
            if (depth == 0) end_run();
            ++depth;
            lastWasRunChar = false;
            ++i;
            continue;
        }
        if (c == ')') {
            if (--depth < 0) return {};
            lastWasRunChar = false;
            ++i;
            continue;
        }
        if (c == '|') {
            if (depth == 0) return {};
            ++i;
            continue;
        }
        if (c == '*' || c == '+' || c == '?' || c == '{') {
            if (c == '{') {
                // Only a well-formed count is a quantifier here; anything else is not trusted.
                std::size_t j = i + 1;
                while (j < n && std::isdigit(static_cast<unsigned char>(p[j]))) ++j;
                if (j == i + 1) return {};
                if (j < n && p[j] == ',') ++j;
                while (j < n && std::isdigit(static_cast<unsigned char>(p[j]))) ++j;
                if (j >= n || p[j] != '}') return {};
                i = j + 1;
            } else {
                ++i;
            }
            // The quantified character may be missing or repeated: it ends the run without it.
            if (depth == 0 && lastWasRunChar) {
                run.pop_back();
                end_run();
            }
            lastWasRunChar = false;
            continue;
        }
        if (depth > 0) {
            ++i;
            continue;
        }
        if (c == '.' || c == '^' || c == '$' || c == ']' || c == '}') {
            end_run();
            lastWasRunChar = false;
            ++i;
            continue;
        }
        run += fold(c);
        lastWasRunChar = true;
        ++i;
    }
    if (depth != 0) return {};
    end_run();
    return best;
}

bool scan_for_needle(int fd, std::uint64_t sizeWhenOpened, const FoldedNeedle& needle, const ScanWarning& warn,
                     std::uint64_t& number, std::string& snippet) {
    // A line never holds a line feed.
    if (needle.folded.find('\n') != std::string::npos) return false;
    const std::size_t len = needle.folded.size();
    const std::size_t overlap = len == 0 ? 0 : len - 1;
    Blocks blocks(fd, sizeWhenOpened, kSnippetLineMax + 2 * len + kSnippetLead);
    char* const& buf = blocks.buf;
    std::uint64_t feeds = 0;        // line feeds before buf[counted]
    std::uint64_t lineStart = 0;    // file offset of the line that runs at buf[counted]
    std::size_t counted = 0;        // buf index up to which feeds are counted
    std::size_t searched = 0;       // buf index of the first start position not yet searched
    std::size_t keepFrom = 0;
    for (;;) {
        if (blocks.next(keepFrom) == 0) {
            warn_unfinished(blocks, feeds, warn);
            return false;
        }
        const std::size_t dropped = keepFrom;
        counted -= dropped;
        searched -= dropped;
        const std::size_t found = needle.find(buf + searched, blocks.size - searched);
        std::size_t hit = found == std::string::npos ? blocks.size : searched + found;
        // Feeds up to the hit (or the end of what is held); a hit in the kept overlap has none before it.
        if (hit > counted) {
            feeds += count_feeds(buf + counted, hit - counted);
            if (const char* feed = last_feed(buf + counted, hit - counted))
                lineStart = blocks.base + static_cast<std::uint64_t>(feed - buf) + 1;
            counted = hit;
        }
        if (found == std::string::npos) {
            // Keep the line so far (its last kSnippetLineMax bytes) and what a needle across the seam needs.
            const std::size_t unsearched = blocks.size - std::min(blocks.size, overlap);
            std::size_t lineAt = lineStart > blocks.base ? static_cast<std::size_t>(lineStart - blocks.base) : 0;
            lineAt = std::max(lineAt, blocks.size - std::min(blocks.size, kSnippetLineMax));
            keepFrom = std::min(unsearched, lineAt);
            searched = unsearched;
            continue;
        }
        number = feeds + 1;
        // Held from the line's start while the line may be short enough to
        // hold whole, else from shortly before the hit; read on until the line
        // ends or the snippet's bytes are all there.
        const std::size_t lineAt = lineStart > blocks.base ? static_cast<std::size_t>(lineStart - blocks.base) : 0;
        bool whole = lineStart >= blocks.base && hit - lineAt <= kSnippetLineMax;
        std::size_t from = whole ? lineAt : std::max(lineAt, hit > kSnippetLead ? hit - kSnippetLead : 0);
        std::size_t at = hit;
        for (;;) {
            const char* feed = next_feed(buf + at, blocks.size - at);
            const std::size_t lineEnd = feed ? static_cast<std::size_t>(feed - buf) : blocks.size;
            if (whole && lineEnd - from > kSnippetLineMax) {
                whole = false;
                from = std::max(from, hit > kSnippetLead ? hit - kSnippetLead : 0);
            }
            if (feed || blocks.ended() || (!whole && blocks.size - from >= kSnippetLineMax)) {
                const std::size_t to = std::min(lineEnd, from + kSnippetLineMax);
                if (len == 0)
                    snippet.assign(buf + from, to - from);
                else
                    snippet = marked(buf + from, to - from, hit - from, std::min(hit + len, to) - from);
                return true;
            }
            at = blocks.size - from;
            hit -= from;
            blocks.next(from);
            from = 0;
        }
    }
}

namespace {

// One line's verdict in the expression scan.
enum class Verdict { passes, fails, give_up_file };

// The expression's side of the scan: the tests a held line goes through, and
// the work of the whole file against its allowance.
class LineTester {
public:
    LineTester(const SearchRegex& regex, const FoldedNeedle* literal, const FoldedNeedle* needle,
               const ScanWarning& warn)
        : regex_(regex), literal_(literal), needle_(needle), warn_(warn),
          allowance_(kFileBudgetLines * SearchRegex::budget_for(0)) {}

    Verdict test(const char* line, std::size_t size, std::uint64_t number, std::string& snippet) {
        if (needle_ && needle_->find(line, size) == std::string::npos) return Verdict::fails;
        if (literal_ && literal_->find(line, size) == std::string::npos) return Verdict::fails;
        if (regex_.required_byte() >= 0 &&
            find_folded_byte(line, size, static_cast<char>(regex_.required_byte())) == std::string::npos)
            return Verdict::fails;
        std::size_t start = 0;
        std::size_t end = 0;
        const SearchRegex::Outcome outcome = regex_.search(line, size, start, end);
        // A line given up on has cost its whole budget, whatever the matcher counted.
        used_ += outcome == SearchRegex::Outcome::gave_up
                     ? std::max(regex_.last_work(), SearchRegex::budget_for(size))
                     : regex_.last_work();
        allowance_ += SearchRegex::budget_for(size) - SearchRegex::budget_for(0);
        if (outcome == SearchRegex::Outcome::match) {
            snippet = snippet_of(line, size, start, end);
            return Verdict::passes;
        }
        if (outcome == SearchRegex::Outcome::gave_up)
            warn_("--regex on line " + std::to_string(number) + " too costly to test, taken as not matching");
        if (used_ >= allowance_) {
            warn_("--regex too costly to test after line " + std::to_string(number) +
                  ", the rest of the file taken as not matching");
            return Verdict::give_up_file;
        }
        return Verdict::fails;
    }

    void too_long(std::uint64_t number) {
        warn_("--regex on line " + std::to_string(number) + " longer than " +
              std::to_string(kExpressionLineMax >> 20) + " MiB, the file taken as not matching");
    }

private:
    const SearchRegex& regex_;
    const FoldedNeedle* literal_;
    const FoldedNeedle* needle_;
    const ScanWarning& warn_;
    std::uint64_t used_ = 0;
    std::uint64_t allowance_;
};

}  // namespace

bool scan_for_expression(int fd, std::uint64_t sizeWhenOpened, const SearchRegex& regex,
                         const FoldedNeedle* literal, const FoldedNeedle* needle, const ScanWarning& warn,
                         std::uint64_t& number, std::string& snippet) {
    if (needle && needle->empty()) needle = nullptr;  // an empty text is in every line
    if (literal && literal->empty()) literal = nullptr;
    // The text that finds the lines worth testing; a line never holds a line feed.
    const FoldedNeedle* filter = needle ? needle : literal;
    if ((needle && needle->folded.find('\n') != std::string::npos) ||
        (literal && literal->folded.find('\n') != std::string::npos) || regex.required_byte() == '\n')
        return false;
    const int required = regex.required_byte();
    const auto candidate = [&](const char* data, std::size_t size) -> std::size_t {
        if (filter) return filter->find(data, size);
        if (required >= 0) return find_folded_byte(data, size, static_cast<char>(required));
        return 0;
    };
    const std::size_t overlap = filter ? filter->folded.size() - 1 : 0;

    LineTester tester(regex, literal, needle, warn);
    Blocks blocks(fd, sizeWhenOpened, 0);
    const char* const& buf = blocks.buf;
    std::uint64_t feeds = 0;  // lines before the current one
    std::string partial;      // the current line's start, when it runs on from an earlier block
    bool inLine = false;
    // A line grown too long to hold: only its pre-filter is followed, over the
    // seams between blocks with the last bytes kept in tail.
    bool overlong = false;
    std::string tail;
    const auto may_match = [&](const char* data, std::size_t size) {
        if (!filter && required < 0) return true;
        std::string seam = tail;
        seam.append(data, std::min(size, overlap));
        const bool hit = candidate(seam.data(), seam.size()) != std::string::npos ||
                         candidate(data, size) != std::string::npos;
        if (size >= overlap) {
            tail.assign(data + size - overlap, overlap);
        } else {
            tail.append(data, size);
            if (tail.size() > overlap) tail.erase(0, tail.size() - overlap);
        }
        return hit;
    };
    const auto end_line = [&] {
        ++feeds;
        inLine = false;
        overlong = false;
        tail.clear();
        if (partial.capacity() > kBlockBytes)
            std::string().swap(partial);
        else
            partial.clear();
    };

    for (;;) {
        const std::size_t n = blocks.next(blocks.size);
        if (n == 0) {
            if (blocks.readError || blocks.shrank) {
                warn_unfinished(blocks, feeds, warn);
                return false;
            }
            // The last line, without a line feed.
            if (!inLine || overlong ||
                tester.test(partial.data(), partial.size(), feeds + 1, snippet) != Verdict::passes)
                return false;
            number = feeds + 1;
            return true;
        }
        std::size_t p = 0;
        if (inLine) {
            const char* feed = next_feed(buf, n);
            const std::size_t segment = feed ? static_cast<std::size_t>(feed - buf) : n;
            if (!overlong && partial.size() + segment > kExpressionLineMax) {
                overlong = true;
                tail.clear();
                const bool hit = may_match(partial.data(), partial.size());
                std::string().swap(partial);
                if (hit) {
                    tester.too_long(feeds + 1);
                    return false;
                }
            }
            if (overlong) {
                if (may_match(buf, segment)) {
                    tester.too_long(feeds + 1);
                    return false;
                }
            } else {
                partial.append(buf, segment);
            }
            if (!feed) continue;
            if (!overlong) {
                switch (tester.test(partial.data(), partial.size(), feeds + 1, snippet)) {
                    case Verdict::passes:
                        number = feeds + 1;
                        return true;
                    case Verdict::give_up_file:
                        return false;
                    case Verdict::fails:
                        break;
                }
            }
            end_line();
            p = segment + 1;
        }
        while (p < n) {
            const std::size_t found = candidate(buf + p, n - p);
            if (found == std::string::npos) {
                // No line worth testing among the whole ones; a part line waits for its rest.
                feeds += count_feeds(buf + p, n - p);
                const char* last = last_feed(buf + p, n - p);
                const std::size_t start = last ? static_cast<std::size_t>(last - buf) + 1 : p;
                if (start < n) {
                    partial.assign(buf + start, n - start);
                    inLine = true;
                }
                break;
            }
            const std::size_t at = p + found;
            const char* before = last_feed(buf + p, at - p);
            const std::size_t start = before ? static_cast<std::size_t>(before - buf) + 1 : p;
            feeds += count_feeds(buf + p, start - p);
            const char* feed = next_feed(buf + at, n - at);
            if (!feed) {
                partial.assign(buf + start, n - start);
                inLine = true;
                break;
            }
            const std::size_t end = static_cast<std::size_t>(feed - buf);
            switch (tester.test(buf + start, end - start, feeds + 1, snippet)) {
                case Verdict::passes:
                    number = feeds + 1;
                    return true;
                case Verdict::give_up_file:
                    return false;
                case Verdict::fails:
                    break;
            }
            ++feeds;
            p = end + 1;
        }
    }
}
