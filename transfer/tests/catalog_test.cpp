#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base_messages.h"
#include "i18n.h"

namespace {
const char* const kOwnKeys[] = {
    "p2p_title",        "p2p_main_status",   "p2p_menu_send",     "p2p_menu_recv",      "p2p_menu_lang",
    "p2p_menu_exit",    "p2p_send_title",    "p2p_recv_title",    "p2p_in_file",        "p2p_in_port",
    "p2p_in_host",      "p2p_in_outdir",     "p2p_btn_start",     "p2p_btn_back",       "p2p_btn_connect",
    "p2p_share_title",  "p2p_share_hint",    "p2p_share_host",    "p2p_share_port",     "p2p_share_sess",
    "p2p_share_fp",     "p2p_log_listening", "p2p_log_wait_conn", "p2p_log_connected",  "p2p_log_handshake",
    "p2p_log_transfer", "p2p_log_done",      "p2p_err_file",      "p2p_err_listen",     "p2p_err_accept",
    "p2p_err_connect",  "p2p_err_host",      "p2p_err_outdir",    "p2p_err_zeyla_init", "p2p_err_handshake",
    "p2p_err_transfer", "p2p_err_receive",   "p2p_press_any"};

std::string lookup(const std::string& lang, const std::string& key) {
    const auto& texts = language_catalog().at(lang);
    auto it = texts.find(key);
    return it == texts.end() ? "<missing " + key + ">" : it->second;
}
}  // namespace

TEST(Catalog, SixLanguagesOf79KeysWithTheBaseTexts) {
    const auto& table = language_catalog();
    EXPECT_EQ(&table, &language_catalog());
    ASSERT_EQ(table.size(), 6u);
    for (const auto& lang : kLanguageCodes) {
        ASSERT_TRUE(table.count(lang)) << lang;
        const auto& texts = table.at(lang);
        EXPECT_EQ(texts.size(), 79u) << lang;
        for (const auto& [key, text] : base_messages(lang, BaseTextForm::utf8))
            EXPECT_EQ(lookup(lang, key), text) << lang << " " << key;
        for (const char* key : kOwnKeys) {
            const std::string text = lookup(lang, key);
            EXPECT_FALSE(text.empty()) << lang << " " << key;
            EXPECT_EQ(text.find('\n'), std::string::npos) << lang << " " << key;
            const bool has_port = std::string(key) == "p2p_log_listening" || std::string(key) == "p2p_err_listen";
            const auto first = text.find('%');
            EXPECT_EQ(first != std::string::npos, has_port) << lang << " " << key;
            if (has_port) {
                EXPECT_EQ(text.substr(first, 2), "%d") << lang << " " << key;
                EXPECT_EQ(text.find('%', first + 1), std::string::npos) << lang << " " << key;
            }
        }
    }
    EXPECT_EQ(lookup("en", "app_title"), "Corvane");
}

// The printf directives of a text, in order: a translation that drops,
// adds or changes one would misformat or read past its arguments.
std::vector<std::string> directives(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 2))
        out.push_back(text.substr(i, 2));
    return out;
}

TEST(Catalog, EveryLanguageHasEnglishKeysWithTheirDirectives) {
    const auto& table = language_catalog();
    const TextMap& english = table.at("en");
    for (const auto& lang : kLanguageCodes) {
        const TextMap& texts = table.at(lang);
        EXPECT_EQ(texts.size(), english.size()) << lang;
        for (const auto& [key, text] : english) {
            const auto it = texts.find(key);
            ASSERT_NE(it, texts.end()) << lang << " " << key;
            EXPECT_FALSE(it->second.empty()) << lang << " " << key;
            EXPECT_EQ(directives(it->second), directives(text)) << lang << " " << key;
        }
    }
}

TEST(Catalog, TranslationsThroughSetLanguage) {
    ASSERT_TRUE(set_language("pt-BR"));
    EXPECT_EQ(tr("p2p_menu_send"), "Enviar arquivo");
    EXPECT_EQ(tr("p2p_title"), "Zeyla Transferência Segura P2P");
    EXPECT_EQ(tr("p2p_err_file"), "Arquivo não encontrado ou não é arquivo regular.");

    ASSERT_TRUE(set_language("de"));
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, tr("p2p_err_listen").c_str(), 28473);
    EXPECT_STREQ(buffer, "Konnte nicht auf Port 28473 lauschen.");
    EXPECT_EQ(tr("p2p_log_transfer"), "Übertrage Datei...");
    EXPECT_EQ(tr("p2p_press_any"), "Enter zum Zurück");

    const struct {
        const char* lang;
        const char* key;
        const char* text;
    } cases[] = {{"es", "p2p_main_status", "Arriba/Abajo mueve | Enter selecciona | Esc sale | Escribe para filtrar"},
                 {"fr", "p2p_share_hint", "Vérifiez le fingerprint des deux côtés. Entrée pour attendre."},
                 {"fr", "p2p_in_host", "Hôte/IP de l'expéditeur"},
                 {"it", "p2p_err_listen", "Impossibile mettersi in ascolto sulla porta %d."},
                 {"it", "p2p_main_status", "Su/Giù muove | Invio seleziona | Esc esce | Digita per filtrare"},
                 {"es", "p2p_log_done", "Hecho."},
                 {"pt_br", "p2p_share_sess", "Sessão"},
                 {"de", "p2p_err_zeyla_init", "Zeyla-Session konnte nicht initialisiert werden (liboqs)."}};
    for (const auto& c : cases) {
        ASSERT_TRUE(set_language(c.lang));
        EXPECT_EQ(tr(c.key), c.text) << c.lang << " " << c.key;
        EXPECT_EQ(tr("p2p_err_file").find("p2p_"), std::string::npos) << c.lang;
    }
    set_language("en");
}
