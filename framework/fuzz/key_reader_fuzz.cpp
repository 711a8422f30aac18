// The key reader fed bytes as a terminal sends them, with gaps where a
// terminal would pause between keys. Every key read is a byte or one of the
// curses keys the reader makes, each read takes at least one byte and at most
// a whole escape sequence, no read leaves the screen in no-delay mode, and
// once the bytes run out the reader says so instead of waiting or looping.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "key_reader.h"
#include "memory_screen.h"

namespace {
struct ByteFeed {
    std::vector<int> bytes;
    std::vector<bool> gapBefore;  // a no-delay read here finds nothing yet
    std::size_t next = 0;
    std::vector<int> pushedBack;  // ungetch: last in, first out
    std::size_t taken = 0;        // reads that returned a key, pushed-back keys included
    std::size_t returned = 0;     // keys handed back through ungetch
} feed;

bool reader_key(int k) {
    if (k >= 0 && k <= 0xFF) return true;
    switch (k) {
        case KEY_UP:
        case KEY_DOWN:
        case KEY_LEFT:
        case KEY_RIGHT:
        case KEY_HOME:
        case KEY_END:
        case KEY_PPAGE:
        case KEY_NPAGE:
        case KEY_DC:
            return true;
        default:
            return false;
    }
}
}  // namespace

// These take the place of curses' own, so that the reader's bytes come from
// the fuzzer's input. A blocking read past the end gives ERR, as from a
// terminal that is gone.
int wgetch(WINDOW* window) {
    if (!feed.pushedBack.empty()) {
        const int k = feed.pushedBack.back();
        feed.pushedBack.pop_back();
        ++feed.taken;
        return k;
    }
    if (feed.next >= feed.bytes.size()) return ERR;
    if (is_nodelay(window) && feed.gapBefore[feed.next]) {
        feed.gapBefore[feed.next] = false;
        return ERR;
    }
    ++feed.taken;
    return feed.bytes[feed.next++];
}

int ungetch(int key) {
    feed.pushedBack.push_back(key);
    ++feed.returned;
    return OK;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    memory_screen();
    FuzzedDataProvider in(data, size);
    const bool letters = in.ConsumeBool();
    const auto gaps = in.ConsumeIntegral<std::uint64_t>();
    feed = ByteFeed{};
    for (const std::uint8_t b : in.ConsumeRemainingBytes<std::uint8_t>()) {
        feed.gapBefore.push_back(feed.bytes.size() < 64 && ((gaps >> feed.bytes.size()) & 1) != 0);
        feed.bytes.push_back(b);
    }

    // Each read ends on a key or on ERR; every read that gives a key takes at
    // least one byte for good, so the loop ends within one read per byte.
    std::vector<int> letterRest;  // bytes still owed of a UTF-8 letter opened by 224
    for (std::size_t reads = 0;; ++reads) {
        FUZZ_CHECK(reads <= feed.bytes.size());
        const std::size_t before = feed.next;
        const std::size_t pendingBefore = feed.pushedBack.size();
        const int k = letters ? read_key() : read_key_no_letters();
        FUZZ_CHECK(!is_nodelay(stdscr));
        if (k == ERR) {
            FUZZ_CHECK(feed.next == feed.bytes.size() && feed.pushedBack.empty());
            break;
        }
        FUZZ_CHECK(reader_key(k));
        // A letter that opens with 224 comes back whole, byte by byte, in order.
        if (!letterRest.empty()) {
            FUZZ_CHECK(k == letterRest.front());
            letterRest.erase(letterRest.begin());
        } else if (k == 224 && pendingBefore == 0 && feed.next - before == 3) {
            letterRest = {feed.bytes[before + 1], feed.bytes[before + 2]};
        }
        FUZZ_CHECK(feed.pushedBack.size() <= 2);
        const std::size_t fresh = feed.next - before;
        // A byte that opens nothing comes back as itself, or from the letter table as an arrow.
        if (fresh == 1 && pendingBefore == 0) {
            const int b = feed.bytes[before];
            if (b != 0 && b != 27 && b != 224) {
                const bool arrow = k == KEY_UP || k == KEY_DOWN || k == KEY_LEFT || k == KEY_RIGHT;
                FUZZ_CHECK(k == b || (letters && arrow && b >= 9 && b <= 119));
            }
        }
        FUZZ_CHECK(fresh + pendingBefore >= 1);
        // Esc, two bytes and at most 24 more up to the final letter.
        FUZZ_CHECK(fresh <= 27);
    }
    FUZZ_CHECK(feed.taken == feed.bytes.size() + feed.returned);
    FUZZ_CHECK(letterRest.empty());
    return 0;
}
