#include "last_values.h"

#include "option_values.h"
#include "temp_tree.h"

namespace fs = std::filesystem;

namespace {
class LastValuesFile : public TempTree {};
}  // namespace

TEST_F(LastValuesFile, ReadingRules) {
    const fs::path f = write("lumeno_conf.dat",
                             "# Lumeno TUI last values\n"
                             "rootPath = /data\n"
                             "=orphan\n"
                             "empty=\n"
                             "formula=a=b\n"
                             "#hidden=1\n"
                             " #key=2\n"
                             "no separator\n"
                             "\n"
                             "dup=first\n"
                             "dup=second\n"
                             "\tspaced\t=v\n"
                             "last=no feed");
    const LastValues v = load_last_values(f);
    const LastValues expected = {{"rootPath", " /data"}, {"empty", ""},     {"formula", "a=b"}, {"#key", "2"},
                                 {"dup", "second"},      {"spaced", "v"}, {"last", "no feed"}};
    EXPECT_EQ(v, expected);
}

TEST_F(LastValuesFile, CarriageReturnsBelongToTheLineEnd) {
    const LastValues lf = load_last_values(write("lf", "# c\na=1\nb= x \n\nc=\n"));
    const LastValues crlf = load_last_values(write("crlf", "# c\r\na=1\r\nb= x \r\n\r\nc=\r\n"));
    EXPECT_EQ(lf, crlf);
    EXPECT_EQ(crlf.at("b"), " x ");
    EXPECT_EQ(crlf.at("c"), "");
}

TEST_F(LastValuesFile, MissingFileGivesEmptyMap) { EXPECT_TRUE(load_last_values(root_ / "none").empty()); }

TEST_F(LastValuesFile, SaveWritesHeaderAndOneLinePerKey) {
    const fs::path f = root_ / "out.dat";
    const LastValues values = {{"rootPath", "/x y"}, {"threads", ""}, {"lang", "fr"}, {"unknown", "kept=1"}};
    save_last_values(f, values);
    const std::string text = read("out.dat");
    EXPECT_EQ(text.rfind("# Lumeno TUI last values\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(load_last_values(f), values);

    save_last_values(f, {{"a", "1"}});
    EXPECT_EQ(read("out.dat"), "# Lumeno TUI last values\na=1\n");
    // A file that cannot be written is skipped silently.
    save_last_values(root_ / "no_such_folder" / "x.dat", values);
    EXPECT_FALSE(fs::exists(root_ / "no_such_folder"));
}

TEST(SearchNumbers, StoulRulesWithThirtyTwoBitLong) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> u32;
        std::optional<std::uint64_t> u64;
    };
    const Case cases[] = {
        {"12", 12u, 12u},
        {"  7", 7u, 7u},
        {"+5", 5u, 5u},
        {"12MB", 12u, 12u},
        {"1.5", 1u, 1u},
        {"-1", 4294967295u, 18446744073709551615ULL},
        {"-0", 0u, 0u},
        {"4294967295", 4294967295u, 4294967295ULL},
        {"4294967296", std::nullopt, 4294967296ULL},
        {"-4294967296", std::nullopt, 18446744069414584320ULL},
        {"18446744073709551615", std::nullopt, 18446744073709551615ULL},
        {"18446744073709551616", std::nullopt, std::nullopt},
        {"99999999999999999999999", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"abc", std::nullopt, std::nullopt},
        {"- 1", std::nullopt, std::nullopt},
        {"+-1", std::nullopt, std::nullopt},
        {"0x10", 0u, 0u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_stoul32(c.text), c.u32) << '"' << c.text << '"';
        EXPECT_EQ(parse_stoull(c.text), c.u64) << '"' << c.text << '"';
    }
}

