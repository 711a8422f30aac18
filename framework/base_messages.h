// The 41 base texts that every program's catalog carries, in the form each
// catalog stores them.
#pragma once

#include <string>
#include <vector>

#include "i18n.h"

enum class BaseTextForm {
    utf8,    // the letters as UTF-8
    cp1252,  // one Windows-1252 byte per letter
    ascii,   // accents dropped, with the family catalog's own exceptions
};

// The base texts of one language (a code of kLanguageCodes), in their list order.
std::vector<text_entry> base_messages(const std::string& lang, BaseTextForm form);

// The accent rule of the ASCII form: each accented letter of the base texts
// becomes its plain letter ("ß" becomes "ss").
std::string strip_accents(const std::string& utf8);
