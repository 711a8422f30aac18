// The Windows clipboard and code-page calls the password generator makes.
// On Linux the clipboard is the terminal's own: text set here reaches it as
// an OSC 52 sequence written to the controlling terminal.
#pragma once

#include <cstddef>
#include <string>

#include "console.h"

using UINT = unsigned;
using HWND = void*;
using HGLOBAL = void*;
using WCHAR = char16_t;

inline constexpr UINT CP_1252 = 1252;
inline constexpr UINT CF_UNICODETEXT = 13;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;

// Converts Windows-1252 bytes to UTF-16 (the only code page offered). With
// source_len -1 the terminating zero is converted too; with dest_len 0 only
// the number of units needed is returned. 0 on failure.
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* source, int source_len, WCHAR* dest, int dest_len);

// Movable memory blocks, as the clipboard takes them.
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
void* GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
// Null on success.
HGLOBAL GlobalFree(HGLOBAL block);

// Fails when another thread has the clipboard open or there is no terminal.
BOOL OpenClipboard(HWND owner);
// Releases the block the clipboard holds.
BOOL EmptyClipboard();
// CF_UNICODETEXT only: sends the zero-terminated UTF-16 text of the block to
// the terminal. On success the clipboard owns the block until it is emptied.
HANDLE SetClipboardData(UINT format, HANDLE block);
// An empty clipboard (emptied, or an empty text) is sent as one blank. Then,
// where a tmux server can be reached ($TMUX, else the user's default
// server), its paste buffers holding a text sent earlier, or that blank, are
// deleted (in the tmux servers it is nested in too). After a text, those
// servers are noted, for a deletion once the nearest tmux has gone.
BOOL CloseClipboard();

// Deletes tmux's paste buffers holding a text sent to the clipboard, without
// the terminal: for when it has gone.
void clipboard_forget_copies();

// The terminal the clipboard writes to; "/dev/tty" unless a test points it
// at a pseudo-terminal of its own.
void set_clipboard_terminal(const std::string& path);
