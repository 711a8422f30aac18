// Corvane's catalog is the base message set alone, its letters stored as
// Windows-1252 bytes like the accented character class.
#include "base_messages.h"
#include "i18n.h"

const LanguageTable& language_catalog() {
    static const LanguageTable table = [] {
        LanguageTable languages;
        for (const std::string& code : kLanguageCodes) {
            const std::vector<text_entry> entries = base_messages(code, BaseTextForm::cp1252);
            languages.emplace(code, TextMap(entries.begin(), entries.end()));
        }
        return languages;
    }();
    return table;
}
