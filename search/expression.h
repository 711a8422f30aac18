// The search program's regular expressions, written as std::regex reads them
// (ECMAScript with case folding of A-Z only): translated into PCRE2 syntax of
// the same meaning, compiled, and searched with a bound on the work per
// subject rather than per start position, so that no line can hang a worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class SearchRegex {
public:
    enum class Outcome { match, no_match, gave_up };

    SearchRegex();
    // A copy shares the compiled code and gets its own match state: one copy per thread.
    SearchRegex(const SearchRegex& other);
    SearchRegex& operator=(const SearchRegex& other);
    ~SearchRegex();

    // False, with PCRE2's description of the error, when the pattern is refused.
    bool compile(const std::string& pattern, std::string& error);
    bool compiled() const { return code_ != nullptr; }

    // The leftmost match in subject[0, size): [start, end) on a match. gave_up
    // when the work budget of this subject or the match stack ran out.
    Outcome search(const char* subject, std::size_t size, std::size_t& start, std::size_t& end) const;

    // A byte (either ASCII case of it) that every line holding a match holds, or -1.
    int required_byte() const { return requiredByte_; }

    // Work the last search charged, in the match limit's units (the same on
    // any machine), and the budget a subject of size bytes gets: callers bound
    // the work of many subjects together with these.
    std::uint64_t last_work() const { return lastWork_; }
    static std::uint64_t budget_for(std::size_t size);

private:
    struct Code;
    struct State;
    std::shared_ptr<const Code> code_;
    mutable std::unique_ptr<State> state_;  // made on first use, by the thread that owns this copy
    int requiredByte_ = -1;
    mutable std::uint64_t lastWork_ = 0;
};
