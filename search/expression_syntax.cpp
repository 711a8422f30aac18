#include "expression_syntax.h"

#include <algorithm>
#include <iterator>
#include <vector>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "ascii.h"

namespace {

// The names std::regex gives the 128 ASCII codes in [.name.] and [=name=], in code order.
// clang-format off
constexpr const char* kCollatingNames[128] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "alert", "backspace", "tab", "newline", "vertical-tab",
    "form-feed", "carriage-return", "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",
    "SUB", "ESC", "IS4", "IS3", "IS2", "IS1", "space", "exclamation-mark", "quotation-mark", "number-sign",
    "dollar-sign", "percent-sign", "ampersand", "apostrophe", "left-parenthesis", "right-parenthesis", "asterisk",
    "plus-sign", "comma", "hyphen", "period", "slash", "zero", "one", "two", "three", "four", "five", "six", "seven",
    "eight", "nine", "colon", "semicolon", "less-than-sign", "equals-sign", "greater-than-sign", "question-mark",
    "commercial-at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S",
    "T", "U", "V", "W", "X", "Y", "Z", "left-square-bracket", "backslash", "right-square-bracket", "circumflex",
    "underscore", "grave-accent", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q",
    "r", "s", "t", "u", "v", "w", "x", "y", "z", "left-curly-bracket", "vertical-line", "right-curly-bracket",
    "tilde", "DEL"};
// clang-format on

// The class names std::regex knows, letter case aside.
constexpr const char* kPosixClasses[] = {"alnum", "alpha", "blank", "cntrl", "digit", "graph",
                                         "lower", "print", "punct", "space", "upper", "xdigit"};

// PCRE2's nesting limit, checked here first so that the translation's own recursion stays shallow.
constexpr int kMaxDepth = 250;
constexpr unsigned kMaxCount = 65535;
// A \u code unit above 00FF: no byte equals it.
constexpr unsigned kNoByte = 0x100;

