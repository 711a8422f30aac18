// The form driven by keys from the fuzzer's input, on screens of every size,
// in a UTF-8 and in a Windows-1252 program, with keys as curses codes or as
// terminal bytes through the key reader. Whenever the form waits for a key
// the focus is in range and no field is over its limit; a UTF-8 program's
// fields hold valid UTF-8 without control letters, a Windows-1252 program's
// only bytes 32..126; a run returns Esc or the button whose action ran, after
// Enter on it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cp1252.h"
#include "form.h"
#include "i18n.h"
#include "fuzz_check.h"
#include "key_reader.h"
#include "memory_screen.h"
#include "terminal.h"

namespace {
struct KeyFeed {
    std::vector<int> keys;
    std::size_t next = 0;
    std::vector<int> pushedBack;  // ungetch: last in, first out
    Form* form = nullptr;
} feed;

constexpr int kSpecialKeys[] = {KEY_UP,   KEY_DOWN,  KEY_BTAB,  KEY_BACKSPACE, KEY_ENTER, KEY_LEFT, KEY_RIGHT,
                                KEY_HOME, KEY_END,   KEY_DC,    KEY_PPAGE,     KEY_NPAGE, KEY_RESIZE, KEY_F(1),
                                KEY_MAX,  0x7FFFFFFF, -2};

int key_of(std::uint8_t b, std::uint8_t next) {
    if (b != 0xFF) return b;
    return kSpecialKeys[next % (sizeof kSpecialKeys / sizeof kSpecialKeys[0])];
}

bool printable_utf8(const std::string& value) {
    for (std::size_t i = 0; i < value.size();) {
        char32_t cp = 0;
        const std::size_t n = decode_utf8(value, i, cp);
        if (n == 0 || cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
        i += n;
    }
    return true;
}

void check_form(const Form& form, bool utf8) {
    const int n = static_cast<int>(form.fields.size() + form.buttons.size());
    if (n > 0) FUZZ_CHECK(form.focus >= 0 && form.focus < n);
    for (const FormField& field : form.fields) {
        FUZZ_CHECK(field.value.size() <= static_cast<std::size_t>(field.max_len));
        if (utf8)
            FUZZ_CHECK(printable_utf8(field.value));
        else
            for (char c : field.value) FUZZ_CHECK(c >= 32 && c <= 126);
    }
}

int feed_key() {
    if (!feed.pushedBack.empty()) {
        const int k = feed.pushedBack.back();
        feed.pushedBack.pop_back();
        return k;
    }
    if (feed.next >= feed.keys.size()) return ERR;
    return feed.keys[feed.next++];
}

bool feedUtf8 = true;
int direct_key() {
    check_form(*feed.form, feedUtf8);
    return feed_key();
}
int reader_key() {
    check_form(*feed.form, feedUtf8);
    return read_key_no_letters();
}
}  // namespace

// The form's texts come from a program's catalog; these keys need none.
const LanguageTable& language_catalog() {
    static const LanguageTable empty;
    return empty;
}

// These take the place of curses' own, so that every key comes from the
// fuzzer's input. No key left: ERR, as from a terminal that is gone.
int wgetch(WINDOW*) { return feed_key(); }
int ungetch(int key) {
    feed.pushedBack.push_back(key);
    return OK;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int rows = in.ConsumeIntegralInRange<int>(1, 40);
    const int cols = in.ConsumeIntegralInRange<int>(1, 140);
    memory_screen_resize(rows, cols);
    feedUtf8 = in.ConsumeBool();
    set_text_encoding(feedUtf8 ? TextEncoding::utf8 : TextEncoding::cp1252);
    set_form_key_reader(in.ConsumeBool() ? reader_key : direct_key);

    Form form;
    form.app = &memory_screen();
    static const char* const kStartValues[] = {"", "abc", "/data/x y", "caf\xc3\xa9", "\xe2\x82\xac 12", "99"};
    for (int i = in.ConsumeIntegralInRange<int>(0, 10); i > 0; --i) {
        const int maxLen = in.ConsumeIntegralInRange<int>(0, 20);
        std::string value = kStartValues[in.ConsumeIntegralInRange<std::size_t>(0, 5)];
        if (!feedUtf8 || value.size() > static_cast<std::size_t>(maxLen)) value.clear();
        form.fields.push_back(make_form_field("Field", value, maxLen));
        form.fields.back().masked = in.ConsumeBool();
    }
    std::vector<int> ran;
    std::vector<FormButton> buttons;
    for (int j = in.ConsumeIntegralInRange<int>(0, 6); j > 0; --j) {
        const int index = static_cast<int>(buttons.size());
        buttons.push_back(FormButton{std::string(in.ConsumeIntegralInRange<std::size_t>(1, 30), 'B'),
                                     [&ran, index] { ran.push_back(index); }});
    }
    form_set_buttons(form, std::move(buttons));
    const int n = static_cast<int>(form.fields.size() + form.buttons.size());
    form.focus = n > 0 ? in.ConsumeIntegralInRange<int>(0, n - 1) : 0;

    feed = KeyFeed{};
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int k = key_of(bytes[i], i + 1 < bytes.size() ? bytes[i + 1] : 0);
        if (bytes[i] == 0xFF) ++i;
        feed.keys.push_back(k);
    }
    feed.form = &form;
    // A wizard runs the same form again after a button: values and focus carry over.
    do {
        ran.clear();
        const int r = run_form(form);
        check_form(form, feedUtf8);
        if (r == TUI_CANCELLED) {
            FUZZ_CHECK(ran.empty());
            continue;
        }
        FUZZ_CHECK(r >= 0 && r < static_cast<int>(form.buttons.size()));
        FUZZ_CHECK(ran.size() == 1 && ran[0] == r);
        FUZZ_CHECK(form.focus == static_cast<int>(form.fields.size()) + r);
    } while (feed.next < feed.keys.size() || !feed.pushedBack.empty());
    feed.form = nullptr;
    set_form_key_reader(nullptr);
    return 0;
}
