#include "app_loop.h"

#include <optional>

#include "base_messages.h"
#include "dialogs.h"
#include "i18n.h"
#include "last_values.h"
#include "lumo_messages.h"
#include "screen_helpers.h"
#include "wizard.h"

namespace fs = std::filesystem;

namespace {
class StartUp : public InTempFolder {
protected:
    void TearDown() override {
        set_language("en");
        InTempFolder::TearDown();
    }
};

constexpr int kRows = 30;
constexpr int kCols = 100;

class SearchPass : public InTempFolder {
protected:
    void SetUp() override {
        InTempFolder::SetUp();
        ASSERT_TRUE(set_language("en"));
        set_message_box_style(MessageBoxStyle::search);
    }
    void TearDown() override {
        set_message_box_style(MessageBoxStyle::translated);
        InTempFolder::TearDown();
    }
    static std::string search_button() { return std::string(8, '\t') + "\r"; }
};
}  // namespace

TEST_F(SearchPass, KeysTypedDuringTheSearchAreDiscarded) {
    write("data/a.txt", "needle\n");
    Options options;
    options.rootPath = (root_ / "data").string();
    CursesScreen screen(kRows, kCols);
    std::optional<ClosingKeys> closer;
    // An Enter typed while the search runs; Esc only once it has finished.
    const SearchFunction slowSearch = [&](const Options& o, std::uint64_t& scanned, std::uint32_t& threads,
                                          double& seconds, std::string* errorLine) {
        screen.type("\r");
        auto results = search_files(o, scanned, threads, seconds, errorLine);
        wait_for_pending_key();
        closer.emplace(screen, "\x1b");
        return results;
    };
    run_search_pass(screen.app(), options, slowSearch);
    closer.reset();
    const std::string shown = whole_screen(screen, kRows);
    EXPECT_NE(shown.find(" Lumeno - Results "), std::string::npos) << shown;
    EXPECT_EQ(shown.find(" Details "), std::string::npos) << shown;
}

TEST_F(SearchPass, AnErrorThrownByTheSearchEndsInItsBoxWithoutTheKeysTypedMeanwhile) {
    CursesScreen screen(kRows, kCols);
    std::optional<ClosingKeys> closer;
    run_search_pass(screen.app(), Options{},
                    [&](const Options&, std::uint64_t&, std::uint32_t&, double&, std::string*) -> std::vector<MatchInfo> {
                        screen.type("zz");
                        wait_for_pending_key();
                        closer.emplace(screen, "\x1b");
                        throw std::runtime_error("cannot read /d\x1b[2J");
                    });
    closer.reset();
    const std::string shown = whole_screen(screen, kRows);
    EXPECT_NE(shown.find(" FATAL "), std::string::npos) << shown;
    EXPECT_NE(shown.find("[Unhandled exception: cannot read /d\\x1b[2J "), std::string::npos) << shown;
    EXPECT_EQ(shown.find("zz"), std::string::npos) << shown;
}

// The file's values are not bound by the field's typing limit; Search saves them again before it searches.
TEST_F(SearchPass, DeeplyNestedExpressionFromTheFileGivesTheErrorBoxTwice) {
    const std::string nested = std::string(20000, '(') + "a" + std::string(20000, ')');
    write("data/a.txt", "a\n");
    write("lumeno_conf.dat", "rootPath=" + (root_ / "data").string() + "\ncontentRegex=" + nested + "\n");
    CursesScreen screen(kRows, kCols);
    Options options;
    for (int pass = 1; pass <= 2; ++pass) {
        screen.type(search_button());
        ASSERT_TRUE(tui_collect_options(screen.app(), options));
        ASSERT_EQ(options.contentRegex, nested);
        std::string errorLine;
        std::optional<ClosingKeys> closer;
        run_search_pass(screen.app(), options,
                        [&](const Options& o, std::uint64_t& scanned, std::uint32_t& threads, double& seconds,
                            std::string* line) {
                            auto results = search_files(o, scanned, threads, seconds, line);
                            errorLine = *line;
                            closer.emplace(screen, "\x1b");
                            return results;
                        });
        closer.reset();
        EXPECT_EQ(errorLine.rfind("[ERROR] Invalid --regex pattern: ", 0), 0u) << pass << ": " << errorLine;
        const std::string shown = whole_screen(screen, kRows);
        EXPECT_NE(shown.find(" Results "), std::string::npos) << pass << "\n" << shown;
        // The box shows the end of its text: the end of the error line.
        EXPECT_NE(shown.find(errorLine.substr(errorLine.size() - std::min<std::size_t>(errorLine.size(), 30))),
                  std::string::npos)
            << pass << "\n" << shown;
    }
    EXPECT_EQ(load_last_values(root_ / "lumeno_conf.dat").at("contentRegex"), nested);
}

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
        const auto own = catalogs::lumo_messages(lang);
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
    EXPECT_TRUE(catalogs::lumo_messages("xx").empty());
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
