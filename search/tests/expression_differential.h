// SearchRegex against std::regex (ECMAScript | icase), the grammar the
// expressions are written in, on expressions and lines built from a string of
// choices: the fuzz target takes the choices from the fuzzer, the unit test
// from a fixed seed. Kept small (expression up to 40 bytes, counts up to 4,
// line up to 32 bytes, a bound on the ways to try) since std::regex
// backtracks without bound and cannot be interrupted.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>

#include "expression.h"

namespace differential {

// Where std::regex departs from ECMAScript and SearchRegex keeps to it. A case
// holding one of these is set aside when the two differ.
enum Departure : unsigned {
    kUnsetBackref = 1,       // a back-reference to a group that did not take part fails
    kAnchorInLookahead = 2,  // ^ \b \B in a look-ahead take its start for the line's
    kControlEscape = 4,      // \cJ is J
    kOctalEscape = 8,        // \012 is NUL, 1, 2
    kHighRange = 16,         // range ends above 0x7F compared as signed bytes
    kWideEscape = 32,        // \u above 00FF cut to its low byte
};

struct Case {
    std::string pattern;
    std::string subject;
    unsigned departures = 0;
    bool costly = false;  // std::regex might take too long on it: not run
};

// Each choice takes one byte; past the end every choice is 0, which always
// means the shortest way on, so that any input gives a finite case.
class Choices {
public:
    Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned pick(unsigned n) { return pos_ < size_ ? data_[pos_++] % n : 0; }
    template <std::size_t N>
    const char* from(const char* const (&options)[N]) {
        return options[pick(N)];
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class Generator {
public:
    explicit Generator(Choices& choices) : c_(choices) {}

    Case make() {
        Case out;
        const double ways = disjunction(0).ways;
        out.costly = ways > kMaxWays || p_.size() > kMaxPattern;
        out.pattern = std::move(p_);
        out.departures = departures_ | octal_escapes(out.pattern);
        // Mostly bytes the expression names, so that it meets them.
        static const char kExtra[] = "aAbB_x0 -\r\n\t\v\f\b\x01\0\xe9\xc9\x80zJ";
        const unsigned length = c_.pick(kLine + 1);
        while (out.subject.size() < length) {
            switch (c_.pick(6)) {
                case 0:
                    out.subject += kExtra[c_.pick(sizeof kExtra - 1)];
                    break;
                case 1:
                    out.subject += "\r\n";
                    break;
                default:
                    if (!out.pattern.empty())
                        out.subject += out.pattern[c_.pick(static_cast<unsigned>(out.pattern.size()))];
                    else
                        out.subject += 'a';
            }
        }
        out.subject.resize(length);
        return out;
    }

private:
    // What a part of the expression gives: the groups it sets whenever it
    // matches, and a bound on the ways std::regex may try it at one place.
    struct Part {
        std::uint64_t sets = 0;
        double ways = 1;
    };

    static constexpr unsigned kLine = 32;
    static constexpr std::size_t kRoom = 26;  // no new term once the expression is this long
    static constexpr std::size_t kMaxPattern = 40;
    static constexpr double kMaxWays = 300;

    Choices& c_;
    std::string p_;
    unsigned departures_ = 0;
    unsigned opened_ = 0;
    std::uint64_t closed_ = 0;  // capturing groups closed so far, by number
    int depth_ = 0;
    int lookahead_ = 0;

    static std::uint64_t bit(unsigned group) { return group < 64 ? std::uint64_t{1} << group : 0; }

    // `known`: the groups set before this part, so that a back-reference
    // knows whether its group may not have taken part.
    Part disjunction(std::uint64_t known) {
        Part all = alternative(known);
        for (unsigned more = c_.pick(3) == 2 ? 1 + c_.pick(2) : 0; more > 0; --more) {
            p_ += '|';
            const Part next = alternative(known);
            all.sets &= next.sets;
            all.ways += next.ways;
        }
        return all;
    }

    Part alternative(std::uint64_t known) {
        Part all;
        for (unsigned terms = c_.pick(5); terms > 0 && p_.size() < kRoom; --terms) {
            const Part next = term(known | all.sets);
            all.sets |= next.sets;
            all.ways *= next.ways;
        }
        return all;
    }

    Part term(std::uint64_t known) {
        switch (c_.pick(13)) {
            case 0:
                p_ += '^';
                break;
            case 1:
                p_ += '$';
                return {};
            case 2:
                p_ += c_.pick(2) ? "\\b" : "\\B";
                break;
            case 3:
            case 4: {
                if (depth_ >= 3) break;
                const bool positive = c_.pick(2) == 0;
                p_ += positive ? "(?=" : "(?!";
                ++depth_;
                ++lookahead_;
                Part inside = disjunction(known);
                --lookahead_;
                --depth_;
                p_ += ')';
                if (!positive) inside.sets = 0;
                return inside;
            }
            default: {
                Part part = atom(known);
                for (unsigned n = c_.pick(6) / 3 + (c_.pick(8) == 0); n > 0; --n) quantifier(part);
                return part;
            }
        }
        if (lookahead_ > 0) departures_ |= kAnchorInLookahead;
        return {};
    }

    // A quantifier on `part`, left out where it would let std::regex take
    // too many ways on a failing line.
    void quantifier(Part& part) {
        static const char* const kCounts[] = {"?",   "{0}", "{1}", "{2}",  "{0,1}", "{1,3}", "{2,4}", "{0,4}", "{3,1}",
                                              "{4}", "*",   "+",   "{0,}", "{2,}",  "*",     "+",     "{0}"};
        const std::string q = c_.from(kCounts);
        const bool lazy = c_.pick(3) == 0;
        double ways = 0;
        if (q == "*" || q == "+" || q.find(",}") != std::string::npos) {
            if (part.ways > 1) return;  // a loop of choices: exponential in the line
            ways = kLine + 1;
        } else {
            const int most = q == "?" ? 1 : q[q.size() - 2] - '0';
            for (int k = 0; k <= most; ++k) ways += std::pow(part.ways, k);
        }
        if (ways > kMaxWays) return;
        part.ways = ways;
        p_ += q;
        if (lazy) p_ += '?';
        if (q[0] == '?' || q[0] == '*' || q[1] == '0') part.sets = 0;
    }

    Part atom(std::uint64_t known) {
        static const char* const kLiterals[] = {"a", "A", "b", "x",  "0",  "1",  " ",    "-",    "_", ":",
                                                "]", "}", ",", "\r", "\n", "\t", "\xe9", "\xc9", "J", "c"};
        static const char* const kClassEscapes[] = {"\\d", "\\D", "\\w", "\\W", "\\s", "\\S"};
        static const char* const kEscapes[] = {
            "\\n",     "\\r",     "\\t",     "\\f",  "\\v",  "\\0",  "\\01", "\\012", "\\x41", "\\xe9", "\\x4",
            "\\u0041", "\\u00e9", "\\u0141", "\\cJ", "\\cj", "\\c1", "\\c",  "\\.",   "\\*",   "\\\\",  "\\[",
            "\\]",     "\\(",     "\\{",     "\\|",  "\\^",  "\\$",  "\\-",  "\\/",   "\\ ",   "\\\xe9"};
        // Letters ECMAScript gives no meaning, and PCRE2 often does.
        static const char* const kLetters[] = {"\\A", "\\z", "\\Z", "\\G", "\\h", "\\H", "\\e", "\\a", "\\K",
                                               "\\N", "\\R", "\\V", "\\X", "\\Q", "\\E", "\\g", "\\i", "\\j",
                                               "\\k", "\\l", "\\m", "\\o", "\\p", "\\q", "\\y", "\\C", "\\F",
                                               "\\I", "\\J", "\\L", "\\M", "\\O", "\\P", "\\T", "\\Y", "\\U"};
        switch (c_.pick(11)) {
            case 0:
            case 1:
                p_ += c_.from(kLiterals);
                return {};
            case 2:
                p_ += '.';
                return {};
            case 3:
                p_ += c_.from(kClassEscapes);
                return {};
            case 4: {
                const std::string e = c_.from(kEscapes);
                if (e.rfind("\\c", 0) == 0) departures_ |= kControlEscape;
                if (e == "\\u0141") departures_ |= kWideEscape;
                p_ += e;
                return {};
            }
            case 5:
                p_ += c_.from(kLetters);
                return {};
            case 6:
                bracket();
                return {};
            case 7:
            case 8: {
                if (depth_ >= 3) break;
                const bool capturing = c_.pick(3) != 0;
                const unsigned number = capturing ? ++opened_ : 0;
                p_ += capturing ? "(" : "(?:";
                ++depth_;
                Part inside = disjunction(known);
                --depth_;
                p_ += ')';
                if (capturing) {
                    closed_ |= bit(number);
                    inside.sets |= bit(number);
                }
                return inside;
            }
            case 9: {
                // A back-reference to a group closed before it, as std::regex requires.
                if (closed_ == 0) break;
                unsigned number = 1 + c_.pick(opened_);
                while (!(closed_ & bit(number))) number = number % opened_ + 1;
                if (!(known & bit(number))) departures_ |= kUnsetBackref;
                p_ += '\\' + std::to_string(number);
                return {};
            }
            case 10:
                p_ += c_.pick(2) ? "[:alpha:]" : "[:w:]";
                return {};
        }
        p_ += 'a';
        return {};
    }

    void bracket() {
        static const char* const kMembers[] = {
            "a",         "Z",         "0",     "_",     " ",         "-",          "^",     "\xe9",
            "\\d",       "\\W",       "\\s",   "\\b",   "\\n",       "\\z",        "\\A",   "\\-",
            "\\]",       "\\[",       "\\\\",  "\\x41", "\\u00e9",   "\\cJ",       "\\0",   "\\1",
            "[:alpha:]", "[:upper:]", "[:w:]", "[:D:]", "[:Lower:]", "[:word:]",   "[.a.]", "[.hyphen.]",
            "[.space.]", "[.NUL.]",   "[.1.]", "[=a=]", "[=E=]",     "[=hyphen=]", "[",     "\\B"};
        static const char* const kEnds[] = {"a",       "z",    "A",     "Z",     "0",     "9",   "-",
                                            " ",       "_",    "\xe9",  "\\xe9", "\\x41", "\\n", "\\u0041",
                                            "\\u0141", "\xc9", "\\x80", "\\cJ",  "[.a.]"};
        const std::size_t start = p_.size();
        p_ += c_.pick(3) == 0 ? "[^" : "[";
        for (unsigned members = c_.pick(5); members > 0; --members) {
            if (c_.pick(3) != 0) {
                const std::string m = c_.from(kMembers);
                if (m == "\\cJ") departures_ |= kControlEscape;
                p_ += m;
                continue;
            }
            const std::string low = c_.from(kEnds);
            const std::string high = c_.from(kEnds);
            for (const std::string& end : {low, high}) {
                if (end == "\\u0141") departures_ |= kWideEscape;
                if (end == "\\cJ") departures_ |= kControlEscape;
            }
            p_ += low + "-" + high;
        }
        p_ += ']';
        // A dash may join any two members into a range.
        const std::string text = p_.substr(start);
        if (text.find('-') != std::string::npos &&
            (text.find_first_of("\x80\xc9\xe9") != std::string::npos || text.find("\\xe9") != std::string::npos ||
             text.find("\\x80") != std::string::npos || text.find("\\u00e9") != std::string::npos))
            departures_ |= kHighRange;
    }

    // \0 followed by a digit, however the two came together.
    static unsigned octal_escapes(const std::string& pattern) {
        for (std::size_t i = 0; i + 2 < pattern.size(); ++i) {
            if (pattern[i] != '\\') continue;
            if (pattern[i + 1] == '0' && pattern[i + 2] >= '0' && pattern[i + 2] <= '9') return kOctalEscape;
            ++i;
        }
        return 0;
    }
};

inline Case generate(const std::uint8_t* data, std::size_t size) {
    Choices choices(data, size);
    return Generator(choices).make();
}

inline std::string printable(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x20 && b < 0x7f && b != '\\') {
            out += ch;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", b);
        out += hex;
    }
    return out;
}

enum class Verdict { same, set_aside, differ };

// Both engines on one case; `what` tells a difference.
inline Verdict compare(const Case& c, std::string& what) {
    if (c.costly) return Verdict::set_aside;
    std::regex reference;
    try {
        reference.assign(c.pattern, std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error&) {
        return Verdict::set_aside;  // refused: the syntax is free for PCRE2's
    }
    const std::string shown = "/" + printable(c.pattern) + "/ on \"" + printable(c.subject) + "\": ";
    SearchRegex regex;
    std::string error;
    if (!regex.compile(c.pattern, error)) {
        // Range ends that mean other bytes in ECMAScript can put a range out of order.
        if (c.departures & (kHighRange | kWideEscape | kControlEscape)) return Verdict::set_aside;
        what = shown + "std::regex accepts it, SearchRegex refuses it: " + error;
        return Verdict::differ;
    }
    std::cmatch m;
    bool found = false;
    try {
        found = std::regex_search(c.subject.data(), c.subject.data() + c.subject.size(), m, reference);
    } catch (const std::regex_error&) {
        return Verdict::set_aside;
    }
    std::size_t start = 0;
    std::size_t end = 0;
    const SearchRegex::Outcome outcome = regex.search(c.subject.data(), c.subject.size(), start, end);
    const auto describe = [](bool hit, std::size_t from, std::size_t to) {
        return hit ? "[" + std::to_string(from) + ", " + std::to_string(to) + ")" : std::string("no match");
    };
    if (outcome == SearchRegex::Outcome::gave_up) {
        what = shown + "SearchRegex gave up";
        return Verdict::differ;
    }
    const bool hit = outcome == SearchRegex::Outcome::match;
    const std::size_t refStart = found ? static_cast<std::size_t>(m.position(0)) : 0;
    const std::size_t refEnd = found ? refStart + static_cast<std::size_t>(m.length(0)) : 0;
    if (hit == found && (!hit || (start == refStart && end == refEnd))) return Verdict::same;
    if (c.departures) return Verdict::set_aside;
    what = shown + "std::regex " + describe(found, refStart, refEnd) + ", SearchRegex " + describe(hit, start, end);
    return Verdict::differ;
}

}  // namespace differential
