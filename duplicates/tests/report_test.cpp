#include "report.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(DuplicateReport, UnopenableOrUnwritableFileIsNotSaved) {
    TempTree tree;
    EXPECT_FALSE(write_report(tree.root() / "no-such-folder" / kReportFileName, tree.root(), DuplicateStats{}, {}));
    EXPECT_FALSE(write_report(tree.root(), tree.root(), DuplicateStats{}, {}));  // a folder
    if (fs::exists("/dev/full")) {                                               // opens, but every write fails
        EXPECT_FALSE(write_report("/dev/full", tree.root(), DuplicateStats{}, {}));
    }
}
