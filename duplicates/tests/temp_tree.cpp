#include "temp_tree.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

TempTree::TempTree() {
    std::string pattern = (fs::temp_directory_path() / "gemmit-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = buffer.data();
    // An unprivileged scan must be able to enter the tree.
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

TempTree::~TempTree() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
}

fs::path TempTree::write(const std::string& relative, const std::string& content) const {
    const fs::path file = root_ / relative;
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    return file;
}

std::string read_whole_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {
std::string serialize(const ScanOutcome& outcome) {
    std::ostringstream out;
    const DuplicateStats& s = outcome.stats;
    out << s.files_scanned << ' ' << s.files_with_errors << ' ' << s.candidate_files << ' ' << s.duplicate_groups << ' '
        << s.duplicate_files << '\n';
    for (const auto& group : outcome.groups) {
        for (const fs::path& path : group) out << path.string() << '\n';
        out << '\n';
    }
    return out.str();
}

ScanOutcome deserialize(const std::string& text) {
    ScanOutcome outcome;
    std::istringstream in(text);
    DuplicateStats& s = outcome.stats;
    in >> s.files_scanned >> s.files_with_errors >> s.candidate_files >> s.duplicate_groups >> s.duplicate_files;
    std::string line;
    std::getline(in, line);
    std::vector<fs::path> group;
    while (std::getline(in, line)) {
        if (line.empty()) {
            outcome.groups.push_back(group);
            group.clear();
        } else {
            group.emplace_back(line);
        }
    }
    return outcome;
}
}  // namespace

namespace {
DuplicateGroups scan(const fs::path& root, DuplicateStats& stats, unsigned workers) {
    return workers == 0 ? find_duplicates(root, stats) : find_duplicates(root, stats, workers);
}
}  // namespace

ScanOutcome scan_unprivileged(const fs::path& root, unsigned workers) {
    if (geteuid() != 0) {
        ScanOutcome outcome;
        outcome.groups = scan(root, outcome.stats, workers);
        return outcome;
    }
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        close(fds[0]);
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(2);
        ScanOutcome outcome;
        outcome.groups = scan(root, outcome.stats, workers);
        const std::string text = serialize(outcome);
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) _exit(3);
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("unprivileged scan failed");
    return deserialize(text);
}
