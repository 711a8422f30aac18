// Console services that the programs expect from the Windows console,
// answered by the terminal on Linux.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = int;
using HANDLE = void*;

inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(-1);

// The handle of standard output (STD_OUTPUT_HANDLE only), else INVALID_HANDLE_VALUE.
HANDLE GetStdHandle(DWORD which);
// Succeeds only when the handle is a terminal, where escape sequences work natively.
BOOL GetConsoleMode(HANDLE handle, DWORD* mode);
BOOL SetConsoleMode(HANDLE handle, DWORD mode);
// Terminals here are UTF-8 already: 65001 is accepted, any other page refused.
BOOL SetConsoleOutputCP(unsigned code_page);
BOOL SetConsoleCP(unsigned code_page);
