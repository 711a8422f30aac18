// The user's locale name, as the Windows locale API would give it ("de-DE").
#pragma once

#include <string>

// Writes the name, null-terminated, into buf (capacity in wide characters);
// returns its length including the terminator, or 0 when no locale is set
// (unset, empty, "C" or "POSIX") or the buffer is too small.
int GetUserDefaultLocaleName(wchar_t* buf, int capacity);

// Name from the first non-empty of LC_ALL, LC_MESSAGES and LANG, with the
// codeset and modifier dropped and '_' turned into '-'; empty when there is none.
std::string user_locale_name();

// Makes the terminal's character type UTF-8: the user's locale when it is
// installed and UTF-8, else C.UTF-8. Only LC_CTYPE changes, so number
// formatting and case folding stay as in the "C" locale.
void use_utf8_terminal_locale();
