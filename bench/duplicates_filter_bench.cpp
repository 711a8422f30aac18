// Lumeno's duplicate filter (mode dup, every regular file of a real folder as
// a result) beside the one-file-at-a-time whole hash it replaced, in the same
// run, with the kept results checked equal.
//
//   duplicates_filter_bench [folder] [runs]   (defaults: /usr/share 3)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "duplicate_filter.h"
#include "fnv1a.h"

namespace fs = std::filesystem;

namespace {
double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A whole file's hash through a stream, in blocks of 64 KiB, as the filter once took it.
std::uint64_t stream_hash(std::istream& in) {
    std::vector<char> block(65536);
    std::uint64_t state = kFnv1aOffsetBasis;
    while (in.good()) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const std::streamsize got = in.gcount();
        if (got > 0) state = fnv1a_update(state, block.data(), static_cast<std::size_t>(got));
    }
    return state;
}

// The filter as it was: every result hashed whole through a stream, in order, on one thread.
std::vector<MatchInfo> filter_one_at_a_time(const std::vector<MatchInfo>& results) {
    std::map<std::pair<std::uint64_t, std::uint64_t>, int> counts;
    std::vector<std::pair<bool, std::uint64_t>> hashes;
    for (const MatchInfo& m : results) {
        std::ifstream in(m.path, std::ios::binary);
        const bool opened = in.is_open();
        const std::uint64_t hash = opened ? stream_hash(in) : 0;
        hashes.emplace_back(opened, hash);
        if (opened) ++counts[{m.size, hash}];
    }
    std::vector<MatchInfo> kept;
    for (std::size_t i = 0; i < results.size(); ++i)
        if (hashes[i].first && counts[{results[i].size, hashes[i].second}] >= 2) kept.push_back(results[i]);
    return kept;
}

bool compare_filter_on(const fs::path& root, int runs) {
    std::vector<MatchInfo> results;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code size_ec;
        if (!it->is_regular_file(size_ec)) continue;
        const std::uintmax_t size = it->file_size(size_ec);
        if (size_ec) continue;
        MatchInfo m;
        m.path = it->path();
        m.size = size;
        results.push_back(std::move(m));
    }
    Options options;
    options.duplicatesMode = 1;
    std::vector<double> ours;
    std::vector<double> before;
    std::vector<MatchInfo> kept_ours;
    std::vector<MatchInfo> kept_before;
    for (int r = 0; r < runs; ++r) {
        auto start = std::chrono::steady_clock::now();
        kept_ours = results;
        filter_duplicates(options, kept_ours);
        ours.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        start = std::chrono::steady_clock::now();
        kept_before = filter_one_at_a_time(results);
        before.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    bool same = kept_ours.size() == kept_before.size();
    for (std::size_t i = 0; same && i < kept_ours.size(); ++i) same = kept_ours[i].path == kept_before[i].path;
    std::printf("Lumeno duplicate filter, mode dup, %zu results under %s (%d runs each, medians)\n", results.size(),
                root.c_str(), runs);
    std::printf("  filter_duplicates   %7.3f s  %zu kept\n", median(ours), kept_ours.size());
    std::printf("  one file at a time  %7.3f s  %zu kept  ours/before: time %.2f  %s\n", median(before),
                kept_before.size(), median(ours) / median(before), same ? "same results" : "DIFFERENT results");
    return same;
}
}  // namespace

int main(int argc, char** argv) {
    const fs::path root = fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::path("/usr/share"));
    const int runs = argc > 2 ? std::stoi(argv[2]) : 3;
    return compare_filter_on(root, runs) ? 0 : 1;
}
