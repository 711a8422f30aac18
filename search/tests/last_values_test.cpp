#include "last_values.h"

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "option_values.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {
class LastValuesFile : public TempTree {
protected:
    std::vector<std::string> names_in(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// What the wizard does with a loaded file on Search when no field was edited.
std::string wizard_save(const LastValues& loaded, LastValues& stored) {
    Options options;
    stored = loaded;
    merge_last_values(options, stored);
    store_search_values(options, stored);
    return format_last_values(stored);
}

std::string nested_groups(std::size_t depth) { return std::string(depth, '(') + "a" + std::string(depth, ')'); }
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

// Whatever is put in the file's place, the start neither blocks nor reads without end.
TEST_F(LastValuesFile, PipesDevicesAndFoldersGiveEmptyMaps) {
    ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", root_ / "zero");
    fs::create_directory(root_ / "folder");
    for (const char* name : {"pipe", "zero", "folder"}) EXPECT_TRUE(load_last_values(root_ / name).empty()) << name;
    fs::create_symlink(write("real", "lang=de\n"), root_ / "link");
    EXPECT_EQ(load_last_values(root_ / "link").at("lang"), "de");
}

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

TEST(SearchLastValuesText, AwkwardValuesSurviveLoadMergeSaveLoadSave) {
    const std::string cases[] = {
        "",
        "# only a comment\n\n",
        "rootPath= /data \nfilenamePattern=\t*.log\t\n",
        "rootPath=/ends in cr\r\r\n",
        "contentPattern=\r\r\ncontentRegex=\r\r\r\n",
        "contentPattern=inner\rcr\n",
        "filenamePattern=a=b=c\nfilenameRegex==\n",
        " #hidden=1\n#comment=2\n",
        "\tkey with blanks \t=v\n",
        "threads=-1\nshowStatistics=1\r\nduplicatesMode=uniq\n",
        "threads= 7x\nshowStatistics=yes\nduplicatesMode=DUP\n",
        "threads=0\nduplicatesMode=dup",
        "lang=de\nunknown=kept\nlast=cr only\r",
        std::string("rootPath=nul\0byte\nk\0=v\n", 23),
        "rootPath=/d\xc3\xa9j\xe0\ncontentPattern=\x1b[2J\x7f\n",
        "dup=first\ndup=second\n",
        "contentRegex=" + nested_groups(20000) + "\n",
    };
    for (const std::string& text : cases) {
        LastValues first;
        const std::string firstSave = wizard_save(parse_last_values(text), first);
        const LastValues reloaded = parse_last_values(firstSave);
        EXPECT_EQ(reloaded, first) << '"' << text << '"';
        LastValues second;
        EXPECT_EQ(wizard_save(reloaded, second), firstSave) << '"' << text << '"';
        EXPECT_EQ(second, first) << '"' << text << '"';
    }
    // The loaded values themselves come back as they were read.
    const LastValues kept = parse_last_values("rootPath= /a \r\r\n #k=1\ncontentPattern=x\ry\n");
    EXPECT_EQ(parse_last_values(format_last_values(kept)), kept);
    EXPECT_EQ(kept.at("rootPath"), " /a \r");
    EXPECT_EQ(kept.at("#k"), "1");
}

TEST(SearchLastValuesText, UnwritableEntriesAreNormalisedOnce) {
    struct Case {
        LastValues values;
        LastValues reads;
    };
    const Case cases[] = {
        {{{"a=b", "c"}, {"a", "x"}}, {{"a", "x"}}},
        {{{" a", "1"}, {"a ", "2"}, {"", "3"}, {"a", "4"}}, {{"a", "4"}}},
        {{{"k\nx", "v"}, {"k", "ok"}}, {{"k", "ok"}}},
        {{{"v", "line1\ninjected=1"}}, {{"v", "line1"}}},
        {{{"v", "cr\r\nrest"}}, {{"v", "cr\r"}}},
        {{{"#", "hash"}, {"##", ""}}, {{"#", "hash"}, {"##", ""}}},
    };
    for (const Case& c : cases) {
        const std::string first = format_last_values(c.values);
        EXPECT_EQ(parse_last_values(first), c.reads) << first;
        EXPECT_EQ(format_last_values(parse_last_values(first)), first);
    }

    // Equal maps give equal bytes, whatever their insertion order and bucket count.
    LastValues forward;
    forward.reserve(512);
    LastValues backward;
    for (int i = 0; i < 40; ++i) forward["key" + std::to_string(i)] = std::to_string(i);
    for (int i = 39; i >= 0; --i) backward["key" + std::to_string(i)] = std::to_string(i);
    EXPECT_EQ(format_last_values(forward), format_last_values(backward));
}

TEST_F(LastValuesFile, FullFileSystemKeepsTheOldFile) {
    const fs::path folder = root_ / "small";
    fs::create_directories(folder);
    // A small tmpfs fills up for real; without the right to mount, a file size limit fails the write instead.
    const bool mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
    const fs::path file = folder / "lumeno_conf.dat";
    const LastValues old = {{"lang", "de"}, {"rootPath", "/data"}, {"contentPattern", "needle"}};
    save_last_values(file, old);
    ::chmod(file.c_str(), 0640);
    const std::string oldText = format_last_values(old);
    ASSERT_EQ(read("small/lumeno_conf.dat"), oldText);

    rlimit savedLimit{};
    ::getrlimit(RLIMIT_FSIZE, &savedLimit);
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    if (mounted) {
        std::ofstream filler(folder / "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    } else {
        rlimit small = savedLimit;
        small.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    LastValues bigger = old;
    bigger["contentRegex"] = nested_groups(20000);
    save_last_values(file, bigger);
    ::setrlimit(RLIMIT_FSIZE, &savedLimit);
    std::signal(SIGXFSZ, savedSignal);

    EXPECT_TRUE(read("small/lumeno_conf.dat") == oldText) << "the old file changed";
    const std::vector<std::string> left =
        mounted ? std::vector<std::string>{"filler", "lumeno_conf.dat"} : std::vector<std::string>{"lumeno_conf.dat"};
    EXPECT_EQ(names_in(folder), left);

    // With room again the same save goes through and keeps the file's permissions.
    fs::remove(folder / "filler");
    save_last_values(file, bigger);
    EXPECT_EQ(load_last_values(file), bigger);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(names_in(folder), std::vector<std::string>{"lumeno_conf.dat"});
    if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
}

TEST_F(LastValuesFile, FailedRenameLeavesNoTemporaryFile) {
    // A folder in the file's place cannot be replaced by a file.
    fs::create_directories(root_ / "conf" / "lumeno_conf.dat" / "inside");
    save_last_values(root_ / "conf" / "lumeno_conf.dat", {{"a", "1"}});
    EXPECT_TRUE(fs::is_directory(root_ / "conf" / "lumeno_conf.dat" / "inside"));
    EXPECT_EQ(names_in(root_ / "conf"), std::vector<std::string>{"lumeno_conf.dat"});
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
