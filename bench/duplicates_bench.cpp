// Times find_duplicates beside fdupes and jdupes (-q -r -H) in one run: a
// generated tree, /usr/share, /usr, the whole system (/ without /proc, /sys,
// /dev, /tmp and any folder named with --skip, seen through bind mounts in a
// private mount namespace), each tool run as its own process so that wall time
// and peak memory are measured alike, and checks that all find the same
// groups. Then buckets of 2^K files of one size and one FNV-1a hash (chained
// real collisions) show the cost following the bucket's bytes.
//
//   duplicates_bench [runs] [--skip NAME]...   (default: 3 runs)
//
// The peers pass over symbolic links, which find_duplicates counts as files,
// and jdupes passes over empty files: those members are left out before the
// groups are compared.

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fnv1a_collisions.h"
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
    std::printf(
        "# scanned %llu errors %llu candidates %llu groups %llu in groups %llu\n",
        static_cast<unsigned long long>(stats.files_scanned), static_cast<unsigned long long>(stats.files_with_errors),
        static_cast<unsigned long long>(stats.candidate_files), static_cast<unsigned long long>(stats.duplicate_groups),
        static_cast<unsigned long long>(stats.duplicate_files));
    // Printed as it goes, as the peers print: the listing adds nothing to the peak.
    for (const auto& group : groups) {
        for (const fs::path& p : group) std::printf("%s\n", p.c_str());
        std::printf("\n");
    }
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

void print_load() {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3) std::printf("  load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
}

// Every tool `runs` times, interleaved so that each meets the same cache.
bool compare_on(const fs::path& root, int runs, const std::string& self, const std::string& label) {
    std::vector<Tool> tools;
    tools.push_back({"find_duplicates", {self, "--scan", root.string()}, {}, {}, {}});
    for (const char* peer : {"fdupes", "jdupes"})
        if (have_program(peer))
            tools.push_back({std::string(peer) + " -q -r -H", {peer, "-q", "-r", "-H", root.string()}, {}, {}, {}});
        else
            std::printf("%s is not installed\n", peer);

    std::printf("\n%s (%d runs each, medians)\n", label.c_str(), runs);
    print_load();
    for (Tool& tool : tools) run_process(tool.argv);  // warms the page cache for all alike
    for (int r = 0; r < runs; ++r)
        for (Tool& tool : tools) {
            tool.last = run_process(tool.argv);
            tool.seconds.push_back(tool.last.seconds);
            tool.peak_kb.push_back(tool.last.peak_kb);
        }

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
    print_load();
    return agree;
}

// The whole system as one folder: every top-level folder of / but the
// skipped ones bound below `view`, in a mount namespace of this process's own
// (the tools it starts share it). False when that is refused.
bool make_system_view(const fs::path& view, const std::vector<std::string>& skip) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    fs::create_directories(view);
    if (::mount("tmpfs", view.c_str(), "tmpfs", 0, nullptr) != 0) return false;
    for (const auto& entry : fs::directory_iterator("/")) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink() || !entry.is_directory() || std::count(skip.begin(), skip.end(), name) != 0) continue;
        fs::create_directory(view / name);
        if (::mount(entry.path().c_str(), (view / name).c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return false;
    }
    return true;
}

// Buckets of 2^K different files of one size and one hash, K = 8, 9, 10: the
// time should double with the bucket's bytes, not grow fourfold.
void multicollision_rows(const std::string& self, int runs) {
    std::printf("\nmulticollision buckets: 2^K files of 1 MiB, one size, one FNV-1a hash, no two equal (medians)\n");
    print_load();
    double previous = 0;
    for (std::size_t k = 8; k <= 10; ++k) {
        const fs::path tree =
            fs::temp_directory_path() / numbered("gemmit-collisions-", static_cast<std::size_t>(::getpid()));
        fs::remove_all(tree);
        fs::create_directories(tree);
        const auto contents = fnv1a_multicollision(k);
        std::mt19937_64 rng(k);
        const std::string tail = random_bytes(rng, (1 << 20) - contents[0].size());
        for (std::size_t i = 0; i < contents.size(); ++i) write_file(tree / numbered("c", i), contents[i] + tail);
        run_process({self, "--scan", tree.string()});  // warms the page cache
        std::vector<double> ours;
        std::vector<double> jdupes;
        std::size_t groups = 0;
        for (int r = 0; r < runs; ++r) {
            const Run run = run_process({self, "--scan", tree.string()});
            ours.push_back(run.seconds);
            groups = run.groups.size();
            if (have_program("jdupes"))
                jdupes.push_back(run_process({"jdupes", "-q", "-r", "-H", tree.string()}).seconds);
        }
        const double seconds = median(ours);
        std::printf("  K=%zu: %4zu files, %5zu MiB: ours %6.3f s (%zu groups)", k, contents.size(), contents.size(),
                    seconds, groups);
        if (previous > 0) std::printf(", %.2f times the bucket half its size", seconds / previous);
        if (!jdupes.empty()) std::printf("; jdupes %6.3f s", median(jdupes));
        std::printf("\n");
        previous = seconds;
        fs::remove_all(tree);
    }
    print_load();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--scan") return scan_and_print(argv[2]);
    int runs = 3;
    std::vector<std::string> skip = {"proc", "sys", "dev", "tmp"};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--skip") == 0 && i + 1 < argc)
            skip.push_back(argv[++i]);
        else
            runs = std::stoi(argv[i]);
    }
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const fs::path generated =
        fs::temp_directory_path() / numbered("gemmit-bench-", static_cast<std::size_t>(::getpid()));
    fs::remove_all(generated);
    generate_tree(generated, 20000, 300);
    bool agree = compare_on(generated, runs, self, "generated tree: 20000 files, 300 sets of copies");
    fs::remove_all(generated);
    agree = compare_on("/usr/share", runs, self, "/usr/share") && agree;
    agree = compare_on("/usr", runs, self, "/usr") && agree;

    const fs::path view = fs::temp_directory_path() / numbered("gemmit-system-", static_cast<std::size_t>(::getpid()));
    std::string skipped;
    for (const std::string& name : skip) skipped += " /" + name;
    if (make_system_view(view, skip))
        agree = compare_on(view, runs, self, "/ without" + skipped) && agree;
    else
        std::printf("\n/ without%s: skipped, no private mount namespace here\n", skipped.c_str());
    ::umount2(view.c_str(), MNT_DETACH);
    fs::remove(view);

    multicollision_rows(self, runs);
    return agree ? 0 : 1;
}
