#include "wizard.h"

#include "i18n.h"
#include "last_values.h"
#include "screen_helpers.h"

namespace {

constexpr int kRows = 30;
constexpr int kCols = 100;

class Wizard : public InTempFolder {
protected:
    void SetUp() override {
        InTempFolder::SetUp();
        ASSERT_TRUE(set_language("en"));
    }
    void TearDown() override {
        set_language("en");
        InTempFolder::TearDown();
    }
    static std::string to_button(int index) { return std::string(static_cast<std::size_t>(8 + index), '\t') + "\r"; }
};

}  // namespace

TEST_F(Wizard, ShowsMergedLastValuesAndEscSavesNothing) {
    const std::string file = "# c\nrootPath=/data\nfilenamePattern=*.log\nshowStatistics=1\nthreads=3\n";
    write("lumeno_conf.dat", file);
    CursesScreen screen(kRows, kCols);
    Options options;
    screen.type("\x1b");
    EXPECT_FALSE(tui_collect_options(screen.app(), options));
    const std::string shown = whole_screen(screen, kRows);
    EXPECT_EQ(screen.text_at(2, 2 + (96 - 8) / 2, 8), " Lumeno ");
    EXPECT_EQ(screen.text_at(4, 5, 10), "Root path:");
    EXPECT_EQ(screen.text_at(4, 35, 6), "[/data");
    EXPECT_EQ(screen.text_at(6, 5, 28), "Filename wildcard (e.g. *...");
    EXPECT_EQ(screen.text_at(6, 35, 6), "[*.log");
    EXPECT_EQ(screen.text_at(18, 35, 3), "[3 ");
    EXPECT_NE(shown.find("TAB move | Enter activate | Esc back"), std::string::npos);
    EXPECT_NE(shown.find("[ Search ] [ Statistics: ON ] [ Duplicates: ANY ] [ Language: en ] [ Exit ]"),
              std::string::npos)
        << shown;
    EXPECT_EQ(options.rootPath, "/data");
    EXPECT_TRUE(options.showStatistics);
    EXPECT_EQ(read("lumeno_conf.dat"), file);
}

TEST_F(Wizard, ButtonsToggleCycleAndSwitchLanguage) {
    CursesScreen screen(kRows, kCols);
    Options options;
    // Typed text is dropped when a button rebuilds the form.
    screen.type("zzz" + to_button(1) + to_button(2) + to_button(2) + to_button(2) + to_button(2) + to_button(3) +
                to_button(0));
    EXPECT_TRUE(tui_collect_options(screen.app(), options));
    EXPECT_TRUE(options.searchRequested);
    EXPECT_TRUE(options.showStatistics);
    EXPECT_EQ(options.duplicatesMode, 1u);
    EXPECT_EQ(options.rootPath, ".");
    EXPECT_EQ(current_language, "pt_br");
    const LastValues saved = load_last_values(root_ / "lumeno_conf.dat");
    EXPECT_EQ(saved.at("lang"), "pt_br");
    EXPECT_EQ(saved.at("showStatistics"), "1");
    EXPECT_EQ(saved.at("duplicatesMode"), "dup");
    EXPECT_EQ(saved.at("rootPath"), ".");
    EXPECT_EQ(saved.size(), 9u);
    const std::string shown = whole_screen(screen, kRows);
    for (const char* button : {"[ Buscar ]", "[ Estatísticas: ON ]", "[ Duplicados: SÓ DUP ]", "[ Idioma: pt_br ]",
                               "[ Sair ]"})
        EXPECT_NE(shown.find(button), std::string::npos) << button << "\n" << shown;
    EXPECT_NE(shown.find("Pasta raiz:"), std::string::npos);
}

TEST_F(Wizard, LanguageButtonWritesTheFileAtOnce) {
    ASSERT_TRUE(set_language("it"));
    write("lumeno_conf.dat", "lang=it\nrootPath=/kept\n");
    CursesScreen screen(kRows, kCols);
    Options options;
    screen.type(to_button(3) + "\x1b");
    EXPECT_FALSE(tui_collect_options(screen.app(), options));
    EXPECT_EQ(current_language, "en");
    const LastValues saved = load_last_values(root_ / "lumeno_conf.dat");
    EXPECT_EQ(saved, (LastValues{{"lang", "en"}, {"rootPath", "/kept"}}));
}

TEST_F(Wizard, SearchReadsTrimmedFieldsAndStoresThem) {
    CursesScreen screen(kRows, kCols);
    Options options;
    options.hasMinSize = true;
    options.minSizeBytes = 5u << 20;
    screen.type("\x7f  /srv \t\x7f*.md\tneedle\t\tREAD\t\t 2 \tabc\t\r");
    EXPECT_TRUE(tui_collect_options(screen.app(), options));
    EXPECT_EQ(options.rootPath, "/srv");
    EXPECT_EQ(options.filenamePattern, "*.md");
    EXPECT_EQ(options.contentPattern, "needle");
    EXPECT_TRUE(options.useContentPattern);
    EXPECT_FALSE(options.useContentRegex);
    EXPECT_EQ(options.filenameRegex, "READ");
    EXPECT_TRUE(options.useFilenameRegex);
    // The min field started as "5" from Options and was left as it was.
    EXPECT_TRUE(options.hasMinSize);
    EXPECT_EQ(options.minSizeBytes, 5u << 20);
    EXPECT_TRUE(options.hasMaxSize);
    EXPECT_EQ(options.maxSizeBytes, 2u << 20);
    EXPECT_FALSE(options.hasThreads);
    const LastValues saved = load_last_values(root_ / "lumeno_conf.dat");
    const LastValues expected = {{"rootPath", "/srv"},      {"filenamePattern", "*.md"}, {"contentPattern", "needle"},
                                 {"contentRegex", ""},      {"filenameRegex", "READ"},   {"showStatistics", "0"},
                                 {"threads", ""},           {"duplicatesMode", "any"}};
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(read("lumeno_conf.dat").rfind("# Lumeno TUI last values\n", 0), 0u);
}

TEST(SearchLanguages, NextLanguageAndDuplicateLabels) {
    EXPECT_EQ(supported_languages(), (std::vector<std::string>{"en", "pt_br", "es", "fr", "de", "it"}));
    EXPECT_EQ(next_language("en"), "pt_br");
    EXPECT_EQ(next_language("de"), "it");
    EXPECT_EQ(next_language("it"), "en");
    EXPECT_EQ(next_language("EN"), "en");
    EXPECT_EQ(next_language(""), "en");

    ASSERT_TRUE(set_language("es"));
    Options o;
    std::vector<std::string> labels;
    for (std::uint32_t mode : {0u, 1u, 2u, 7u}) {
        o.duplicatesMode = mode;
        labels.push_back(dup_mode_label(o));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Duplicados: CUALQUIERA", "Duplicados: SOLO DUP",
                                                "Duplicados: SOLO ÚNICOS", "Duplicados: SOLO ÚNICOS"}));
    set_language("en");
}
