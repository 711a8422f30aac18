#include "temp_tree.h"

#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
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
    // The library's removal gives up on paths beyond the system's limit.
    if (fs::exists(root_, ec)) (void)std::system(("rm -rf '" + root_.string() + "'").c_str());
}

fs::path TempTree::write(const std::string& relative, const std::string& content) const {
    const fs::path file = root_ / relative;
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    return file;
}

std::string TempTree::write_deep(const std::string& relative, int levels, const std::string& name,
                                 const std::string& content) const {
    const fs::path base = root_ / relative;
    fs::create_directories(base);
    const std::string part(200, 'p');
    std::string path = base.string();
    int dir = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < levels && dir >= 0; ++level) {
        ::mkdirat(dir, part.c_str(), 0755);
        const int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        dir = next;
        path += "/" + part;
    }
    const int file = dir < 0 ? -1 : ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written =
        file >= 0 && ::write(file, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    if (file >= 0) ::close(file);
    if (dir >= 0) ::close(dir);
    if (!written) throw std::runtime_error("cannot write below " + path);
    return path + "/" + name;
}

std::string read_whole_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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
    const ChildResult child = run_in_child([&]() -> std::string {
        if (!become_nobody()) _exit(2);
        ScanOutcome outcome;
        outcome.groups = scan(root, outcome.stats, workers);
        return serialize(outcome);
    });
    if (child.status != 0) throw std::runtime_error("unprivileged scan failed");
    return deserialize(child.out);
}

bool scan_within(const fs::path& root, unsigned workers, unsigned seconds, ScanOutcome& outcome,
                 const std::function<void()>& prepare) {
    const ChildResult child = run_in_child([&]() -> std::string {
        ::alarm(seconds);  // a scan that hangs ends the child, not the test run
        if (prepare) prepare();
        ScanOutcome own;
        own.groups = scan(root, own.stats, workers);
        return serialize(own);
    });
    if (child.status != 0) return false;
    outcome = deserialize(child.out);
    return true;
}
