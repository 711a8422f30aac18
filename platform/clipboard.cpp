#include "clipboard.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "clipboard_tmux.h"
#include "cp1252.h"
#include "fd.h"
#include "terminal_lock.h"

namespace {
struct GlobalBlock {
    std::size_t size = 0;
    unsigned char* data = nullptr;
};

struct ClipboardState {
    std::mutex lock;
    bool open = false;
    std::thread::id owner;
    int fd = -1;
    bool emptied = false;
    bool text_set = false;
    bool cleared = false;       // an empty clipboard was sent during this opening
    HGLOBAL content = nullptr;  // the block last set, owned by the clipboard
    // Every text sent since the last clearing, as tmux may still hold it.
    std::vector<std::string> copies;
    std::string terminal = "/dev/tty";
};

ClipboardState& clipboard() {
    static ClipboardState state;
    return state;
}

bool owned_by_caller(const ClipboardState& c) { return c.open && c.owner == std::this_thread::get_id(); }

std::string base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18 & 63];
        out += kDigits[v >> 12 & 63];
        out += kDigits[v >> 6 & 63];
        out += kDigits[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += kDigits[v >> 18 & 63];
        out += kDigits[v >> 12 & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kDigits[v >> 18 & 63];
        out += kDigits[v >> 12 & 63];
        out += kDigits[v >> 6 & 63];
        out += '=';
    }
    return out;
}

// UTF-16 up to the first zero unit (or the end of the block) as UTF-8; a
// lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(const WCHAR* text, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units && text[i] != 0; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        append_utf8(out, cp);
    }
    return out;
}

void wipe(std::string& text) {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
    text.clear();
}

// One sequence, written whole while curses is kept from the terminal, so
// that a timer thread never lands in the middle of a screen refresh.
bool send_to_terminal(int fd, const std::string& utf8) {
    std::string encoded = base64(utf8);
    std::string sequence = "\x1b]52;c;" + encoded + "\a";
    wipe(encoded);
    std::lock_guard<std::mutex> screen(terminal_mutex());
    const bool sent = platform::write_all(fd, sequence);
    wipe(sequence);
    return sent;
}

// An empty clipboard is sent as a single blank, wherever the program runs:
// a terminal takes it as the new content, and tmux (which drops an empty
// payload, so that the terminal outside it kept the text) stacks it on top
// of its buffers and passes it on. Whether tmux is there is not known for
// sure ($TMUX may be missing, or tmux is at the far end of ssh); its buffers
// are dealt with after the clipboard is closed, where it can be reached.
bool send_empty(int fd) { return send_to_terminal(fd, " "); }

// Deletes tmux's buffers holding the texts sent before a clearing.
void forget_copies(std::vector<std::string> copies, bool blank_sent) {
    if (blank_sent || !copies.empty()) tmux_delete_buffers_holding(copies, blank_sent);
    for (std::string& text : copies) wipe(text);
}
}  // namespace

int MultiByteToWideChar(UINT code_page, DWORD flags, const char* source, int source_len, WCHAR* dest, int dest_len) {
    if (code_page != CP_1252 || flags != 0 || source == nullptr || source_len == 0 || source_len < -1 || dest_len < 0)
        return 0;
    const std::size_t n = source_len == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(source_len);
    if (n > static_cast<std::size_t>(INT32_MAX)) return 0;
    if (dest_len == 0) return static_cast<int>(n);
    if (dest == nullptr || static_cast<std::size_t>(dest_len) < n) return 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(source[i]);
        const char32_t cp = cp1252_to_unicode(byte);
        // Windows passes the page's five unassigned bytes through as the
        // control characters of the same number.
        dest[i] = static_cast<WCHAR>(cp == 0 ? byte : cp);
    }
    return static_cast<int>(n);
}

HGLOBAL GlobalAlloc(UINT, std::size_t bytes) {
    auto* block = new (std::nothrow) GlobalBlock;
    if (block == nullptr) return nullptr;
    block->size = bytes;
    block->data = static_cast<unsigned char*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
    if (block->data == nullptr) {
        delete block;
        return nullptr;
    }
    return block;
}

void* GlobalLock(HGLOBAL block) { return block != nullptr ? static_cast<GlobalBlock*>(block)->data : nullptr; }

BOOL GlobalUnlock(HGLOBAL block) { return block != nullptr; }

HGLOBAL GlobalFree(HGLOBAL block) {
    if (block == nullptr) return nullptr;
    auto* b = static_cast<GlobalBlock*>(block);
    std::free(b->data);
    delete b;
    return nullptr;
}

BOOL OpenClipboard(HWND) {
    ClipboardState& c = clipboard();
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.open) return 0;
    const int fd = open(c.terminal.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    c.open = true;
    c.owner = std::this_thread::get_id();
    c.fd = fd;
    c.emptied = false;
    c.text_set = false;
    c.cleared = false;
    return 1;
}

BOOL EmptyClipboard() {
    ClipboardState& c = clipboard();
    std::lock_guard<std::mutex> guard(c.lock);
    if (!owned_by_caller(c)) return 0;
    GlobalFree(c.content);
    c.content = nullptr;
    c.emptied = true;
    return 1;
}

HANDLE SetClipboardData(UINT format, HANDLE block) {
    ClipboardState& c = clipboard();
    std::lock_guard<std::mutex> guard(c.lock);
    if (!owned_by_caller(c) || !c.emptied || format != CF_UNICODETEXT || block == nullptr) return nullptr;
    const auto* b = static_cast<const GlobalBlock*>(block);
    std::string text = utf16_to_utf8(reinterpret_cast<const WCHAR*>(b->data), b->size / sizeof(WCHAR));
    if (text.empty() ? !send_empty(c.fd) : !send_to_terminal(c.fd, text)) {
        wipe(text);
        return nullptr;
    }
    if (text.empty())
        c.cleared = true;
    else
        c.copies.push_back(std::move(text));
    c.text_set = true;
    GlobalFree(c.content);
    c.content = block;
    return block;
}

BOOL CloseClipboard() {
    ClipboardState& c = clipboard();
    std::vector<std::string> copies;
    bool blank_sent = false;
    bool text_sent = false;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        if (!owned_by_caller(c)) return 0;
        text_sent = c.text_set && !c.cleared;
        if (c.emptied && !c.text_set) c.cleared = send_empty(c.fd);
        if (c.cleared) {
            copies.swap(c.copies);
            blank_sent = true;
        }
        close(c.fd);
        c.fd = -1;
        c.open = false;
        c.owner = {};
    }
    // tmux's commands take a while; the clipboard is free meanwhile.
    if (blank_sent) forget_copies(std::move(copies), true);
    // The servers tmux passed the text on to are learnt now, while the one
    // it runs in can still name them.
    if (text_sent) tmux_remember_servers();
    return 1;
}

void clipboard_forget_copies() {
    ClipboardState& c = clipboard();
    std::vector<std::string> copies;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        copies.swap(c.copies);
    }
    forget_copies(std::move(copies), false);
}

void set_clipboard_terminal(const std::string& path) {
    ClipboardState& c = clipboard();
    std::lock_guard<std::mutex> guard(c.lock);
    c.terminal = path;
}
