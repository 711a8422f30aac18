#include "report.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <fstream>
#include <sstream>
#include <string>

#include "child_process.h"
#include "temp_tree.h"

namespace fs = std::filesystem;

namespace {
const char* const kHeader =
    "ZeylaGemmit v3.0.0\n"
    "Scanned directory: ";

DuplicateStats sample_stats() {
    DuplicateStats stats;
    stats.files_scanned = 12;
    stats.files_with_errors = 1;
    stats.candidate_files = 4;
    stats.duplicate_groups = 1;
    stats.duplicate_files = 2;
    return stats;
}

std::string counters(const DuplicateStats& s) {
    return "Total files scanned: " + std::to_string(s.files_scanned) + "\n" +
           "Files with errors:   " + std::to_string(s.files_with_errors) + "\n" +
           "Candidate files:     " + std::to_string(s.candidate_files) + "\n" +
           "Duplicate groups:    " + std::to_string(s.duplicate_groups) + "\n" +
           "Duplicate files:     " + std::to_string(s.duplicate_files) + "\n";
}
}  // namespace

TEST(DuplicateReport, NoGroupsIsExactlyNineLines) {
    TempTree tree;
    const fs::path file = tree.root() / kReportFileName;
    DuplicateStats stats;
    stats.files_scanned = 3;
    ASSERT_TRUE(write_report(file, "/data/photos", stats, {}));
    const std::string text = read_whole_file(file);
    EXPECT_EQ(text, std::string(kHeader) + "/data/photos\n\n" + counters(stats) + "\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    // Every number starts in column 22.
    for (const char* label : {"Total files scanned: 3", "Files with errors:   0", "Duplicate files:     0"})
        EXPECT_EQ(std::string(label).find_first_of("0123456789"), 21u) << label;
}

TEST(DuplicateReport, OneGroupOfTwoTenByteFiles) {
    TempTree tree;
    const auto a = tree.write("scan/a.bin", "0123456789");
    const auto b = tree.write("scan/sub/b.bin", "0123456789");
    const fs::path file = tree.root() / kReportFileName;
    const DuplicateStats stats = sample_stats();
    ASSERT_TRUE(write_report(file, tree.root() / "scan", stats, {{a, b}}));
    EXPECT_EQ(read_whole_file(file), std::string(kHeader) + (tree.root() / "scan").string() + "\n\n" + counters(stats) +
                                         "\n" + "=== GROUP 1 ===\n" + a.string() + "  [10 bytes]\n" + b.string() +
                                         "  [10 bytes]\n" + "\n");
}

TEST(DuplicateReport, SizesAreAskedAgainWhenWriting) {
    TempTree tree;
    const auto a = tree.write("a", "0123456789");
    const auto b = tree.write("b", "0123456789");
    const auto c = tree.write("c", "xy");
    const auto d = tree.write("d", "xy");
    fs::remove(b);
    tree.write("d", "grown to 19 bytes!!");
    const fs::path file = tree.root() / kReportFileName;
    ASSERT_TRUE(write_report(file, tree.root(), sample_stats(), {{a, b}, {c, d}}));
    const std::string text = read_whole_file(file);
    EXPECT_NE(text.find("=== GROUP 1 ===\n" + a.string() + "  [10 bytes]\n" + b.string() +
                        "\n\n"
                        "=== GROUP 2 ===\n" +
                        c.string() + "  [2 bytes]\n" + d.string() + "  [19 bytes]\n\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

TEST(DuplicateReport, SavingTwiceReplacesTheFirstReport) {
    TempTree tree;
    const auto a = tree.write("a", "same");
    const auto b = tree.write("b", "same");
    const fs::path file = tree.root() / kReportFileName;
    ASSERT_TRUE(write_report(file, tree.root(), sample_stats(), {{a, b}, {a, b}}));
    const std::string first = read_whole_file(file);
    ASSERT_TRUE(write_report(file, tree.root(), DuplicateStats{}, {}));
    const std::string second = read_whole_file(file);
    EXPECT_LT(second.size(), first.size());
    EXPECT_EQ(second.find("=== GROUP"), std::string::npos);
    EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 9);
}

TEST(DuplicateReport, UnwritableFolderIsNotSaved) {
    TempTree tree;
    EXPECT_FALSE(write_report(tree.root() / "no-such-folder" / kReportFileName, tree.root(), DuplicateStats{}, {}));
}

// A link in the report's place is replaced, never written through: the file
// it named (another user's, in a shared folder) stays as it was.
TEST(DuplicateReport, LinkInTheReportsPlaceIsReplaced) {
    TempTree tree;
    const auto victim = tree.write("victim", "not yours");
    const fs::path file = tree.root() / kReportFileName;
    fs::create_symlink(victim, file);
    ASSERT_TRUE(write_report(file, tree.root(), sample_stats(), {}));
    EXPECT_EQ(read_whole_file(victim), "not yours");
    EXPECT_FALSE(fs::is_symlink(file));
    EXPECT_EQ(read_whole_file(file).rfind(kHeader, 0), 0u);
}

// On a full file system the save fails and the old report stays whole (a
// small tmpfs in a private mount namespace).
TEST(DuplicateReport, FullFileSystemKeepsTheOldReport) {
    TempTree tree;
    const fs::path disk = tree.root() / "disk";
    fs::create_directories(disk);
    const auto a = tree.write("a", "0123456789");
    const ChildResult child = run_in_child([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
            return "skip";
        const fs::path file = disk / kReportFileName;
        if (!write_report(file, tree.root(), sample_stats(), {{a, a}})) return "first save failed";
        const std::string old = read_whole_file(file);
        {
            std::ofstream filler(disk / "filler", std::ios::binary);
            const std::string block(4096, 'f');
            while (filler.write(block.data(), block.size())) {
            }
        }
        if (write_report(file, tree.root(), sample_stats(), DuplicateGroups(500, {a, a, a})))
            return "saved on a full disk";
        return read_whole_file(file) == old ? "kept" : "old report lost";
    });
    if (child.out == "skip") GTEST_SKIP() << "no private mount namespace with a tmpfs here";
    EXPECT_EQ(child.out, "kept");
}

namespace {
// The report's groups read back: member lines unescaped, size suffixes dropped.
std::vector<std::vector<std::string>> groups_in_report(const std::string& text) {
    std::vector<std::vector<std::string>> groups;
    std::istringstream in(text.substr(text.find("=== GROUP")));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("=== GROUP ", 0) == 0) {
            groups.emplace_back();
            continue;
        }
        if (line.empty()) continue;
        std::string name;
        for (std::size_t i = 0; i < line.rfind("  ["); ++i) {
            if (line.compare(i, 2, "\\x") == 0) {
                name += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                if (line[i] == '\\') ++i;
                name += line[i];
            }
        }
        groups.back().push_back(name);
    }
    return groups;
}
}  // namespace

// Names holding a line feed, an escape byte or a forged group header: each
// member is one line, and the report reads back into the scan's groups.
TEST(DuplicateReport, HostileNamesAreOneLineEach) {
    TempTree tree;
    tree.write("one\n=== GROUP 7 ===\nforged", "twin");
    tree.write("two\x1b[2J\\", "twin");
    tree.write("plain", "twin");
    tree.write("x1", "other pair");
    tree.write("x2\x9b", "other pair");
    DuplicateStats stats;
    const DuplicateGroups groups = find_duplicates(tree.root(), stats);
    ASSERT_EQ(groups.size(), 2u);
    const fs::path file = tree.root() / kReportFileName;
    ASSERT_TRUE(write_report(file, tree.root(), stats, groups));
    const std::string text = read_whole_file(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9 + 2 * 2 + 5);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    std::vector<std::vector<std::string>> expected;
    for (const auto& group : groups) {
        expected.emplace_back();
        for (const fs::path& p : group) expected.back().push_back(p.native());
    }
    EXPECT_EQ(groups_in_report(text), expected);
}
