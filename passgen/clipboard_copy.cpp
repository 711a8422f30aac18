#include "clipboard_copy.h"

#include <chrono>
#include <thread>

#include "clipboard.h"

bool clipboard_set_text(const std::string& text) {
    const int n = MultiByteToWideChar(CP_1252, 0, text.c_str(), -1, nullptr, 0);
    if (n < 1) return false;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 2 * static_cast<std::size_t>(n));
    if (block == nullptr) return false;
    auto* units = static_cast<WCHAR*>(GlobalLock(block));
    if (units == nullptr) {
        GlobalFree(block);
        return false;
    }
    MultiByteToWideChar(CP_1252, 0, text.c_str(), -1, units, n);
    GlobalUnlock(block);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(block);
        return false;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
        CloseClipboard();
        GlobalFree(block);
        return false;
    }
    CloseClipboard();  // the clipboard owns the block now
    return true;
}

int clipboard_clear_after(std::int32_t* seconds) {
    // The whole wait, even beyond what one 32-bit millisecond count holds.
    if (seconds != nullptr && *seconds > 0) std::this_thread::sleep_for(std::chrono::seconds(*seconds));
    clipboard_set_text("");
    delete seconds;
    return 0;
}
