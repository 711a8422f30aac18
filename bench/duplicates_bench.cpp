// Times find_duplicates beside fdupes and jdupes (-q -r -H) on a real folder
// and on a generated tree, each run as its own process so that wall time and
// peak memory are measured alike, and checks that all find the same groups.
//
//   duplicates_bench [real folder] [runs]   (defaults: /usr/share 3)
//
// The peers pass over symbolic links, which find_duplicates counts as files,
// and jdupes passes over empty files: those members are left out before the
// groups are compared.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "scan.h"

namespace fs = std::filesystem;

namespace {
using Group = std::vector<std::string>;
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

// The child side of our own measurement: one scan, printed the way the
// peers print (a path per line, an empty line after each group), the
// counters on a first line that starts with "#".
int scan_and_print(const char* root) {
    DuplicateStats stats;
    const DuplicateGroups groups = find_duplicates(fs::absolute(root), stats);
    std::string out = "# scanned " + std::to_string(stats.files_scanned) + " errors " +
                      std::to_string(stats.files_with_errors) + " candidates " + std::to_string(stats.candidate_files) +
                      " groups " + std::to_string(stats.duplicate_groups) + " in groups " +
                      std::to_string(stats.duplicate_files) + "\n";
    for (const auto& group : groups) {
        for (const fs::path& p : group) out += p.native() + "\n";
        out += "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

struct Run {
    double seconds = 0;
    long peak_kb = 0;
    std::vector<Group> groups;
    std::string counters;
};

// Runs `argv` as a child process with its output on a pipe.
Run run_process(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(2);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) std::exit(2);
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peak_kb = usage.ru_maxrss;
    Group group;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string::npos) to = text.size();
        const std::string line = text.substr(from, to - from);
        from = to + 1;
        if (line.rfind("# ", 0) == 0) {
            run.counters = line.substr(2);
        } else if (line.empty()) {
            if (!group.empty()) run.groups.push_back(group);
            group.clear();
        } else {
            group.push_back(line);
        }
    }
    if (!group.empty()) run.groups.push_back(group);
    return run;
}

bool is_link(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool is_empty_file(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size == 0;
}

GroupSet comparable(const std::vector<Group>& groups, bool drop_links, bool drop_empty) {
    GroupSet out;
    for (const Group& group : groups) {
        std::set<std::string> members;
        for (const std::string& p : group)
            if (!(drop_links && is_link(p)) && !(drop_empty && is_empty_file(p))) members.insert(p);
        if (members.size() >= 2) out.insert(members);
    }
    return out;
}

bool have_program(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

template <typename T>
T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Tool {
    std::string name;
    std::vector<std::string> argv;
    std::vector<double> seconds;
    std::vector<long> peak_kb;
    Run last;
};

// Every tool `runs` times, interleaved so that each meets the same cache.
bool compare_on(const fs::path& root, int runs, const std::string& self) {
    std::vector<Tool> tools;
    tools.push_back({"find_duplicates", {self, "--scan", root.string()}, {}, {}, {}});
    for (const char* peer : {"fdupes", "jdupes"})
        if (have_program(peer))
            tools.push_back({std::string(peer) + " -q -r -H", {peer, "-q", "-r", "-H", root.string()}, {}, {}, {}});
        else
            std::printf("%s is not installed\n", peer);

    for (Tool& tool : tools) run_process(tool.argv);  // warms the page cache for all alike
    for (int r = 0; r < runs; ++r)
        for (Tool& tool : tools) {
            tool.last = run_process(tool.argv);
            tool.seconds.push_back(tool.last.seconds);
            tool.peak_kb.push_back(tool.last.peak_kb);
        }

    std::printf("\n%s (%d runs each, medians)\n", root.c_str(), runs);
    std::printf("  ours: %s\n", tools[0].last.counters.c_str());
    const double ours = median(tools[0].seconds);
    const long ours_kb = median(tools[0].peak_kb);
    bool agree = true;
    for (const Tool& tool : tools) {
        const double s = median(tool.seconds);
        const long kb = median(tool.peak_kb);
        std::printf("  %-18s %7.3f s  peak %7.1f MB  %5zu groups", tool.name.c_str(), s,
                    static_cast<double>(kb) / 1024.0, tool.last.groups.size());
        if (&tool != &tools[0]) {
            const bool jdupes = tool.name.rfind("jdupes", 0) == 0;
            const bool same =
                comparable(tool.last.groups, true, jdupes) == comparable(tools[0].last.groups, true, jdupes);
            agree = agree && same;
            std::printf("  ours/peer: time %.2f, memory %.2f  %s", ours / s,
                        static_cast<double>(ours_kb) / static_cast<double>(kb),
                        same ? "same groups" : "DIFFERENT groups");
        }
        std::printf("\n");
    }
    return agree;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--scan") return scan_and_print(argv[2]);
    const fs::path real = argc > 1 ? fs::path(argv[1]) : fs::path("/usr/share");
    const int runs = argc > 2 ? std::stoi(argv[2]) : 3;
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    const fs::path generated =
        fs::temp_directory_path() / numbered("gemmit-bench-", static_cast<std::size_t>(::getpid()));
    fs::remove_all(generated);
    generate_tree(generated, 20000, 300);
    std::printf("generated tree: %s, 20000 files, 300 sets of copies\n", generated.c_str());
    bool agree = compare_on(generated, runs, self);
    fs::remove_all(generated);
    agree = compare_on(fs::absolute(real), runs, self) && agree;
    return agree ? 0 : 1;
}
