// The search program's catalog: the base texts and the lumo_ texts, UTF-8.
#include "base_messages.h"
#include "i18n.h"
#include "lumo_messages.h"

const LanguageTable& language_catalog() {
    static const LanguageTable table = [] {
        LanguageTable t;
        for (const std::string& lang : kLanguageCodes) {
            TextMap texts;
            for (auto& [key, text] : base_messages(lang, BaseTextForm::utf8)) texts.emplace(key, text);
            for (auto& [key, text] : catalogs::lumo_messages(lang)) texts.emplace(key, text);
            t.emplace(lang, std::move(texts));
        }
        return t;
    }();
    return table;
}
