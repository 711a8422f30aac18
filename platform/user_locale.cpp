#include "user_locale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>

std::string user_locale_name() {
    std::string raw;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && *v != '\0') {
            raw = v;
            break;
        }
    }
    raw = raw.substr(0, raw.find_first_of(".@"));
    if (raw == "C" || raw == "POSIX") return {};
    for (char& c : raw)
        if (c == '_') c = '-';
    return raw;
}

int GetUserDefaultLocaleName(wchar_t* buf, int capacity) {
    const std::string name = user_locale_name();
    if (name.empty() || buf == nullptr || static_cast<int>(name.size()) + 1 > capacity) return 0;
    for (std::size_t i = 0; i < name.size(); ++i) buf[i] = static_cast<unsigned char>(name[i]);
    buf[name.size()] = L'\0';
    return static_cast<int>(name.size()) + 1;
}

void use_utf8_terminal_locale() {
    const char* chosen = std::setlocale(LC_CTYPE, "");
    if (chosen == nullptr || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
}
