// Times search_files beside its peers in the same run: content substring and
// content expression against rg -l -i -uuu and grep -rli, name wildcard against
// fdfind -u -i -g and find -iname, on real trees and on a generated one. Each
// side runs once to warm the cache, then three times; the best time counts.
// Both sides must list the same regular files (peers with LC_ALL=C; symbolic
// links set aside, which the peers treat their own way).
// Usage: lumeno_search_bench [files, default 50000] [folder for the tree, default temp]
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine.h"

namespace fs = std::filesystem;

namespace {

const char* const kWords[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
                              "india", "juliett", "kilo", "lima", "mike", "november", "oscar", "papa"};

std::string numbered(const char* prefix, int n) { return prefix + std::to_string(n); }

// Small text files, one in ten with a long line, a few holding the needle.
void make_tree(const fs::path& root, int files) {
    std::mt19937 rng(42);
    for (int i = 0; i < files; ++i) {
        const fs::path dir = root / numbered("d", i % 50) / numbered("e", i % 500 / 50);
        if (i < 500) fs::create_directories(dir);
        std::string text;
        const int lines = 10 + static_cast<int>(rng() % 30);
        for (int l = 0; l < lines; ++l) {
            const int words = i % 10 == 3 && l == 1 ? 4000 : 8;
            for (int w = 0; w < words; ++w) {
                text += kWords[rng() % 16];
                text += ' ';
            }
            if (i % 97 == 0 && l == lines / 2) text += "Needle_mutex_t ";
            text += '\n';
        }
        std::ofstream(dir / (numbered("file", i) + (i % 10 == 7 ? ".LOG" : ".txt"))) << text;
    }
}

template <typename F>
double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Regular files only: links and anything else are set aside on both sides.
bool plain_regular(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> engine_list(const Options& options) {
    std::uint64_t candidates = 0;
    std::uint32_t threads = 0;
    double elapsed = 0;
    std::vector<std::string> out;
    for (const MatchInfo& m : search_files(options, candidates, threads, elapsed)) out.push_back(m.path.string());
    return out;
}

std::vector<std::string> peer_list(const std::string& command) {
    std::vector<std::string> out;
    FILE* pipe = popen(("LC_ALL=C " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char line[65536];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string path(line);
        if (!path.empty() && path.back() == '\n') path.pop_back();
        out.push_back(std::move(path));
    }
    pclose(pipe);
    return out;
}

// Compared after the timing: regular files only, "./" prefixes dropped.
std::set<std::string> regular_files(const std::vector<std::string>& listed) {
    std::set<std::string> out;
    for (std::string path : listed) {
        if (path.rfind("./", 0) == 0) path.erase(0, 2);
        if (plain_regular(path)) out.insert(path);
    }
    return out;
}

// Runs alternate between the two sides, so that both meet the same machine load.
void best_of_five(const std::function<void()>& ours, const std::function<void()>& peer, double& oursBest,
                  double& peerBest) {
    ours();  // warm the cache
    peer();
    oursBest = 1e9;
    peerBest = 1e9;
    for (int i = 0; i < 5; ++i) {
        oursBest = std::min(oursBest, seconds(ours));
        peerBest = std::min(peerBest, seconds(peer));
    }
}

void compare(const char* what, const Options& options, const std::string& command) {
    std::vector<std::string> mineListed;
    std::vector<std::string> theirsListed;
    double ours = 0;
    double peer = 0;
    best_of_five([&] { mineListed = engine_list(options); }, [&] { theirsListed = peer_list(command); }, ours, peer);
    const std::set<std::string> mine = regular_files(mineListed);
    const std::set<std::string> theirs = regular_files(theirsListed);
    std::size_t missing = 0;
    for (const std::string& p : theirs) missing += mine.count(p) == 0;
    std::size_t extra = 0;
    for (const std::string& p : mine) extra += theirs.count(p) == 0;
    std::printf("%-34s ours %7.3f s %6zu files | %-6s %7.3f s %6zu files | ratio %5.2f | %s\n", what, ours,
                mine.size(), command.substr(0, command.find(' ')).c_str(), peer, theirs.size(), ours / peer,
                missing + extra == 0 ? "same files"
                                     : ("DIFFER: " + std::to_string(missing) + " missing, " + std::to_string(extra) +
                                        " extra")
                                           .c_str());
    std::fflush(stdout);
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

void content_pair(const std::string& tree, const std::string& root, const std::string& text,
                  const std::string& expression) {
    Options substring;
    substring.rootPath = root;
    substring.useContentPattern = true;
    substring.contentPattern = text;
    compare((tree + " substring " + text).c_str(), substring, "rg -l -i -uuu -F -e " + quoted(text) + " " + quoted(root));
    compare((tree + " substring " + text).c_str(), substring, "grep -rliF -e " + quoted(text) + " " + quoted(root));

    Options regex;
    regex.rootPath = root;
    regex.useContentRegex = true;
    regex.contentRegex = expression;
    compare((tree + " regex " + expression).c_str(), regex, "rg -l -i -uuu -e " + quoted(expression) + " " + quoted(root));
    compare((tree + " regex " + expression).c_str(), regex, "grep -rliP -e " + quoted(expression) + " " + quoted(root));
}

void name_pair(const std::string& tree, const std::string& root, const std::string& wildcard) {
    Options name;
    name.rootPath = root;
    name.filenamePattern = wildcard;
    compare((tree + " name " + wildcard).c_str(), name, "fdfind -u -i -t f -g " + quoted(wildcard) + " " + quoted(root));
    compare((tree + " name " + wildcard).c_str(), name, "find " + quoted(root) + " -type f -iname " + quoted(wildcard));
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 50000;
    const fs::path base = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();

    if (fs::is_directory("/usr/include")) {
        content_pair("/usr/include", "/usr/include", "mutex", "mutex[a-z]*_t");
        name_pair("/usr/include", "/usr/include", "*mutex*");
    }
    if (fs::is_directory("/usr")) {
        name_pair("/usr", "/usr", "*mutex*");
        name_pair("/usr", "/usr", "*.h");
    }

    const fs::path root = base / ("lumeno-bench-" + std::to_string(std::random_device{}()));
    std::printf("generated tree: %d files under %s\n", files, root.string().c_str());
    make_tree(root, files);
    content_pair("generated", root.string(), "needle", "need+le_[a-z]+_t");
    name_pair("generated", root.string(), "*7.log");

    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
