// The menu driven by keys from the fuzzer's input, on screens of every size:
// before each key the selection and the first visible row are in range, the
// selection passes the filter whenever some item does, and the one focused row
// on screen is the selected item; a run returns Esc or the item whose action ran.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "memory_screen.h"
#include "menu.h"

namespace {
struct KeyFeed {
    std::vector<int> keys;
    std::size_t next = 0;
    Menu* menu = nullptr;
    bool first_key = true;
} feed;

constexpr int kSpecialKeys[] = {KEY_UP,    KEY_DOWN,  KEY_PPAGE, KEY_NPAGE,  KEY_HOME,  KEY_END,
                                KEY_BACKSPACE, KEY_ENTER, KEY_LEFT, KEY_RIGHT, KEY_BTAB,  KEY_DC,
                                KEY_RESIZE, KEY_F(1),  KEY_MAX,   0x7FFFFFFF};

int key_of(std::uint8_t b) {
    if (b < 0xC0) return b;
    return kSpecialKeys[(b - 0xC0) % (sizeof kSpecialKeys / sizeof kSpecialKeys[0])];
}

void check_menu_waiting_for_key(const Menu& menu) {
    const int n = static_cast<int>(menu.items.size());
    const int rows = getmaxy(stdscr);
    const int cols = getmaxx(stdscr);
    if (n == 0) {
        FUZZ_CHECK(menu.selected == 0 && menu.top == 0);
        return;
    }
    const int height = std::max(rows - 4, 10);
    const int width = std::clamp(cols - 4, 30, 120);
    const int visible = std::max(height - 6, 1);
    FUZZ_CHECK(menu.selected >= 0 && menu.selected < n);
    FUZZ_CHECK(menu.top >= 0 && menu.top <= std::max(n - visible, 0));
    FUZZ_CHECK(menu.selected >= menu.top && menu.selected < menu.top + visible);
    for (char c : menu.filter) FUZZ_CHECK(c >= 32 && c <= 126);
    if (!menu.filter.empty() && find_filter_match(menu, 0) >= 0)
        FUZZ_CHECK(filter_match(menu.items[static_cast<std::size_t>(menu.selected)].label, menu.filter));

    const int left = (cols - width) / 2;
    const int box_top = (rows - height) / 2;
    if (left < 0 || box_top < 0 || !has_colors()) return;
    for (int k = 0; k < visible && menu.top + k < n && box_top + 3 + k < rows; ++k) {
        const bool focused = memory_screen_pair(box_top + 3 + k, left + 2) == PAIR_FOCUS;
        FUZZ_CHECK(focused == (menu.top + k == menu.selected));
    }
}
}  // namespace

// The menu reads its keys with wgetch; this definition takes the place of
// curses' own, so that every key comes from the fuzzer's input and the menu
// can be checked each time it waits for one. No key left: ERR, as from a
// terminal that is gone.
int wgetch(WINDOW*) {
    // An empty menu draws once and then reads keys without drawing again.
    if (feed.menu != nullptr && (feed.first_key || !feed.menu->items.empty())) check_menu_waiting_for_key(*feed.menu);
    feed.first_key = false;
    if (feed.next >= feed.keys.size()) return ERR;
    return feed.keys[feed.next++];
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int rows = in.ConsumeIntegralInRange<int>(1, 60);
    const int cols = in.ConsumeIntegralInRange<int>(1, 160);
    memory_screen_resize(rows, cols);

    static const char kAlphabet[] = "AGIabeghlmptz 0123456789.";
    const auto label_char = [&in] { return kAlphabet[in.ConsumeIntegral<std::uint8_t>() % (sizeof kAlphabet - 1)]; };
    Menu menu;
    menu.app = &memory_screen();
    menu.wrap = in.ConsumeBool();
    menu.selected = in.ConsumeIntegralInRange<int>(-3, 45);
    const int n = in.ConsumeIntegralInRange<int>(0, 40);
    std::vector<int> chosen;
    std::vector<MenuItem> items;
    for (int i = 0; i < n; ++i) {
        std::string label(1, label_char());
        for (int k = in.ConsumeIntegralInRange<int>(0, 10); k > 0; --k) label += label_char();
        items.push_back(MenuItem{label, [&chosen, i] { chosen.push_back(i); }});
    }
    menu_set_items(menu, std::move(items));
    for (int k = in.ConsumeIntegralInRange<int>(0, 2); k > 0; --k) menu.filter += label_char();

    feed = KeyFeed{};
    for (const std::uint8_t b : in.ConsumeRemainingBytes<std::uint8_t>()) feed.keys.push_back(key_of(b));
    feed.menu = &menu;
    // A screen may run the same menu again: selection and filter carry over.
    do {
        feed.first_key = true;
        chosen.clear();
        const int r = run_menu(menu);
        if (r == TUI_CANCELLED) {
            FUZZ_CHECK(chosen.empty());
            continue;
        }
        FUZZ_CHECK(r >= 0 && r < n);
        FUZZ_CHECK(chosen.size() == 1 && chosen[0] == r);
        const int last_key = feed.keys[feed.next - 1];
        FUZZ_CHECK(last_key == 10 || last_key == 13 || last_key == KEY_ENTER);
    } while (feed.next < feed.keys.size());
    feed.menu = nullptr;
    return 0;
}
