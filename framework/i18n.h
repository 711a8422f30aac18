// Current language and its texts; each program supplies language_catalog().
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

using TextMap = std::unordered_map<std::string, std::string>;
using LanguageTable = std::unordered_map<std::string, TextMap>;

// One (key, text) pair of a catalog list, and one language of a table.
using text_entry = std::pair<std::string, std::string>;
using language_entry = std::pair<std::string, TextMap>;

// Supplied by each program: its table of all six languages, built on first use.
const LanguageTable& language_catalog();

extern std::string current_language;
extern TextMap current_texts;

// The six codes, in catalog order.
inline const std::vector<std::string> kLanguageCodes = {"en", "pt_br", "es", "fr", "de", "it"};

std::string normalize_language(std::string code);
bool set_language(const std::string& code);

// The text of key in the current language, or the key itself.
const std::string& tr(const std::string& key);
std::string tr(const char* key);

std::string default_language_from_locale();
