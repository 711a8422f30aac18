// The chained 64-bit FNV-1a collisions kept in fnv1a64_collisions.txt, for
// the tests and benchmarks of both programs that take files by content.
#pragma once

#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#ifndef ZEYLA_TEST_DATA
#error "ZEYLA_TEST_DATA names the folder of fnv1a64_collisions.txt"
#endif

// The first `count` pairs of blocks.
inline std::vector<std::pair<std::string, std::string>> fnv1a_collision_pairs(std::size_t count) {
    std::ifstream in(std::string(ZEYLA_TEST_DATA) + "/fnv1a64_collisions.txt");
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string line;
    while (pairs.size() < count && std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t blank = line.find(' ');
        pairs.emplace_back(line.substr(0, blank), line.substr(blank + 1));
    }
    if (pairs.size() < count) throw std::runtime_error("fnv1a64_collisions.txt holds too few pairs");
    return pairs;
}

// The 2^count different contents of one size and one hash: content i takes
// the second block of pair j when bit j of i is set, then `tail`.
inline std::vector<std::string> fnv1a_multicollision(std::size_t count, const std::string& tail = "") {
    const auto pairs = fnv1a_collision_pairs(count);
    std::vector<std::string> contents(std::size_t{1} << count);
    for (std::size_t i = 0; i < contents.size(); ++i) {
        for (std::size_t j = 0; j < count; ++j) contents[i] += (i >> j & 1) ? pairs[j].second : pairs[j].first;
        contents[i] += tail;
    }
    return contents;
}
