// Times find_duplicates and its peers (fdupes -r, jdupes -r when installed)
// on one generated tree and checks that all of them find the same groups.
//
//   duplicates_bench [files] [groups] [runs]   (defaults: 20000 300 3)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "scan.h"

namespace fs = std::filesystem;

namespace {
using GroupSet = std::set<std::set<std::string>>;

// Built with += : GCC 12 warns falsely about "literal" + std::to_string().
std::string numbered(const char* prefix, std::size_t n, const char* suffix = "") {
    std::string name = prefix;
    name += std::to_string(n);
    name += suffix;
    return name;
}

std::string random_bytes(std::mt19937_64& rng, std::size_t size) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(rng() & 0xff);
    return data;
}

std::size_t pick_size(std::mt19937_64& rng) {
    // Mostly small files, some medium, a few large: the mix a home folder has.
    const auto roll = rng() % 100;
    if (roll < 70) return 1 + rng() % 4096;
    if (roll < 95) return 4096 + rng() % 65536;
    return 65536 + rng() % (2 * 1024 * 1024);
}

void write_file(const fs::path& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// `files` files over nested folders; `groups` duplicate sets of 2 to 6
// copies each, plus same-size decoys that differ only in their last byte.
void generate_tree(const fs::path& root, std::size_t files, std::size_t groups) {
    std::mt19937_64 rng(20261208);
    std::vector<fs::path> folders;
    for (std::size_t a = 0; a < 20; ++a)
        for (std::size_t b = 0; b < 10; ++b) {
            folders.push_back(root / numbered("d", a) / numbered("s", b));
            fs::create_directories(folders.back());
        }
    std::size_t written = 0;
    auto next_path = [&] {
        const fs::path& folder = folders[rng() % folders.size()];
        return folder / numbered("f", written++, ".bin");
    };
    for (std::size_t g = 0; g < groups && written < files; ++g) {
        std::string data = random_bytes(rng, pick_size(rng));
        const std::size_t copies = 2 + rng() % 5;
        for (std::size_t c = 0; c < copies && written < files; ++c) write_file(next_path(), data);
        if (g % 3 == 0 && written < files) {
            data.back() = static_cast<char>(data.back() ^ 0x5a);
            write_file(next_path(), data);
        }
    }
    while (written < files) write_file(next_path(), random_bytes(rng, pick_size(rng)));
}

GroupSet as_group_set(const DuplicateGroups& groups) {
    GroupSet out;
    for (const auto& group : groups) {
        std::set<std::string> members;
        for (const fs::path& p : group) members.insert(p.string());
        out.insert(members);
    }
    return out;
}

// Runs a peer and reads its groups: one path per line, a blank line between groups.
GroupSet run_peer(const std::string& command) {
    GroupSet out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    std::set<std::string> group;
    char line[8192];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.empty()) {
            if (!group.empty()) out.insert(group);
            group.clear();
        } else {
            group.insert(text);
        }
    }
    if (!group.empty()) out.insert(group);
    pclose(pipe);
    return out;
}

bool have_program(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

template <typename F>
double best_seconds(int runs, F&& body) {
    double best = 1e100;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}
}  // namespace

int main(int argc, char** argv) {
    const std::size_t files = argc > 1 ? std::stoul(argv[1]) : 20000;
    const std::size_t groups = argc > 2 ? std::stoul(argv[2]) : 300;
    const int runs = argc > 3 ? std::stoi(argv[3]) : 3;

    const fs::path root = fs::temp_directory_path() / numbered("gemmit-bench-", static_cast<std::size_t>(::getpid()));
    fs::remove_all(root);
    generate_tree(root, files, groups);
    std::cout << "tree: " << root.string() << ", " << files << " files\n";

    DuplicateGroups found;
    DuplicateStats stats;
    find_duplicates(root, stats);  // warms the page cache for every tool alike
    const double ours = best_seconds(runs, [&] {
        stats = DuplicateStats{};
        found = find_duplicates(root, stats);
    });
    const GroupSet reference = as_group_set(found);
    std::printf("find_duplicates: %8.3f s  (%llu groups, %llu files in groups, %llu candidates)\n", ours,
                static_cast<unsigned long long>(stats.duplicate_groups),
                static_cast<unsigned long long>(stats.duplicate_files),
                static_cast<unsigned long long>(stats.candidate_files));

    bool agree = true;
    for (const std::string peer : {"fdupes", "jdupes"}) {
        if (!have_program(peer)) {
            std::printf("%-15s  not installed\n", peer.c_str());
            continue;
        }
        GroupSet theirs;
        const std::string command = peer + " -r '" + root.string() + "' 2>/dev/null";
        const double seconds = best_seconds(runs, [&] { theirs = run_peer(command); });
        const bool same = theirs == reference;
        agree = agree && same;
        std::printf("%-15s  %8.3f s  (%zu groups, %s)  ratio peer/ours %.2f\n", (peer + " -r:").c_str(), seconds,
                    theirs.size(), same ? "same groups" : "DIFFERENT groups", seconds / ours);
    }
    fs::remove_all(root);
    return agree ? 0 : 1;
}
