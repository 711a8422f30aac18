// Generates a tree of small text files, then times in the same run a content
// substring search through search_files (automatic threads) against grep -rli,
// and a name wildcard against find -iname. Each is run once to warm the cache.
// Usage: lumeno_search_bench [files, default 50000] [folder, default temp]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine.h"

namespace fs = std::filesystem;

namespace {

const char* const kWords[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
                              "india", "juliett", "kilo", "lima", "mike", "november", "oscar", "papa"};

std::string numbered(const char* prefix, int n) {
    std::string name = prefix;
    name += std::to_string(n);
    return name;
}

void make_tree(const fs::path& root, int files) {
    std::mt19937 rng(42);
    for (int i = 0; i < files; ++i) {
        const fs::path dir = root / numbered("d", i % 50) / numbered("e", i % 500 / 50);
        if (i < 500) fs::create_directories(dir);
        std::string text;
        const int lines = 10 + static_cast<int>(rng() % 30);
        for (int l = 0; l < lines; ++l) {
            for (int w = 0; w < 8; ++w) {
                text += kWords[rng() % 16];
                text += ' ';
            }
            if (i % 97 == 0 && l == lines / 2) text += "Needle ";
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

std::size_t engine_count(const Options& options, double& elapsed) {
    std::uint64_t candidates = 0;
    std::uint32_t threads = 0;
    std::size_t found = 0;
    elapsed = seconds([&] { found = search_files(options, candidates, threads, elapsed).size(); });
    return found;
}

std::size_t tool_count(const std::string& command, double& elapsed) {
    std::size_t lines = 0;
    elapsed = seconds([&] {
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return;
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            if (c == '\n') ++lines;
        pclose(pipe);
    });
    return lines;
}

void compare(const char* what, const Options& options, const std::string& command) {
    double t = 0;
    engine_count(options, t);
    tool_count(command, t);
    double mine = 0;
    double theirs = 0;
    const std::size_t found = engine_count(options, mine);
    const std::size_t listed = tool_count(command, theirs);
    std::printf("%-18s search_files %.3f s (%zu files)  |  %s %.3f s (%zu files)  |  ratio %.2f\n", what, mine, found,
                command.substr(0, command.find(' ')).c_str(), theirs, listed, mine / theirs);
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 50000;
    const fs::path base = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path root = base / ("lumeno-bench-" + std::to_string(std::random_device{}()));
    std::printf("tree: %d files under %s\n", files, root.string().c_str());
    make_tree(root, files);

    Options content;
    content.rootPath = root.string();
    content.useContentPattern = true;
    content.contentPattern = "needle";
    compare("content substring", content, "grep -rli needle '" + root.string() + "'");

    Options name;
    name.rootPath = root.string();
    name.filenamePattern = "*7.log";
    compare("name wildcard", name, "find '" + root.string() + "' -iname '*7.log'");

    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
