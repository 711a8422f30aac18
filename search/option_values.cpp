#include "option_values.h"

#include <cctype>
#include <limits>

namespace {

std::optional<std::uint64_t> parse_unsigned(const std::string& text, std::uint64_t max) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (max - digit) / 10) overflow = true;
        if (!overflow) value = value * 10 + digit;
    }
    if (overflow) return std::nullopt;
    return negative ? (0 - value) & max : value;
}

void set_text_field(std::string& field, bool& use, const std::string& value) {
    field = value;
    use = !value.empty();
}

}  // namespace

std::optional<std::uint32_t> parse_stoul32(const std::string& text) {
    const auto value = parse_unsigned(text, std::numeric_limits<std::uint32_t>::max());
    if (!value) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::optional<std::uint64_t> parse_stoull(const std::string& text) {
    return parse_unsigned(text, std::numeric_limits<std::uint64_t>::max());
}

void merge_last_values(Options& options, const LastValues& values) {
    const auto get = [&values](const char* key) -> const std::string* {
        const auto it = values.find(key);
        return it == values.end() ? nullptr : &it->second;
    };
    if (const std::string* v = get("rootPath"); v && options.rootPath == ".") options.rootPath = *v;
    if (const std::string* v = get("filenamePattern"); v && options.filenamePattern == "*")
        options.filenamePattern = *v;
    if (const std::string* v = get("contentPattern"); v && options.contentPattern.empty())
        set_text_field(options.contentPattern, options.useContentPattern, *v);
    if (const std::string* v = get("contentRegex"); v && options.contentRegex.empty())
        set_text_field(options.contentRegex, options.useContentRegex, *v);
    if (const std::string* v = get("filenameRegex"); v && options.filenameRegex.empty())
        set_text_field(options.filenameRegex, options.useFilenameRegex, *v);
    if (const std::string* v = get("showStatistics"); v && !options.showStatistics)
        options.showStatistics = *v == "1";
    if (const std::string* v = get("duplicatesMode"); v && options.duplicatesMode == 0) {
        if (*v == "dup") options.duplicatesMode = 1;
        if (*v == "uniq") options.duplicatesMode = 2;
    }
    if (const std::string* v = get("threads"); v && !options.hasThreads) {
        const auto threads = parse_stoul32(*v);
        if (threads && *threads != 0) {
            options.hasThreads = true;
            options.threads = *threads;
        }
    }
}

void apply_search_fields(Options& options, const std::vector<std::string>& fields) {
    const auto field = [&fields](std::size_t i) { return i < fields.size() ? trim(fields[i]) : std::string(); };
    options.rootPath = field(0);
    options.filenamePattern = field(1);
    set_text_field(options.contentPattern, options.useContentPattern, field(2));
    set_text_field(options.contentRegex, options.useContentRegex, field(3));
    set_text_field(options.filenameRegex, options.useFilenameRegex, field(4));

    const std::string min = field(5);
    const std::string max = field(6);
    const std::string thr = field(7);
    options.hasMinSize = false;
    options.hasMaxSize = false;
    options.minSizeBytes = 0;
    options.maxSizeBytes = 0;
    // The fields are in megabytes; bits shifted out are lost, as in the stored value.
    if (!min.empty()) {
        if (const auto mb = parse_stoull(min)) {
            options.hasMinSize = true;
            options.minSizeBytes = *mb << 20;
        }
    }
    if (!max.empty()) {
        if (const auto mb = parse_stoull(max)) {
            options.hasMaxSize = true;
            options.maxSizeBytes = *mb << 20;
        }
    }
    options.hasThreads = false;
    options.threads = 0;
    if (!thr.empty()) {
        if (const auto threads = parse_stoul32(thr)) {
            options.hasThreads = true;
            options.threads = *threads;
        }
    }
}

std::string duplicates_mode_word(std::uint32_t mode) {
    if (mode == 1) return "dup";
    if (mode == 2) return "uniq";
    return "any";
}

void store_search_values(const Options& options, LastValues& values) {
    values["rootPath"] = options.rootPath;
    values["filenamePattern"] = options.filenamePattern;
    values["contentPattern"] = options.contentPattern;
    values["contentRegex"] = options.contentRegex;
    values["filenameRegex"] = options.filenameRegex;
    values["showStatistics"] = std::string(1, options.showStatistics ? '1' : '0');
    std::string threads;
    if (options.hasThreads) threads = std::to_string(options.threads);
    values["threads"] = threads;
    values["duplicatesMode"] = duplicates_mode_word(options.duplicatesMode);
}
