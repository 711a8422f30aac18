#include "expression.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "expression_syntax.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace {

// ECMAScript meaning on PCRE2, for what the translation writes: non-UTF,
// non-UCP caseless folds A-Z only; `$` only at the very end; a back-reference
// to a group that did not take part matches empty.
constexpr std::uint32_t kCompileOptions = PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY | PCRE2_CASELESS |
                                          PCRE2_NEVER_UTF | PCRE2_NEVER_UCP | PCRE2_USE_OFFSET_LIMIT;

// Work budget of one subject in match-limit units: a fixed part for one hard
// start position plus a share per byte, so that a long line is searched whole
// but no line costs more than a bounded amount whatever the expression.
constexpr std::uint64_t kBudgetBase = 10'000'000;
constexpr std::uint64_t kBudgetPerByte = 256;
// Limit per start position while scanning; a start that needs more is retried
// alone with a growing limit, paid from the same budget.
constexpr std::uint64_t kScanLimit = 64;

// The JIT stack grows on demand up to this size (a 10 MB line of (a|b)*c
// needs about 400 MB); only the touched pages are ever committed.
constexpr std::size_t kJitStackFirst = std::size_t{1} << 20;
constexpr std::size_t kJitStackMax = std::size_t{1} << 30;
constexpr std::size_t kJitStackKeep = std::size_t{8} << 20;
// The interpreter, used only when the JIT is unavailable, keeps its
// backtracking frames on the heap: bounded here.
constexpr std::uint32_t kHeapLimitKiB = 256u << 10;

int fold_ascii(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

std::string error_text(int code) {
    PCRE2_UCHAR text[256];
    if (pcre2_get_error_message(code, text, sizeof text) < 0) return "error " + std::to_string(code);
    return reinterpret_cast<const char*>(text);
}

}  // namespace

struct SearchRegex::Code {
    pcre2_code* code = nullptr;
    bool jit = false;
    bool mayStartAtLineFeed = true;
    ~Code() { pcre2_code_free(code); }
};

struct SearchRegex::State {
    pcre2_match_data* data = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* stack = nullptr;
    std::size_t stackSize = 0;

    explicit State(const Code& code) {
        data = pcre2_match_data_create_from_pattern(code.code, nullptr);
        context = pcre2_match_context_create(nullptr);
        if (!data || !context) {
            release();
            throw std::bad_alloc();
        }
        pcre2_set_heap_limit(context, kHeapLimitKiB);
    }
    ~State() { release(); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    void release() {
        pcre2_match_data_free(data);
        pcre2_match_context_free(context);
        pcre2_jit_stack_free(stack);
        data = nullptr;
        context = nullptr;
        stack = nullptr;
    }

    // False when the stack is already as large as it may get.
    bool set_stack(std::size_t size) {
        pcre2_jit_stack* bigger = pcre2_jit_stack_create(32 * 1024, size, nullptr);
        if (!bigger) return false;
        pcre2_jit_stack_free(stack);
        stack = bigger;
        stackSize = size;
        pcre2_jit_stack_assign(context, nullptr, stack);
        return true;
    }
    bool grow_stack() {
        if (stackSize >= kJitStackMax) return false;
        return set_stack(std::min(kJitStackMax, stackSize * 8));
    }
};

SearchRegex::SearchRegex() = default;

SearchRegex::SearchRegex(const SearchRegex& other) : code_(other.code_), requiredByte_(other.requiredByte_) {}

SearchRegex& SearchRegex::operator=(const SearchRegex& other) {
    if (this != &other) {
        code_ = other.code_;
        state_.reset();
        requiredByte_ = other.requiredByte_;
    }
    return *this;
}

SearchRegex::~SearchRegex() = default;

bool SearchRegex::compile(const std::string& pattern, std::string& error) {
    code_.reset();
    state_.reset();
    requiredByte_ = -1;
    std::string translated;
    int errorCode = 0;
    if (!translate_expression(pattern, translated, errorCode)) {
        error = error_text(errorCode);
        return false;
    }
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    if (!context) throw std::bad_alloc();
    // ECMAScript's line terminators among the bytes: `.` matches neither.
    pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                     kCompileOptions, &errorCode, &errorOffset, context);
    pcre2_compile_context_free(context);
    if (!code) {
        if (errorCode == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
        error = error_text(errorCode);
        return false;
    }
    auto owned = std::make_shared<Code>();
    owned->code = code;
    owned->jit = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;

    std::uint32_t type = 0;
    std::uint32_t unit = 0;
    const std::uint8_t* firstBytes = nullptr;
    if (pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODETYPE, &type) == 0 && type == 1 &&
        pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODEUNIT, &unit) == 0)
        owned->mayStartAtLineFeed = unit == '\n';
    else if (type == 0 && pcre2_pattern_info(code, PCRE2_INFO_FIRSTBITMAP, &firstBytes) == 0 && firstBytes)
        owned->mayStartAtLineFeed = (firstBytes['\n' / 8] >> ('\n' % 8)) & 1;

    if (pcre2_pattern_info(code, PCRE2_INFO_LASTCODETYPE, &type) == 0 && type == 1 &&
        pcre2_pattern_info(code, PCRE2_INFO_LASTCODEUNIT, &unit) == 0)
        requiredByte_ = fold_ascii(static_cast<int>(unit));
    else if (pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODETYPE, &type) == 0 && type == 1 &&
             pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODEUNIT, &unit) == 0)
        requiredByte_ = fold_ascii(static_cast<int>(unit));
    code_ = std::move(owned);
    return true;
}