TEST(SearchWizardValues, MergeTakesOnlyIntoStartValues) {
    const LastValues file = {{"rootPath", "C:\\data"}, {"filenamePattern", "*.log"}, {"contentPattern", "needle"},
                             {"contentRegex", ""},      {"filenameRegex", "^a"},      {"showStatistics", "1"},
                             {"duplicatesMode", "uniq"}, {"threads", "8"},            {"lang", "de"}};
    Options o;
    merge_last_values(o, file);
    EXPECT_EQ(o.rootPath, "C:\\data");
    EXPECT_EQ(o.filenamePattern, "*.log");
    EXPECT_EQ(o.contentPattern, "needle");
    EXPECT_TRUE(o.useContentPattern);
    EXPECT_EQ(o.contentRegex, "");
    EXPECT_FALSE(o.useContentRegex);
    EXPECT_EQ(o.filenameRegex, "^a");
    EXPECT_TRUE(o.useFilenameRegex);
    EXPECT_TRUE(o.showStatistics);
    EXPECT_EQ(o.duplicatesMode, 2u);
    EXPECT_TRUE(o.hasThreads);
    EXPECT_EQ(o.threads, 8u);

    // Values from an earlier pass of the run win over the file.
    Options earlier;
    earlier.rootPath = "/mine";
    earlier.filenamePattern = "";
    earlier.duplicatesMode = 1;
    earlier.hasThreads = true;
    earlier.threads = 0;
    merge_last_values(earlier, file);
    EXPECT_EQ(earlier.rootPath, "/mine");
    EXPECT_EQ(earlier.filenamePattern, "");
    EXPECT_EQ(earlier.duplicatesMode, 1u);
    EXPECT_EQ(earlier.threads, 0u);

    Options none;
    merge_last_values(none, {});
    EXPECT_EQ(none.rootPath, ".");
    EXPECT_EQ(none.filenamePattern, "*");

    for (const char* bad : {"0", "x", "", "4294967296"}) {
        Options t;
        merge_last_values(t, {{"threads", bad}, {"showStatistics", "yes"}, {"duplicatesMode", "DUP"}});
        EXPECT_FALSE(t.hasThreads) << bad;
        EXPECT_FALSE(t.showStatistics);
        EXPECT_EQ(t.duplicatesMode, 0u);
    }
    Options dup;
    merge_last_values(dup, {{"duplicatesMode", "dup"}, {"threads", "-1"}});
    EXPECT_EQ(dup.duplicatesMode, 1u);
    EXPECT_EQ(dup.threads, 4294967295u);
}

TEST(SearchWizardValues, SearchFieldsAndStoredKeys) {
    Options o;
    o.showStatistics = true;
    o.duplicatesMode = 1;
    apply_search_fields(o, {" /srv ", "*.txt\t", "", " a+ ", "x", " 10 ", "abc", "0"});
    EXPECT_EQ(o.rootPath, "/srv");
    EXPECT_EQ(o.filenamePattern, "*.txt");
    EXPECT_FALSE(o.useContentPattern);
    EXPECT_EQ(o.contentRegex, "a+");
    EXPECT_TRUE(o.useContentRegex);
    EXPECT_TRUE(o.useFilenameRegex);
    EXPECT_TRUE(o.hasMinSize);
    EXPECT_EQ(o.minSizeBytes, 10485760u);
    EXPECT_FALSE(o.hasMaxSize);
    EXPECT_EQ(o.maxSizeBytes, 0u);
    EXPECT_TRUE(o.hasThreads);
    EXPECT_EQ(o.threads, 0u);

    LastValues values = {{"lang", "it"}, {"other", "kept"}};
    store_search_values(o, values);
    const LastValues expected = {{"lang", "it"},          {"other", "kept"},        {"rootPath", "/srv"},
                                 {"filenamePattern", "*.txt"}, {"contentPattern", ""}, {"contentRegex", "a+"},
                                 {"filenameRegex", "x"},  {"showStatistics", "1"},  {"threads", "0"},
                                 {"duplicatesMode", "dup"}};
    EXPECT_EQ(values, expected);

    // Min 0 is a bound of 0 bytes; a huge count loses its high bits; bad threads give none.
    apply_search_fields(o, {".", "*", "", "", "", "0", "18446744073709551615", "99999999999"});
    EXPECT_TRUE(o.hasMinSize);
    EXPECT_EQ(o.minSizeBytes, 0u);
    EXPECT_TRUE(o.hasMaxSize);
    EXPECT_EQ(o.maxSizeBytes, 18446744073708503040ULL);
    EXPECT_FALSE(o.hasThreads);
    EXPECT_EQ(o.threads, 0u);
    o.duplicatesMode = 7;
    store_search_values(o, values);
    EXPECT_EQ(values["threads"], "");
    EXPECT_EQ(values["duplicatesMode"], "any");
    EXPECT_EQ(duplicates_mode_word(2), "uniq");
}
