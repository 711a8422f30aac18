#include "i18n.h"

#include <utility>

#include "ascii.h"
#include "user_locale.h"

std::string current_language = "en";
TextMap current_texts;

std::string normalize_language(std::string code) {
    code = platform::ascii_lower(std::move(code));
    if (code == "pt" || code == "pt-br" || code == "pt_br") return "pt_br";
    for (const char* two : {"en-us", "en_us", "es-es", "es_es", "fr-fr", "fr_fr", "de-de", "de_de", "it-it", "it_it"}) {
        if (code == two) return code.substr(0, 2);
    }
    return code;
}

bool set_language(const std::string& code) {
    const std::string c = normalize_language(code);
    const LanguageTable& table = language_catalog();
    const auto it = table.find(c);
    if (it == table.end()) return false;
    current_language = c;
    current_texts = it->second;
    return true;
}

const std::string& tr(const std::string& key) {
    const auto it = current_texts.find(key);
    return it == current_texts.end() ? key : it->second;
}

std::string tr(const char* key) {
    const auto it = current_texts.find(key);
    return it == current_texts.end() ? std::string(key) : it->second;
}

std::string default_language_from_locale() {
    wchar_t name[85] = {};
    if (GetUserDefaultLocaleName(name, 85) == 0) return "en";
    if (name[0] == L'\0' || name[1] == L'\0') return "en";
    const auto lower = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    const wchar_t a = lower(name[0]);
    const wchar_t b = lower(name[1]);
    const std::pair<const wchar_t*, const char*> prefixes[] = {
        {L"pt", "pt_br"}, {L"es", "es"}, {L"fr", "fr"}, {L"de", "de"}, {L"it", "it"}};
    for (const auto& [prefix, code] : prefixes)
        if (a == prefix[0] && b == prefix[1]) return code;
    return "en";
}