SearchRegex::Outcome SearchRegex::search(const char* subject, std::size_t size, std::size_t& start,
                                         std::size_t& end) const {
    lastWork_ = 0;
    if (!code_) return Outcome::no_match;
    if (!state_) {
        state_ = std::make_unique<State>(*code_);
        if (code_->jit && !state_->set_stack(kJitStackFirst)) throw std::bad_alloc();
    }
    State& st = *state_;
    const auto text = reinterpret_cast<PCRE2_SPTR>(subject);

    // Runs start positions [from, last] with a limit per start position.
    const auto run = [&](std::size_t from, std::size_t last, std::uint64_t limit) {
        pcre2_set_offset_limit(st.context, last);
        pcre2_set_match_limit(st.context, static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, UINT32_MAX)));
        for (;;) {
            const int rc = pcre2_match(code_->code, text, size, from, 0, st.data, st.context);
            if (rc != PCRE2_ERROR_JIT_STACKLIMIT || !st.grow_stack()) return rc;
        }
    };

    // The library's match limit restarts at every start position; the budget
    // pays for each call's worst case so that the whole subject stays bounded.
    const std::uint64_t granted = budget_for(size);
    std::uint64_t budget = granted;
    Outcome outcome = Outcome::no_match;
    std::size_t pos = 0;
    std::size_t window = size + 1;
    // Under ANYCRLF the library skips a start between a CR and an LF after a
    // failed one (and after a line start it looked for); ECMAScript tries it.
    // So such a start only ever opens a window, when a match can start there.
    const auto crlf_middle_after = [&](std::size_t from) {
        for (std::size_t i = from; i + 1 < size; ++i) {
            const void* cr = std::memchr(subject + i, '\r', size - 1 - i);
            if (!cr) break;
            i = static_cast<std::size_t>(static_cast<const char*>(cr) - subject);
            if (subject[i + 1] == '\n') return i + 1;
        }
        return size + 1;
    };
    std::size_t middle = code_->mayStartAtLineFeed ? crlf_middle_after(0) : size + 1;
    while (pos <= size) {
        std::size_t count = std::min(window, size + 1 - pos);
        if (middle <= pos) middle = crlf_middle_after(pos);
        count = std::min(count, middle - pos);
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, budget / kScanLimit));
        if (count == 0) {
            outcome = Outcome::gave_up;
            break;
        }
        budget -= count * kScanLimit;
        int rc = run(pos, pos + count - 1, kScanLimit);
        if (rc == PCRE2_ERROR_MATCHLIMIT && count > 1) {
            window = count / 2;  // narrow down to the start position that needs more
            continue;
        }
        // One hard start position: give it more, four times as much each round.
        for (std::uint64_t limit = kScanLimit * 4; rc == PCRE2_ERROR_MATCHLIMIT && limit <= budget; limit *= 4) {
            budget -= limit;
            rc = run(pos, pos, limit);
        }
        if (rc >= 0) {
            const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(st.data);
            start = ovector[0];
            end = ovector[1];
            outcome = Outcome::match;
            break;
        }
        if (rc != PCRE2_ERROR_NOMATCH) {
            if (rc == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
            outcome = Outcome::gave_up;
            break;
        }
        pos += count;
        // Widen again step by step: hard start positions tend to come in runs.
        window = count * 2;
    }
    // A stack grown for one huge line is given back rather than kept committed.
    if (st.stackSize > kJitStackKeep) st.set_stack(kJitStackFirst);
    lastWork_ = granted - budget;
    return outcome;
}

std::uint64_t SearchRegex::budget_for(std::size_t size) {
    return kBudgetBase + kBudgetPerByte * (static_cast<std::uint64_t>(size) + 1);
}
