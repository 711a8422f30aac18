#include "app_loop.h"

#include "base_messages.h"
#include "i18n.h"
#include "lumo_messages.h"
#include "screen_helpers.h"

namespace fs = std::filesystem;

namespace {
class StartUp : public InTempFolder {
protected:
    void TearDown() override {
        set_language("en");
        InTempFolder::TearDown();
    }
};
}  // namespace

TEST(SearchStatistics, BoxText) {
    EXPECT_EQ(statistics_text(3, 1, 1, 2, 0.0125),
              "Candidates scanned: 3\nMatches (before dup filter): 1\nMatches (after dup filter):  1\n"
              "Threads used: 2\nElapsed: 0.013 s\n");
    EXPECT_EQ(statistics_text(0, 4, 0, 0, 12.0),
              "Candidates scanned: 0\nMatches (before dup filter): 4\nMatches (after dup filter):  0\n"
              "Threads used: 0\nElapsed: 12.000 s\n");
}

TEST_F(StartUp, StartLanguageFromLastValues) {
    const std::pair<const char*, const char*> cases[] = {
        {"lang=de\n", "de"}, {"lang=EN\n", "en"}, {"lang=pt-BR\n", "pt_br"},
        {"lang=xx\n", "en"}, {"rootPath=/x\n", "en"}, {"lang= fr\n", "en"},
    };
    for (const auto& [file, language] : cases) {
        set_language("it");
        write("lumeno_conf.dat", file);
        choose_start_language();
        EXPECT_EQ(current_language, language) << file;
    }
    fs::remove(root_ / "lumeno_conf.dat");
    set_language("it");
    choose_start_language();
    EXPECT_EQ(current_language, "en");
    EXPECT_EQ(tr("lumo_title"), "Lumeno");
}

TEST_F(StartUp, ProgramFolderBecomesCurrent) {
    fs::create_directories(root_ / "bin");
    enter_program_folder((root_ / "bin" / "Lumeno").c_str());
    EXPECT_EQ(fs::current_path(), root_ / "bin");
    enter_program_folder("../Lumeno");
    EXPECT_EQ(fs::current_path(), root_);
    // A bare name lies in the start folder; a missing folder or no path changes nothing.
    enter_program_folder("Lumeno");
    EXPECT_EQ(fs::current_path(), root_);
    enter_program_folder((root_ / "nowhere" / "Lumeno").c_str());
    EXPECT_EQ(fs::current_path(), root_);
    enter_program_folder("");
    enter_program_folder(nullptr);
    EXPECT_EQ(fs::current_path(), root_);
}

TEST(SearchCatalog, SixLanguagesOfSeventyEightTexts) {
    const LanguageTable& table = language_catalog();
    ASSERT_EQ(table.size(), 6u);
    for (const std::string& lang : kLanguageCodes) {
        const TextMap& texts = table.at(lang);
        EXPECT_EQ(texts.size(), 78u) << lang;
        const auto own = lumo_messages(lang);
        ASSERT_EQ(own.size(), 37u) << lang;
        EXPECT_EQ(own.front().first, "lumo_title");
        EXPECT_EQ(own.back().first, "lumo_bytes");
        EXPECT_EQ(texts.at("lumo_title"), "Lumeno");
        for (const auto& [key, text] : base_messages(lang, BaseTextForm::utf8)) EXPECT_EQ(texts.at(key), text);
        for (const auto& [key, text] : own) {
            EXPECT_EQ(key.rfind("lumo_", 0), 0u);
            EXPECT_EQ(texts.at(key), text);
            ASSERT_FALSE(text.empty());
            EXPECT_NE(text.front(), ' ');
            EXPECT_NE(text.back(), ' ');
            EXPECT_EQ(text.find('%'), std::string::npos);
            // French puts a blank before every colon, the others never do.
            for (std::size_t p = text.find(':'); p != std::string::npos; p = text.find(':', p + 1))
                EXPECT_EQ(text[p - 1] == ' ', lang == "fr") << lang << " " << key;
        }
    }
    EXPECT_TRUE(lumo_messages("xx").empty());
}

TEST(SearchCatalog, TextsThroughTheRuntime) {
    ASSERT_TRUE(set_language("de"));
    EXPECT_EQ(tr("lumo_btn_stats_prefix") + " " + tr("lumo_on"), "Statistik: AN");
    ASSERT_TRUE(set_language("fr"));
    EXPECT_EQ(tr("lumo_btn_stats_prefix") + " " + tr("lumo_on"), "Statistiques : ON");
    ASSERT_TRUE(set_language("pt_br"));
    EXPECT_EQ(tr("lang_ptbr"), "Português (Brasil)");
    EXPECT_EQ(tr("lumo_det_first_line"), "Linha do 1\u00ba match");
    ASSERT_TRUE(set_language("it"));
    EXPECT_EQ(tr("lumo_det_first_line"), "Riga del 1\u00b0 match");
    EXPECT_EQ(tr("vornix_title"), "vornix_title");
    set_language("en");
}