constexpr const char* kNothing = "[^\\x{00}-\\x{ff}]";
constexpr const char* kAnything = "[\\x{00}-\\x{ff}]";

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_octal(char c) { return c >= '0' && c <= '7'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A byte as PCRE2 reads it literally, inside a class or out.
void append_byte(std::string& out, unsigned value) {
    const char c = static_cast<char>(value);
    if (is_digit(c) || is_letter(c)) {
        out += c;
        return;
    }
    static const char digits[] = "0123456789abcdef";
    out += "\\x{";
    out += digits[value >> 4];
    out += digits[value & 15];
    out += '}';
}

class Translation {
public:
    explicit Translation(std::string_view in) : in_(in) {}

    // The PCRE2 pattern, or false with a PCRE2 error code.
    bool run(std::string& out, int& error) {
        out_.reserve(in_.size() * 2);
        if (disjunction() && pos_ < in_.size()) fail(PCRE2_ERROR_UNMATCHED_CLOSING_PARENTHESIS);
        error = error_;
        out = std::move(out_);
        return error_ == 0;
    }

private:
    struct Count {
        unsigned min = 0;
        unsigned max = 0;  // kUnbounded for none
        bool lazy = false;
    };
    static constexpr unsigned kUnbounded = ~0u;
    enum class Item { none, byte, set };  // what one step of a class gave

    std::string_view in_;
    std::size_t pos_ = 0;
    std::string out_;
    int depth_ = 0;
    unsigned groups_ = 0;
    int error_ = 0;
    bool alternated_ = false;           // the disjunction being read has alternatives
    bool groupAlternated_ = false;      // the group just read had alternatives
    bool choicesBehind_ = false;        // the atom just read is a group with alternatives
    bool backReferenceBehind_ = false;  // the atom just read is a back-reference

    bool fail(int code) {
        if (error_ == 0) error_ = code;
        return false;
    }
    bool more() const { return pos_ < in_.size(); }
    char at(std::size_t i) const { return i < in_.size() ? in_[i] : '\0'; }
    bool next_is(std::string_view text) const { return in_.substr(pos_, text.size()) == text; }

    bool disjunction() {
        for (;;) {
            while (more() && in_[pos_] != '|' && in_[pos_] != ')')
                if (!term()) return false;
            if (!more() || in_[pos_] != '|') return true;
            out_ += '|';
            ++pos_;
            alternated_ = true;
        }
    }

    // One assertion, or one atom with its quantifiers.
    bool term() {
        const char c = in_[pos_];
        if (c == '^' || c == '$') {
            out_ += c;
            ++pos_;
            return unquantified();
        }
        if (c == '\\' && (at(pos_ + 1) == 'b' || at(pos_ + 1) == 'B')) {
            out_ += in_.substr(pos_, 2);
            pos_ += 2;
            return unquantified();
        }
        if (c == '(' && at(pos_ + 1) == '?') {
            for (std::string_view assertion : {"(?=", "(?!", "(?<=", "(?<!"})
                if (next_is(assertion)) return group(assertion) && unquantified();
            for (std::string_view option : {"(?i)", "(?-i)"})
                if (next_is(option)) {
                    out_ += option;
                    pos_ += option.size();
                    return unquantified();
                }
        }
        const std::size_t atomStart = out_.size();
        const unsigned groupsBefore = groups_;
        choicesBehind_ = false;
        backReferenceBehind_ = false;
        if (!atom()) return false;
        const bool choices = choicesBehind_;
        const bool backReference = backReferenceBehind_;

        std::vector<Count> counts;
        for (Count q; quantifier(q);) counts.push_back(q);
        if (error_) return false;
        if (counts.empty()) {
            if (choices) out_ += "(?=)";
            return true;
        }
        for (const Count& q : counts)
            if (q.max == 0) {
                // Matches empty, its groups never set. Written out, such a
                // term can derail PCRE2's start-of-match optimisation.
                out_.resize(atomStart);
                if (groups_ > groupsBefore) {
                    out_ += "(?:";
                    for (unsigned g = groupsBefore; g < groups_; ++g) out_ += "()";
                    out_ += "){0}";
                }
                return true;
            }
        // A quantifier after a quantifier repeats the quantified atom: a?+ is
        // (?:a?)+. PCRE2 10.42's JIT repeats a back-reference to a group that
        // did not take part wrongly, but not one in a group of its own.
        if (backReference) {
            out_.insert(atomStart, "(?:");
            out_ += ')';
        }
        std::string wrap;
        for (std::size_t i = 1; i < counts.size(); ++i) wrap += "(?:";
        out_.insert(atomStart, wrap);
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const Count& q = counts[i];
            out_ += '{';
            out_ += std::to_string(q.min);
            if (q.max != q.min) {
                out_ += ',';
                if (q.max != kUnbounded) out_ += std::to_string(q.max);
            }
            out_ += '}';
            if (q.lazy) out_ += '?';
            if (i + 1 < counts.size()) out_ += ')';
        }
        if (choices) out_ += "(?=)";
        return true;
    }

    bool unquantified() {
        Count q;
        if (quantifier(q)) return fail(PCRE2_ERROR_QUANTIFIER_INVALID);
        return error_ == 0;
    }

    // A quantifier at pos_: true and q when there is one; false when there is
    // none or it is refused (error_ then says so). A brace that does not open
    // a well-formed count is no quantifier.
    bool quantifier(Count& q) {
        if (!more()) return false;
        const char c = in_[pos_];
        std::size_t end = pos_ + 1;
        if (c == '*' || c == '+' || c == '?') {
            q.min = c == '+' ? 1 : 0;
            q.max = c == '?' ? 1 : kUnbounded;
        } else if (c == '{') {
            bool tooBig = false;
            const auto number = [&](unsigned& value) {
                const std::size_t start = end;
                value = 0;
                for (; is_digit(at(end)) && end < in_.size(); ++end) {
                    value = value * 10 + static_cast<unsigned>(at(end) - '0');
                    if (value > kMaxCount) {
                        tooBig = true;
                        value = kMaxCount;
                    }
                }
                return end > start;
            };
            if (!number(q.min)) return false;
            q.max = q.min;
            if (at(end) == ',' && end < in_.size()) {
                ++end;
                if (!number(q.max)) q.max = kUnbounded;
            }
            if (at(end) != '}' || end >= in_.size()) return false;
            ++end;
            if (tooBig) return fail(PCRE2_ERROR_QUANTIFIER_TOO_BIG);
            if (q.max < q.min) return fail(PCRE2_ERROR_QUANTIFIER_OUT_OF_ORDER);
        } else {
            return false;
        }
        q.lazy = at(end) == '?' && end < in_.size();
        pos_ = end + (q.lazy ? 1 : 0);
        return true;
    }

    bool atom() {
        const char c = in_[pos_];
        switch (c) {
            case '.':
                ++pos_;
                out_ += '.';  // neither CR nor LF: the newline convention is ANYCRLF
                return true;
            case '(':
                if (at(pos_ + 1) != '?') {
                    ++groups_;
                    return choices_group("(");
                }
                if (next_is("(?>")) return group("(?>");
                for (std::string_view kind : {"(?:", "(?i:", "(?-i:"})
                    if (next_is(kind)) return choices_group(kind);
                return fail(PCRE2_ERROR_UNRECOGNIZED_AFTER_QUERY_P);
            case '[':
                return bracket();
            case '\\':
                return escape();
            case '*':
            case '+':
            case '?':
                return fail(PCRE2_ERROR_QUANTIFIER_INVALID);
            case '{': {
                Count q;
                if (quantifier(q) || error_) return fail(PCRE2_ERROR_QUANTIFIER_INVALID);
                break;
            }
            default:
                break;
        }
        append_byte(out_, static_cast<unsigned char>(c));
        ++pos_;
        return true;
    }

    // A group that can be backtracked into: when it holds alternatives, the
    // term it opens is followed by an empty look-ahead. PCRE2 10.42's JIT
    // skips, by its early-fail optimisation, a single-character loop after
    // such a group that it reaches again at another position, as in
    // (?:x|)y*x on "x"; an assertion ends that optimisation's reach.
    bool choices_group(std::string_view open) {
        if (!group(open)) return false;
        choicesBehind_ = groupAlternated_;
        return true;
    }

    // An opening written as `open`, the disjunction inside, the closing parenthesis.
    bool group(std::string_view open) {
        if (++depth_ > kMaxDepth) return fail(PCRE2_ERROR_PARENTHESES_NEST_TOO_DEEP);
        out_ += open;
        pos_ += open.size();
        const bool outer = alternated_;
        alternated_ = false;
        if (!disjunction()) return false;
        groupAlternated_ = alternated_;
        alternated_ = outer;
        if (!more()) return fail(PCRE2_ERROR_MISSING_CLOSING_PARENTHESIS);
        out_ += ')';
        ++pos_;
        --depth_;
        return true;
    }

    // An octal escape from pos_, whose digit is known to be one: up to three
    // digits while the value stays below 0400, as ECMAScript's web grammar reads it.
    unsigned octal() {
        unsigned value = static_cast<unsigned>(in_[pos_++] - '0');
        const int digits = value <= 3 ? 3 : 2;
        for (int i = 1; i < digits && is_octal(at(pos_)) && more(); ++i) value = value * 8 + (in_[pos_++] - '0');
        return value;
    }

    // \x with two hex digits, \u with four; false (nothing read) when they are not there.
    bool hex(int digits, unsigned& value) {
        value = 0;
        for (int i = 0; i < digits; ++i) {
            const int v = pos_ + i < in_.size() ? hex_value(in_[pos_ + i]) : -1;
            if (v < 0) return false;
            value = value * 16 + static_cast<unsigned>(v);
        }
        pos_ += static_cast<std::size_t>(digits);
        return true;
    }

    // The escapes that stand for one code unit, in and out of classes. pos_
    // is on the letter after the backslash; false when e is no such escape.
    bool character_escape(char e, bool inClass, unsigned& value) {
        switch (e) {
            case 'f':
                value = '\f';
                break;
            case 'n':
                value = '\n';
                break;
            case 'r':
                value = '\r';
                break;
            case 't':
                value = '\t';
                break;
            case 'v':
                value = '\v';
                break;
            case '0':
                value = octal();
                return true;
            case 'x':
            case 'u':
                ++pos_;
                if (!hex(e == 'x' ? 2 : 4, value)) value = static_cast<unsigned char>(e);
                return true;
            case 'c': {
                const char letter = at(pos_ + 1);
                const bool control =
                    pos_ + 1 < in_.size() && (is_letter(letter) || (inClass && (is_digit(letter) || letter == '_')));
                if (!control) {
                    value = '\\';  // the backslash stands for itself; the c is read next
                    return true;
                }
                value = static_cast<unsigned>(letter) % 32;
                pos_ += 2;
                return true;
            }
            default:
                if (is_digit(e) || e == 'b' || e == 'B' || e == 'd' || e == 'D' || e == 's' || e == 'S' || e == 'w' ||
                    e == 'W')
                    return false;
                value = static_cast<unsigned char>(e);
                break;
        }
        ++pos_;
        return true;
    }

    // An escape outside a class; pos_ is on the backslash.
    bool escape() {
        if (pos_ + 1 >= in_.size()) return fail(PCRE2_ERROR_END_BACKSLASH);
        ++pos_;
        const char e = in_[pos_];
        unsigned value = 0;
        if (character_escape(e, false, value)) {
            if (value >= kNoByte)
                out_ += kNothing;
            else
                append_byte(out_, value);
            return true;
        }
        if (is_digit(e)) {
            // A back-reference: every digit that follows belongs to it.
            unsigned number = 0;
            for (; more() && is_digit(in_[pos_]); ++pos_) number = std::min(number * 10 + (in_[pos_] - '0'), 100000u);
            out_ += "\\g{" + std::to_string(number) + "}";
            backReferenceBehind_ = true;
            return true;
        }
        out_ += '\\';  // \d \D \s \S \w \W
        out_ += e;
        ++pos_;
        return true;
    }

    // One member of a class at pos_ (not its closing bracket nor a dash): a
    // code unit in `value`, or a set written out in `set`.
    Item class_member(unsigned& value, std::string& set) {
        const char c = in_[pos_];
        if (c == '[' && pos_ + 1 < in_.size() &&
            (in_[pos_ + 1] == '.' || in_[pos_ + 1] == ':' || in_[pos_ + 1] == '=')) {
            const char kind = in_[pos_ + 1];
            const std::size_t start = pos_ + 2;
            const std::size_t close = in_.find(kind, start);
            if (close == std::string_view::npos || at(close + 1) != ']' || close + 1 >= in_.size()) {
                fail(kind == ':' ? PCRE2_ERROR_UNKNOWN_POSIX_CLASS : PCRE2_ERROR_POSIX_NO_SUPPORT_COLLATING);
                return Item::none;
            }
            const std::string_view name = in_.substr(start, close - start);
            pos_ = close + 2;
            if (kind == ':') return posix_class(name, set);
            const auto named = std::find(std::begin(kCollatingNames), std::end(kCollatingNames), name);
            if (named == std::end(kCollatingNames)) {
                fail(PCRE2_ERROR_POSIX_NO_SUPPORT_COLLATING);
                return Item::none;
            }
            value = static_cast<unsigned>(named - std::begin(kCollatingNames));
            if (kind == '.') return Item::byte;
            // An equivalence class: the letter in either case.
            append_byte(set, value);
            const char letter = static_cast<char>(value);
            if (is_letter(letter)) append_byte(set, static_cast<unsigned char>(letter ^ 0x20));
            return Item::set;
        }
        if (c != '\\') {
            value = static_cast<unsigned char>(c);
            ++pos_;
            return Item::byte;
        }
        if (pos_ + 1 >= in_.size()) {
            fail(PCRE2_ERROR_END_BACKSLASH);
            return Item::none;
        }
        ++pos_;
        const char e = in_[pos_];
        if (character_escape(e, true, value)) return Item::byte;
        if (e == 'b') {
            value = '\b';
        } else if (e >= '1' && e <= '7') {
            value = octal();
            return Item::byte;
        } else if (e == '8' || e == '9') {
            value = static_cast<unsigned char>(e);
        } else if (e == 'B') {
            fail(PCRE2_ERROR_ESCAPE_INVALID_IN_CLASS);
            return Item::none;
        } else {
            set += '\\';
            set += e;
            ++pos_;
            return Item::set;
        }
        ++pos_;
        return Item::byte;
    }

    Item posix_class(std::string_view name, std::string& set) {
        const std::string lower = platform::ascii_lower(std::string(name));
        if (lower == "d" || lower == "w" || lower == "s") {
            set += '\\';
            set += lower;
            return Item::set;
        }
        for (const char* known : kPosixClasses)
            if (lower == known) {
                set += "[:" + lower + ":]";
                return Item::set;
            }
        fail(PCRE2_ERROR_UNKNOWN_POSIX_CLASS);
        return Item::none;
    }

    // A class, read as std::regex reads it: a dash first, last, or after a
    // range is itself; a range runs between two code units, compared unsigned.
    bool bracket() {
        ++pos_;
        const bool negated = at(pos_) == '^' && more();
        if (negated) ++pos_;
        std::string members;
        bool pending = false;  // `last` is a code unit not yet written out
        bool lastIsSet = false;
        unsigned last = 0;
        const auto flush = [&] {
            if (pending && last < kNoByte) append_byte(members, last);
            pending = false;
        };
        const auto push_byte = [&](unsigned value) {
            flush();
            pending = true;
            lastIsSet = false;
            last = value;
        };
        const auto push_set = [&](const std::string& set) {
            flush();
            lastIsSet = true;
            members += set;
        };
        if (at(pos_) == '-' && more()) {
            ++pos_;
            push_byte('-');
        }
        for (;;) {
            if (!more()) return fail(PCRE2_ERROR_MISSING_SQUARE_BRACKET);
            const char c = in_[pos_];
            if (c == ']') {
                ++pos_;
                break;
            }
            if (c == '[' && pos_ + 1 >= in_.size()) return fail(PCRE2_ERROR_MISSING_SQUARE_BRACKET);
            if (c != '-') {
                unsigned value = 0;
                std::string set;
                switch (class_member(value, set)) {
                    case Item::none:
                        return false;
                    case Item::byte:
                        push_byte(value);
                        break;
                    case Item::set:
                        push_set(set);
                        break;
                }
                continue;
            }
            ++pos_;
            if (!more()) return fail(PCRE2_ERROR_MISSING_SQUARE_BRACKET);
            if (in_[pos_] == ']' || (!pending && !lastIsSet)) {
                push_byte('-');
                continue;
            }
            if (lastIsSet) return fail(PCRE2_ERROR_CLASS_INVALID_RANGE);
            // The end of a range: a code unit, a collating element excepted.
            unsigned high = '-';
            if (in_[pos_] == '-') {
                ++pos_;
            } else {
                if (in_[pos_] == '[' && (at(pos_ + 1) == '.' || at(pos_ + 1) == ':' || at(pos_ + 1) == '='))
                    return fail(PCRE2_ERROR_CLASS_INVALID_RANGE);
                std::string set;
                const Item item = class_member(high, set);
                if (item == Item::none) return false;
                if (item == Item::set) return fail(PCRE2_ERROR_CLASS_INVALID_RANGE);
            }
            if (last > high) return fail(PCRE2_ERROR_CLASS_RANGE_ORDER);
            if (last < kNoByte) {
                append_byte(members, last);
                members += '-';
                append_byte(members, std::min(high, 0xffu));
            }
            pending = false;
        }
        flush();
        if (members.empty()) {
            out_ += negated ? kAnything : kNothing;
            return true;
        }
        out_ += negated ? "[^" : "[";
        out_ += members;
        out_ += ']';
        return true;
    }
};

}  // namespace

bool translate_expression(std::string_view pattern, std::string& translated, int& errorCode) {
    return Translation(pattern).run(translated, errorCode);
}
