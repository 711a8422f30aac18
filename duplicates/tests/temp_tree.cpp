#include "temp_tree.h"

#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

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

BoundedChild run_in_child_within(const std::function<std::string()>& body, int seconds) {
    BoundedChild result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return result;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    if (child == 0) {
        ::close(fds[0]);
        std::string out;
        try {
            out = body();
        } catch (const std::exception& e) {
            out = std::string("exception: ") + e.what();
        }
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) ::_exit(4);
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    // One deadline for the whole run, however the child trickles its output.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool timed_out = false;
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
            timed_out = true;
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (timed_out) ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!timed_out) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool scan_within(const fs::path& root, unsigned workers, int seconds, ScanOutcome& outcome,
                 const std::function<void()>& prepare) {
    const BoundedChild child = run_in_child_within(
        [&]() -> std::string {
            if (prepare) prepare();
            ScanOutcome own;
            own.groups = scan(root, own.stats, workers);
            return serialize(own);
        },
        seconds);
    if (child.status != 0) return false;
    outcome = deserialize(child.out);
    return true;
}
