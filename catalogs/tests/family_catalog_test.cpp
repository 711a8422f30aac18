#include <gtest/gtest.h>

#include <set>

#include "family_catalog.h"
#include "i18n.h"

namespace {
bool plain_ascii(const std::string& s) {
    for (unsigned char c : s)
        if (c < 32 || c > 126) return false;
    return true;
}

TEST(FamilyCatalog, EveryLanguageHoldsTheSame95Keys) {
    const LanguageTable& table = language_catalog();
    ASSERT_EQ(table.size(), 6u);
    std::set<std::string> english_keys;
    for (const auto& [key, text] : table.at("en")) english_keys.insert(key);
    EXPECT_EQ(english_keys.size(), 95u);
    for (const std::string& lang : kLanguageCodes) {
        const TextMap& texts = table.at(lang);
        std::set<std::string> keys;
        int vornix = 0, lumo = 0;
        for (const auto& [key, text] : texts) {
            keys.insert(key);
            if (key.rfind("vornix_", 0) == 0) ++vornix;
            if (key.rfind("lumo_", 0) == 0) ++lumo;
            SCOPED_TRACE(lang + " " + key);
            ASSERT_FALSE(text.empty());
            EXPECT_EQ(text.find_first_of("\t\r\n"), std::string::npos);
            EXPECT_NE(text.front(), ' ');
            EXPECT_NE(text.back(), ' ');
            if (key.rfind("lumo_", 0) != 0) {
                EXPECT_TRUE(plain_ascii(text));
            }
        }
        EXPECT_EQ(keys, english_keys) << lang;
        EXPECT_EQ(vornix, 17) << lang;
        EXPECT_EQ(lumo, 37) << lang;
    }
}

TEST(FamilyCatalog, VornixListIsInOrderAndUnknownLanguageIsEmpty) {
    const auto en = catalogs::vornix_messages("en");
    ASSERT_EQ(en.size(), 17u);
    EXPECT_EQ(en.front(), (text_entry{"vornix_title", "Vornix"}));
    EXPECT_EQ(en.back(), (text_entry{"vornix_token_label", "Token"}));
    EXPECT_TRUE(catalogs::vornix_messages("nl").empty());
}

TEST(FamilyCatalog, LanguagesGiveTheirTexts) {
    for (const std::string& lang : kLanguageCodes) {
        ASSERT_TRUE(set_language(lang));
        EXPECT_EQ(tr("vornix_yes"), "Yes") << lang;
        EXPECT_EQ(tr("vornix_token_label"), "Token") << lang;
    }
    ASSERT_TRUE(set_language("en"));
    EXPECT_EQ(tr("vornix_confirm_hint"), "Type token to continue");
    EXPECT_EQ(tr("wizard_status"), "TAB move | Enter activate | Esc exit");

    ASSERT_TRUE(set_language("de"));
    EXPECT_EQ(tr("vornix_passes"), "Durchlaeufe");
    EXPECT_EQ(tr("vornix_confirm_title"), "Loeschen bestaetigen");
    EXPECT_EQ(tr("wizard_status"), "TAB wechseln | Enter aktivieren | Esc beenden");

    ASSERT_TRUE(set_language("es"));
    EXPECT_EQ(tr("vornix_btn_go"), "OK");
    EXPECT_EQ(tr("lang_es"), "Espanol");
    EXPECT_EQ(tr("msg_copied_2"), "Pagala en un lugar seguro.");

    ASSERT_TRUE(set_language("fr"));
    EXPECT_EQ(tr("lang_ptbr"), "Portugais (Brasil)");
    EXPECT_EQ(tr("lumo_results_title"), "R\xc3\xa9sultats");
    EXPECT_EQ(tr("vornix_btn_start"), "Demarrer");

    ASSERT_TRUE(set_language("pt_br"));
    EXPECT_EQ(tr("lang_ptbr"), "Portugues (Brasil)");
    EXPECT_EQ(tr("p2p_menu_send"), "p2p_menu_send");
}
}  // namespace
