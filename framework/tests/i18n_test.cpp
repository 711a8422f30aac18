#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "base_messages.h"
#include "i18n.h"

// The framework's tests run on the base texts alone, plus one key only
// English has, to show that a missing key falls back to itself.
const LanguageTable& language_catalog() {
    static const LanguageTable table = [] {
        LanguageTable t;
        for (const std::string& lang : kLanguageCodes) {
            TextMap texts;
            for (auto& [key, text] : base_messages(lang, BaseTextForm::utf8)) texts.emplace(key, text);
            texts.emplace("lumo_msg_ok_continue", lang == "en" ? "Press OK to continue" : "OK?");
            if (lang == "en") texts.emplace("only_english", "Only English");
            t.emplace(lang, std::move(texts));
        }
        return t;
    }();
    return table;
}

namespace {
class I18n : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        current_language = "en";
        current_texts.clear();
    }
};

TEST_F(I18n, NormalizesCodes) {
    const std::pair<const char*, const char*> cases[] = {
        {"PT", "pt_br"}, {"pt", "pt_br"},    {"pt-BR", "pt_br"}, {"pt_br", "pt_br"}, {"EN_US", "en"},
        {"en-us", "en"}, {"es-ES", "es"},    {"fr_fr", "fr"},    {"DE-de", "de"},    {"it_IT", "it"},
        {"EN", "en"},    {"pt-PT", "pt-pt"}, {"en-GB", "en-gb"}, {"", ""},           {"xx", "xx"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(normalize_language(in), out) << "code " << in;
}

TEST_F(I18n, TrReturnsKeysUntilALanguageIsSet) {
    EXPECT_EQ(tr("lang_title"), "lang_title");
    EXPECT_EQ(tr(std::string("btn_exit")), "btn_exit");
    ASSERT_TRUE(set_language("de"));
    EXPECT_EQ(tr("lang_title"), "Sprache");
    EXPECT_EQ(tr("only_english"), "only_english");
    EXPECT_EQ(tr("no_such_key"), "no_such_key");
}

TEST_F(I18n, SetLanguageAcceptsVariantsAndRefusesUnknownCodes) {
    for (const char* code : {"PT", "pt-BR", "pt_br"}) {
        reset();
        EXPECT_TRUE(set_language(code)) << code;
        EXPECT_EQ(current_language, "pt_br") << code;
        EXPECT_EQ(tr("lang_title"), "Idioma");
    }
    ASSERT_TRUE(set_language("EN_US"));
    EXPECT_EQ(current_language, "en");
    const TextMap before = current_texts;
    EXPECT_FALSE(set_language("en-GB"));
    EXPECT_FALSE(set_language(""));
    EXPECT_EQ(current_language, "en");
    EXPECT_EQ(current_texts, before);
}

TEST_F(I18n, CurrentTextsAreACopy) {
    ASSERT_TRUE(set_language("fr"));
    current_texts["lang_title"] = "changed";
    ASSERT_TRUE(set_language("fr"));
    EXPECT_EQ(tr("lang_title"), "Langue");
}

TEST_F(I18n, DefaultLanguageFollowsTheLocaleName) {
    const struct {
        const char* lc_all;
        const char* lc_messages;
        const char* lang;
        const char* expected;
    } cases[] = {
        {"", "", "it_CH.UTF-8", "it"},
        {"", "", "p", "en"},
        {"", "", "de_AT", "de"},
        {"", "", "pt_PT.UTF-8", "pt_br"},
        {"", "", "en_GB.UTF-8", "en"},
        {"", "", "nl_NL", "en"},
        {"", "", "C", "en"},
        {"", "", "POSIX", "en"},
        {"", "", "", "en"},
        {"fr_FR.UTF-8", "", "de_DE", "fr"},
        {"", "es_ES", "de_DE", "es"},
        {"", "", "C.UTF-8", "en"},
    };
    for (const auto& c : cases) {
        setenv("LC_ALL", c.lc_all, 1);
        setenv("LC_MESSAGES", c.lc_messages, 1);
        setenv("LANG", c.lang, 1);
        EXPECT_EQ(default_language_from_locale(), c.expected)
            << "LC_ALL=" << c.lc_all << " LC_MESSAGES=" << c.lc_messages << " LANG=" << c.lang;
    }
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    EXPECT_EQ(default_language_from_locale(), "en");
}

TEST(BaseMessages, EveryLanguageHasTheSameFortyOneKeys) {
    std::set<std::string> english;
    for (auto& [key, text] : base_messages("en", BaseTextForm::utf8)) english.insert(key);
    ASSERT_EQ(english.size(), 41u);
    for (const std::string& lang : kLanguageCodes) {
        for (BaseTextForm form : {BaseTextForm::utf8, BaseTextForm::cp1252, BaseTextForm::ascii}) {
            std::set<std::string> keys;
            for (auto& [key, text] : base_messages(lang, form)) {
                keys.insert(key);
                EXPECT_FALSE(text.empty()) << lang << " " << key;
                EXPECT_EQ(text.find('\n'), std::string::npos) << lang << " " << key;
                const bool has_percent = text.find('%') != std::string::npos;
                EXPECT_EQ(has_percent, key == "msg_clip_will_clear") << lang << " " << key;
            }
            EXPECT_EQ(keys, english) << lang;
        }
    }
}

std::string text_of(const std::string& lang, BaseTextForm form, const std::string& key) {
    for (auto& [k, text] : base_messages(lang, form))
        if (k == key) return text;
    return {};
}

TEST(BaseMessages, SampleTextsInEachForm) {
    const struct {
        const char* lang;
        BaseTextForm form;
        const char* key;
        const char* text;
    } cases[] = {
        {"pt_br", BaseTextForm::utf8, "wizard_status", "TAB move | Enter ativar | Esc sair"},
        {"it", BaseTextForm::utf8, "generated_title", "Password generate"},
        {"fr", BaseTextForm::utf8, "msg_box_status", "Entrée OK | Échap fermer"},
        {"es", BaseTextForm::utf8, "lang_title", "Idioma"},
        {"pt_br", BaseTextForm::utf8, "lang_title", "Idioma"},
        {"de", BaseTextForm::cp1252, "lbl_length", "L\xE4nge:"},
        {"fr", BaseTextForm::cp1252, "lang_fr",
         "Fran\xE7"
         "ais"},
        {"de", BaseTextForm::ascii, "lbl_length", "Lange:"},
        {"de", BaseTextForm::ascii, "err_invalid_length", "Ungultige Lange. Verwenden Sie eine Zahl > 0."},
        {"de", BaseTextForm::ascii, "lbl_exclude", "Ausschliessen (optional):"},
        {"de", BaseTextForm::ascii, "msg_box_status", "Enter OK | Esc schliessen"},
        {"pt_br", BaseTextForm::ascii, "lang_ptbr", "Portugues (Brasil)"},
        {"es", BaseTextForm::ascii, "lang_es", "Espanol"},
        {"es", BaseTextForm::ascii, "msg_copied_2", "Pagala en un lugar seguro."},
        {"es", BaseTextForm::ascii, "msg_clip_will_clear", "El portapapeles se borrare en %d segundos."},
        {"fr", BaseTextForm::ascii, "lang_ptbr", "Portugais (Brasil)"},
        {"fr", BaseTextForm::ascii, "err_gen_failed_prefix", "echec de generation:"},
        {"fr", BaseTextForm::ascii, "wizard_status", "TAB deplacer | Entree activer | Echap quitter"},
        {"it", BaseTextForm::ascii, "lbl_quantity", "Quantite:"},
        {"it", BaseTextForm::ascii, "menu_status", "Su/Giu sposta | Invio copia | Esc indietro | Digita per filtrare"},
        {"en", BaseTextForm::ascii, "app_title", "Corvane"},
    };
    for (const auto& c : cases) EXPECT_EQ(text_of(c.lang, c.form, c.key), c.text) << c.lang << " " << c.key;
}

TEST(BaseMessages, AsciiFormFollowsTheAccentRuleSaveNineTexts) {
    EXPECT_EQ(strip_accents("\xc3\x89"
                            "chap \xc3\xa0\xc3\xa1\xc3\xa3\xc3\xa4\xc3\xa7\xc3\xa9\xc3\xaa\xc3\xad"
                            "\xc3\xb1\xc3\xb3\xc3\xb6\xc3\xb9\xc3\xba\xc3\xbc\xc3\x9f %d"),
              "Echap aaaaceeinoouuuss %d");
    int exceptions = 0;
    for (const std::string& lang : kLanguageCodes) {
        const auto utf8 = base_messages(lang, BaseTextForm::utf8);
        const auto ascii = base_messages(lang, BaseTextForm::ascii);
        ASSERT_EQ(utf8.size(), ascii.size());
        for (std::size_t i = 0; i < utf8.size(); ++i)
            if (strip_accents(utf8[i].second) != ascii[i].second) ++exceptions;
    }
    EXPECT_EQ(exceptions, 9);
}

TEST(BaseMessages, AsciiAndCp1252FormsHaveOneBytePerLetter) {
    for (const std::string& lang : kLanguageCodes) {
        for (auto& [key, text] : base_messages(lang, BaseTextForm::ascii))
            for (char ch : text) EXPECT_LT(static_cast<unsigned char>(ch), 0x80) << lang << " " << key;
        for (auto& [key, text] : base_messages(lang, BaseTextForm::cp1252))
            EXPECT_EQ(text.find('?'), std::string::npos) << lang << " " << key;
    }
}

TEST(BaseMessages, ClipboardFormatTakesTheSecondsInEveryLanguage) {
    for (const std::string& lang : kLanguageCodes) {
        const std::string format = text_of(lang, BaseTextForm::utf8, "msg_clip_will_clear");
        char buf[256];
        std::snprintf(buf, sizeof buf, format.c_str(), 30);
        std::string expected = format;
        expected.replace(expected.find("%d"), 2, "30");
        EXPECT_EQ(buf, expected) << lang;
    }
}
}  // namespace
