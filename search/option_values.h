// How the wizard turns last values and typed fields into Options and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"
#include "last_values.h"

// Base-10 parsing with std::stoul / std::stoull rules, where unsigned long
// is 32 bits: leading blanks and one sign accepted, digits up to the first
// non-digit, a minus negates modulo the type. Empty on "invalid" or "out of range".
std::optional<std::uint32_t> parse_stoul32(const std::string& text);
std::optional<std::uint64_t> parse_stoull(const std::string& text);

// Takes each stored value only into a field that still holds its start value.
void merge_last_values(Options& options, const LastValues& values);

// The eight wizard fields (root, wildcard, contains, content regex, file-name
// regex, min MB, max MB, threads) into Options, as Search reads them.
void apply_search_fields(Options& options, const std::vector<std::string>& fields);

// The eight option keys that Search stores.
void store_search_values(const Options& options, LastValues& values);

std::string duplicates_mode_word(std::uint32_t mode);
