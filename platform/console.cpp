#include "console.h"

#include <unistd.h>

namespace {
// Kept per process: what SetConsoleMode last stored, for GetConsoleMode to report.
DWORD stored_mode = 0;

bool is_stdout(HANDLE handle) {
    return handle == reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(STDOUT_FILENO) + 1);
}
}  // namespace

HANDLE GetStdHandle(DWORD which) {
    if (which != STD_OUTPUT_HANDLE) return INVALID_HANDLE_VALUE;
    // Offset by one so that descriptor 0 would never look like a null handle.
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(STDOUT_FILENO) + 1);
}

BOOL GetConsoleMode(HANDLE handle, DWORD* mode) {
    if (!is_stdout(handle) || mode == nullptr || !isatty(STDOUT_FILENO)) return 0;
    *mode = stored_mode;
    return 1;
}

BOOL SetConsoleMode(HANDLE handle, DWORD mode) {
    if (!is_stdout(handle) || !isatty(STDOUT_FILENO)) return 0;
    stored_mode = mode;
    return 1;
}

BOOL SetConsoleOutputCP(unsigned code_page) { return code_page == 65001 ? 1 : 0; }
BOOL SetConsoleCP(unsigned code_page) { return code_page == 65001 ? 1 : 0; }
