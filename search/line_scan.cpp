#include "line_scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "ending_signals.h"

namespace {

// Large enough that a read costs little beside the search, small enough per worker.
constexpr std::size_t kBlockBytes = std::size_t{256} << 10;

inline char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char unfold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// How common a (folded) byte is in text and source code: the needle's byte
// with the lowest rank is looked for first.
int commonness(char c) {
    static const char kCommon[] = "\n e\tatoinsrlcdhu_pmf()g;,y.b=wv*/k-x\"'0";
    const char* at = std::strchr(kCommon, c);
    return c != 0 && at ? static_cast<int>(sizeof kCommon - static_cast<std::size_t>(at - kCommon)) : 0;
}

ssize_t read_some(int fd, char* to, std::size_t size) {
    for (;;) {
        const ssize_t n = read(fd, to, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// The line that starts at file offset start, up to its line feed or the end of the file.
bool read_line_at(int fd, std::uint64_t start, std::string& line) {
    line.clear();
    char chunk[16384];
    for (std::uint64_t at = start;;) {
        const ssize_t n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        const auto got = static_cast<std::size_t>(n);
        if (const void* feed = std::memchr(chunk, '\n', got)) {
            line.append(chunk, static_cast<std::size_t>(static_cast<const char*>(feed) - chunk));
            return true;
        }
        line.append(chunk, got);
        at += got;
    }
}

// Line feeds in the file before offset: the part from base on is still in
// buf (the current block), the rest is read again. Counted only for the one passing line, so
// that files without a hit never pay for counting.
std::uint64_t feeds_before(int fd, std::uint64_t offset, const char* buf, std::uint64_t base) {
    std::uint64_t feeds = 0;
    std::uint64_t readUpTo = offset;
    if (buf && offset > base) {
        feeds += static_cast<std::uint64_t>(std::count(buf, buf + (offset - base), '\n'));
        readUpTo = base;
    }
    char chunk[65536];
    for (std::uint64_t at = 0; at < readUpTo;) {
        const ssize_t n = pread(fd, chunk, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, readUpTo - at)),
                                static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        feeds += static_cast<std::uint64_t>(std::count(chunk, chunk + n, '\n'));
        at += static_cast<std::uint64_t>(n);
    }
    return feeds;
}

std::vector<char>& block_buffer(std::size_t size) {
    thread_local std::vector<char> buffer;
    if (buffer.size() < size) buffer.resize(size);
    return buffer;
}

// First position in [p, p + n) holding a or b, from memchr's fast scan.
const char* find_either(const char* p, std::size_t n, char a, char b) {
    const auto* atA = static_cast<const char*>(std::memchr(p, a, n));
    if (a == b) return atA;
    const std::size_t limit = atA ? static_cast<std::size_t>(atA - p) : n;
    const auto* atB = static_cast<const char*>(std::memchr(p, b, limit));
    return atB ? atB : atA;
}

}  // namespace

FoldedNeedle::FoldedNeedle(const std::string& text) : folded(text) {
    for (char& c : folded) c = fold(c);
    for (std::size_t i = 0; i < folded.size(); ++i)
        if (commonness(folded[i]) < commonness(folded[anchor])) anchor = i;
    if (!folded.empty()) {
        anchorLower = folded[anchor];
        anchorUpper = unfold(anchorLower);
    }
}

std::size_t FoldedNeedle::find(const char* data, std::size_t size) const {
    const std::size_t len = folded.size();
    if (len == 0) return 0;
    if (size < len) return std::string::npos;
    // The anchor byte can sit at [anchor, size - len + anchor].
    const char* from = data + anchor;
    const char* last = data + (size - len) + anchor;
    while (from <= last) {
        const char* hit = find_either(from, static_cast<std::size_t>(last - from) + 1, anchorLower, anchorUpper);
        // The two cases are searched in turn; a later hit of the other case waits its turn.
        if (!hit) return std::string::npos;
        const char* start = hit - anchor;
        std::size_t i = 0;
        while (i < len && fold(start[i]) == folded[i]) ++i;
        if (i == len) return static_cast<std::size_t>(start - data);
        from = hit + 1;
    }
    return std::string::npos;
}

bool scan_for_needle(int fd, const FoldedNeedle& needle, std::string& line, std::uint64_t& number) {
    // A line never holds a line feed.
    if (needle.folded.find('\n') != std::string::npos) return false;
    const std::size_t keep = needle.folded.empty() ? 0 : needle.folded.size() - 1;
    std::vector<char>& buffer = block_buffer(kBlockBytes + keep);
    char* const buf = buffer.data();
    std::uint64_t base = 0;       // file offset of buf[0]
    std::size_t carried = 0;      // buf[0, carried): the previous block's tail
    std::uint64_t lineStart = 0;  // file offset where the line at base + carried begins
    for (;;) {
        if (ending_signal() != 0) return false;
        const ssize_t n = read_some(fd, buf + carried, kBlockBytes);
        if (n <= 0) return false;
        const std::size_t size = carried + static_cast<std::size_t>(n);
        const std::size_t hit = needle.find(buf, size);
        const std::size_t upTo = hit == std::string::npos ? size : std::max(hit, carried);
        if (const void* last = memrchr(buf + carried, '\n', upTo - carried))
            lineStart = base + static_cast<std::uint64_t>(static_cast<const char*>(last) - buf) + 1;
        if (hit != std::string::npos) {
            number = feeds_before(fd, lineStart, buf, base) + 1;
            const auto* feed = static_cast<const char*>(std::memchr(buf + hit, '\n', size - hit));
            if (lineStart >= base && feed) {
                line.assign(static_cast<const char*>(buf + (lineStart - base)), feed);
                return true;
            }
            return read_line_at(fd, lineStart, line);
        }
        const std::size_t tail = std::min(keep, size);
        std::memmove(buf, buf + size - tail, tail);
        base += size - tail;
        carried = tail;
    }
}

bool scan_for_expression(int fd, const SearchRegex& regex, const FoldedNeedle* needle,
                         const std::function<void(std::uint64_t)>& gaveUp, std::string& line, std::uint64_t& number,
                         std::size_t& matchStart, std::size_t& matchEnd) {
    const int required = regex.required_byte();
    const char lower = static_cast<char>(required);
    const char upper = unfold(lower);
    // Where in data[0, size) a passing line may hold its hit; npos rules out the whole stretch.
    const auto candidate = [&](const char* data, std::size_t size) -> std::size_t {
        if (needle) return needle->find(data, size);
        if (required < 0) return 0;
        const char* at = find_either(data, size, lower, upper);
        return at ? static_cast<std::size_t>(at - data) : std::string::npos;
    };

    std::vector<char>& buffer = block_buffer(kBlockBytes);
    const char* const buf = buffer.data();
    std::uint64_t base = 0;         // file offset of buf[0]
    std::uint64_t lineOffset = 0;   // file offset of the line being tested
    const auto line_number = [&] { return feeds_before(fd, lineOffset, buf, base) + 1; };
    const auto passes = [&](const char* text, std::size_t size) {
        if (needle && needle->find(text, size) == std::string::npos) return false;
        switch (regex.search(text, size, matchStart, matchEnd)) {
            case SearchRegex::Outcome::match:
                return true;
            case SearchRegex::Outcome::gave_up:
                gaveUp(line_number());
                return false;
            case SearchRegex::Outcome::no_match:
                break;
        }
        return false;
    };

    std::string longLine;  // a line that runs past the block it started in
    bool inLong = false;
    for (std::size_t size = 0;;) {
        base += size;
        if (ending_signal() != 0) return false;
        const ssize_t n = read_some(fd, buffer.data(), kBlockBytes);
        if (n < 0) return false;
        size = static_cast<std::size_t>(n);
        if (size == 0) {
            // The last line, without a line feed.
            if (!inLong || !passes(longLine.data(), longLine.size())) return false;
            number = line_number();
            line = std::move(longLine);
            return true;
        }
        std::size_t p = 0;
        if (inLong) {
            const auto* feed = static_cast<const char*>(std::memchr(buf, '\n', size));
            if (!feed) {
                longLine.append(buf, size);
                continue;
            }
            longLine.append(buf, feed);
            inLong = false;
            if (passes(longLine.data(), longLine.size())) {
                number = line_number();
                line = std::move(longLine);
                return true;
            }
            longLine.clear();
            p = static_cast<std::size_t>(feed - buf) + 1;
        }
        while (p < size) {
            const std::size_t found = candidate(buf + p, size - p);
            if (found == std::string::npos) {
                // No passing line among the complete ones; a trailing part line waits for its rest.
                if (const void* last = memrchr(buf + p, '\n', size - p))
                    p = static_cast<std::size_t>(static_cast<const char*>(last) - buf) + 1;
                if (p < size) {
                    lineOffset = base + p;
                    longLine.assign(buf + p, size - p);
                    inLong = true;
                }
                break;
            }
            const std::size_t at = p + found;
            std::size_t start = p;
            if (const void* last = memrchr(buf + p, '\n', at - p))
                start = static_cast<std::size_t>(static_cast<const char*>(last) - buf) + 1;
            lineOffset = base + start;
            const auto* feed = static_cast<const char*>(std::memchr(buf + at, '\n', size - at));
            if (!feed) {
                longLine.assign(buf + start, size - start);
                inLong = true;
                break;
            }
            const std::size_t end = static_cast<std::size_t>(feed - buf);
            if (passes(buf + start, end - start)) {
                number = line_number();
                line.assign(buf + start, end - start);
                return true;
            }
            p = end + 1;
        }
    }
}
