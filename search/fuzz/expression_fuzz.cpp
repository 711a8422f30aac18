// The search's expressions on fuzzed patterns and lines. Input: pattern, NUL,
// subject, and optionally a second NUL and a content text. A pattern that
// compiles is searched in the subject: a match lies inside it, a copy gives
// the same outcome, a line holding a match holds the required byte, and the
// snippet marks that match, and a subject holding a match holds the
// expression's required literal. The content text's folded substring search
// agrees with a plain one, and the block scan of a file finds the first passing
// line that a line-by-line search finds. Time per input is bounded by -timeout: the
// engine bounds the work on each line.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine.h"
#include "expression.h"
#include "fuzz_check.h"
#include "line_scan.h"

namespace {
char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t naive_find(const std::string& needle, const std::string& text) {
    if (needle.size() > text.size()) return std::string::npos;
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && fold(text[i + k]) == fold(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::string::npos;
}

std::string marked(const std::string& line, std::size_t pos, std::size_t len) {
    return line.substr(0, pos) + "[MATCH]" + line.substr(pos, len) + "[/MATCH]" + line.substr(pos + len);
}

std::string content_snippet(const std::string& line, const std::string& content, std::size_t at) {
    return content.empty() || at == std::string::npos ? line : marked(line, at, content.size());
}

// Lines as the scan reads a file: split at line feeds, no line after a final feed.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// The block scan of the subject as a file against the same search line by line.
void check_scan(const SearchRegex& regex, const std::string& pattern, const std::string& subject,
                const std::string* content) {
    static const int fd = memfd_create("expression_fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, subject.data(), subject.size(), 0) == static_cast<ssize_t>(subject.size()));
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);

    std::vector<std::string> warnings;
    std::string snippet;
    std::uint64_t number = 0;
    const FoldedNeedle needle(content ? *content : std::string());
    const FoldedNeedle literal(required_literal(pattern));
    const bool found =
        scan_for_expression(fd, subject.size(), regex, &literal, content ? &needle : nullptr,
                            [&](const std::string& w) { warnings.push_back(w); }, number, snippet);

    SearchRegex reference(regex);
    std::vector<std::string> wantWarnings;
    const std::vector<std::string> lines = lines_of(subject);
    std::size_t hit = lines.size();
    std::size_t wantStart = 0;
    std::size_t wantEnd = 0;
    for (std::size_t i = 0; i < lines.size() && hit == lines.size(); ++i) {
        if (content && naive_find(*content, lines[i]) == std::string::npos) continue;
        // A line without the required literal cannot match (checked above) and is never tried.
        if (naive_find(literal.folded, lines[i]) == std::string::npos) continue;
        switch (reference.search(lines[i].data(), lines[i].size(), wantStart, wantEnd)) {
            case SearchRegex::Outcome::match:
                hit = i;
                break;
            case SearchRegex::Outcome::gave_up:
                wantWarnings.push_back("--regex on line " + std::to_string(i + 1) +
                                       " too costly to test, taken as not matching");
                break;
            case SearchRegex::Outcome::no_match:
                break;
        }
    }
    // Too much work in the file gives up its rest with one more warning.
    if (!warnings.empty() && warnings.back().find("the rest of the file") != std::string::npos) {
        FUZZ_CHECK(!found);
        warnings.pop_back();
        FUZZ_CHECK(warnings.size() <= wantWarnings.size());
        FUZZ_CHECK(std::equal(warnings.begin(), warnings.end(), wantWarnings.begin()));
        return;
    }
    FUZZ_CHECK(found == (hit < lines.size()));
    FUZZ_CHECK(warnings == wantWarnings);
    if (!found) return;
    FUZZ_CHECK(number == hit + 1);
    FUZZ_CHECK(snippet == marked(lines[hit], wantStart, wantEnd - wantStart));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string pattern = input.substr(0, cut);
    std::string subject = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    std::string content;
    bool useContent = false;
    if (const std::size_t second = subject.find('\0'); second != std::string::npos) {
        content = subject.substr(second + 1);
        subject.resize(second);
        useContent = true;
    }

    // The content text: folded substring search against the plain one.
    const FoldedNeedle needle(pattern);
    const std::size_t at = needle.find(subject.data(), subject.size());
    FUZZ_CHECK(at == naive_find(pattern, subject));

    SearchRegex regex;
    std::string error;
    if (!regex.compile(pattern, error)) {
        FUZZ_CHECK(!regex.compiled() && !error.empty());
        FUZZ_CHECK(make_snippet(subject, pattern, &regex, true, true) == content_snippet(subject, pattern, at));
        return 0;
    }
    std::size_t start = 0;
    std::size_t end = 0;
    const SearchRegex::Outcome outcome = regex.search(subject.data(), subject.size(), start, end);
    if (outcome == SearchRegex::Outcome::match) {
        FUZZ_CHECK(start <= end && end <= subject.size());
        const int required = regex.required_byte();
        if (required >= 0) {
            bool holds = false;
            for (char c : subject) holds = holds || fold(c) == static_cast<char>(required);
            FUZZ_CHECK(holds);
        }
        FUZZ_CHECK(naive_find(required_literal(pattern), subject) != std::string::npos);
    }

    // A copy, as each worker thread makes one, gives the same outcome.
    const SearchRegex copy(regex);
    std::size_t copyStart = 0;
    std::size_t copyEnd = 0;
    FUZZ_CHECK(copy.search(subject.data(), subject.size(), copyStart, copyEnd) == outcome);
    if (outcome == SearchRegex::Outcome::match) FUZZ_CHECK(copyStart == start && copyEnd == end);
    FUZZ_CHECK(copy.required_byte() == regex.required_byte());

    // The snippet marks the expression's match; without one, the content text's.
    const std::string snippet = make_snippet(subject, pattern, &regex, true, true);
    if (outcome == SearchRegex::Outcome::match)
        FUZZ_CHECK(snippet == marked(subject, start, end - start));
    else if (outcome == SearchRegex::Outcome::no_match)
        FUZZ_CHECK(snippet == content_snippet(subject, pattern, at));

    check_scan(regex, pattern, subject, useContent ? &content : nullptr);
    return 0;
}
