// Times search_files beside its peers in the same run: content substring and
// content expression against rg -l -i -uuu and grep -rli, name wildcard against
// fdfind -u -i -g and find -iname, on real trees, on a generated tree of small
// text files and on a generated tree of a million empty files. Each side is a
// process of its own, timed whole with its output (ours: this program again,
// listing what search_files returned), its peak taken by time(1). Each runs
// once to warm the cache, then five times, alternating; the best time counts.
// Both sides must list the same regular files (peers with LC_ALL=C; symbolic
// links set aside, which the peers treat their own way).
// Usage: lumeno_search_bench [sections] [files, default 50000] [folder for the trees, default temp]
//   sections: any of usr,generated,million separated by commas (default all)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
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

// 100 x 100 folders of 100 empty files each; one name in ten ends in .c.
void make_million(const fs::path& root) {
    std::vector<std::thread> makers;
    for (int part = 0; part < 4; ++part)
        makers.emplace_back([&root, part] {
            for (int d = part; d < 100; d += 4)
                for (int e = 0; e < 100; ++e) {
                    const fs::path dir = root / numbered("d", d) / numbered("e", e);
                    fs::create_directories(dir);
                    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                    for (int f = 0; f < 100 && dirFd >= 0; ++f) {
                        const int n = (d * 100 + e) * 100 + f;
                        const std::string name = numbered("file", n) + (n % 10 == 3 ? ".c" : ".txt");
                        const int fd = openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                        if (fd >= 0) close(fd);
                    }
                    if (dirFd >= 0) close(dirFd);
                }
        });
    for (std::thread& t : makers) t.join();
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Regular files only: links and anything else are set aside on both sides.
bool plain_regular(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct Run {
    double seconds = 0;
    std::uint64_t peakKiB = 0;
    std::vector<std::string> listed;
};

// One side as a fresh process of its own, whole (start-up and output
// included), under time(1) for its peak; its output read as it comes.
Run process_run(const std::vector<std::string>& command) {
    Run run;
    char peakFile[] = "/tmp/lumeno-bench-peak-XXXXXX";
    const int peakFd = mkstemp(peakFile);
    if (peakFd >= 0) close(peakFd);
    std::vector<std::string> args = {"/usr/bin/time", "-f", "%M", "-o", peakFile};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        setenv("LC_ALL", "C", 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char buf[65536];
    std::string path;
    while (in && std::fgets(buf, sizeof buf, in)) {
        path += buf;
        if (!path.empty() && path.back() == '\n') {
            path.pop_back();
            run.listed.push_back(std::move(path));
            path.clear();
        }
    }
    if (in) std::fclose(in);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    run.seconds = seconds_since(start);
    // time(1) writes the peak last, after a line on a non-zero exit status.
    std::ifstream peak(peakFile);
    for (std::string line; std::getline(peak, line);)
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) run.peakKiB = std::stoull(line);
    unlink(peakFile);
    return run;
}

// The engine's side: this program again, running one search and listing what it found.
int run_one_search(int argc, char** argv) {
    if (argc < 5) return 2;
    const std::string kind = argv[2];
    Options options;
    options.rootPath = argv[3];
    if (kind == "name") {
        options.filenamePattern = argv[4];
    } else if (kind == "substring") {
        options.useContentPattern = true;
        options.contentPattern = argv[4];
    } else {
        options.useContentRegex = true;
        options.contentRegex = argv[4];
    }
    std::uint64_t candidates = 0;
    std::uint32_t threads = 0;
    double elapsed = 0;
    const std::vector<MatchInfo> results = search_files(options, candidates, threads, elapsed);
    std::string out;
    for (const MatchInfo& m : results) {
        out += m.path.string();
        out += '\n';
        if (out.size() > (1u << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    // Listed and done: the program would keep the list for its screen, so its teardown is not timed.
    _exit(0);
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

double load_average() {
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

// Runs alternate between the two sides, so that both meet the same machine load.
void compare(const std::string& what, const std::vector<std::string>& ours,
             const std::vector<std::string>& peer) {
    process_run(ours);  // warm the cache
    process_run(peer);
    Run mine;
    Run theirs;
    mine.seconds = theirs.seconds = 1e9;
    for (int i = 0; i < 5; ++i) {
        Run m = process_run(ours);
        mine.peakKiB = std::max(mine.peakKiB, m.peakKiB);
        if (m.seconds < mine.seconds) mine.seconds = m.seconds, mine.listed = std::move(m.listed);
        Run t = process_run(peer);
        theirs.peakKiB = std::max(theirs.peakKiB, t.peakKiB);
        if (t.seconds < theirs.seconds) theirs.seconds = t.seconds, theirs.listed = std::move(t.listed);
    }
    const std::set<std::string> listedOurs = regular_files(mine.listed);
    const std::set<std::string> listedPeer = regular_files(theirs.listed);
    std::size_t missing = 0;
    for (const std::string& p : listedPeer) missing += listedOurs.count(p) == 0;
    std::size_t extra = 0;
    for (const std::string& p : listedOurs) extra += listedPeer.count(p) == 0;
    std::printf(
        "%-44s ours %7.3f s %4llu MB %7zu files | %-6s %7.3f s %4llu MB %7zu files | ratio %5.2f | load %4.1f | %s\n",
        what.c_str(), mine.seconds, static_cast<unsigned long long>(mine.peakKiB >> 10), listedOurs.size(),
        peer[0].c_str(), theirs.seconds, static_cast<unsigned long long>(theirs.peakKiB >> 10), listedPeer.size(),
        mine.seconds / theirs.seconds, load_average(),
        missing + extra == 0
            ? "same files"
            : ("DIFFER: " + std::to_string(missing) + " missing, " + std::to_string(extra) + " extra").c_str());
    std::fflush(stdout);
}

std::string self;  // this program, which runs our side of each row

void substring_row(const std::string& tree, const std::string& root, const std::string& text, bool withGrep) {
    const std::vector<std::string> ours = {self, "--run", "substring", root, text};
    compare(tree + " substring " + text, ours, {"/usr/bin/rg", "-l", "-i", "-uuu", "-F", "-e", text, root});
    if (withGrep) compare(tree + " substring " + text, ours, {"/usr/bin/grep", "-rliF", "-e", text, root});
}

void regex_row(const std::string& tree, const std::string& root, const std::string& expression, bool withGrep) {
    const std::vector<std::string> ours = {self, "--run", "regex", root, expression};
    compare(tree + " regex " + expression, ours, {"/usr/bin/rg", "-l", "-i", "-uuu", "-e", expression, root});
    if (withGrep) compare(tree + " regex " + expression, ours, {"/usr/bin/grep", "-rliP", "-e", expression, root});
}

void name_row(const std::string& tree, const std::string& root, const std::string& wildcard, bool withFind) {
    const std::vector<std::string> ours = {self, "--run", "name", root, wildcard};
    compare(tree + " name " + wildcard, ours, {"/usr/bin/fdfind", "-u", "-i", "-t", "f", "-g", wildcard, root});
    if (withFind) compare(tree + " name " + wildcard, ours, {"/usr/bin/find", root, "-type", "f", "-iname", wildcard});
}

bool wanted(const std::string& sections, const std::string& section) {
    return sections.empty() || ("," + sections + ",").find("," + section + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--run") return run_one_search(argc, argv);
    self = fs::canonical("/proc/self/exe").string();
    const std::string sections = argc > 1 && std::string(argv[1]) != "all" ? argv[1] : "";
    const int files = argc > 2 ? std::atoi(argv[2]) : 50000;
    const fs::path base = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
    std::printf("%u cores\n", std::thread::hardware_concurrency());

    if (wanted(sections, "usr")) {
        // A rare text (a few files hold it) and a common one (thousands do), on source and on mixed data.
        for (const char* tree : {"/usr/include", "/usr/share"}) {
            if (!fs::is_directory(tree)) continue;
            substring_row(tree, tree, "pthread_mutex_consistent", false);
            regex_row(tree, tree, "pthread_mutex_consis[a-z]*", false);
            substring_row(tree, tree, "gnu general public license", false);
            regex_row(tree, tree, "general public licen[cs]e", false);
        }
        if (fs::is_directory("/usr/include")) {
            substring_row("/usr/include", "/usr/include", "mutex", true);
            regex_row("/usr/include", "/usr/include", "mutex[a-z]*_t", true);
            name_row("/usr/include", "/usr/include", "*mutex*", true);
        }
        if (fs::is_directory("/usr")) {
            name_row("/usr", "/usr", "*mutex*", true);
            name_row("/usr", "/usr", "*.h", true);
        }
    }

    std::error_code ec;
    if (wanted(sections, "generated")) {
        const fs::path root = base / ("lumeno-bench-" + std::to_string(std::random_device{}()));
        std::printf("generated tree: %d files under %s\n", files, root.string().c_str());
        make_tree(root, files);
        substring_row("generated", root.string(), "needle", true);
        regex_row("generated", root.string(), "need+le_[a-z]+_t", true);
        name_row("generated", root.string(), "*7.log", true);
        fs::remove_all(root, ec);
    }

    if (wanted(sections, "million")) {
        const fs::path root = base / ("lumeno-million-" + std::to_string(std::random_device{}()));
        std::printf("generated tree: 1000000 empty files under %s\n", root.string().c_str());
        std::fflush(stdout);
        make_million(root);
        name_row("million", root.string(), "*", false);
        name_row("million", root.string(), "*.c", false);
        substring_row("million", root.string(), "needle", false);
        fs::remove_all(root, ec);
    }
    return 0;
}
