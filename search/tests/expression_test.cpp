#include "expression.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expression_differential.h"

namespace {

SearchRegex compiled(const std::string& pattern) {
    SearchRegex regex;
    std::string error;
    EXPECT_TRUE(regex.compile(pattern, error)) << pattern << ": " << error;
    return regex;
}

// The matched text, or "<none>" when the expression finds nothing.
std::string first_match(const SearchRegex& regex, const std::string& subject) {
    std::size_t start = 0;
    std::size_t end = 0;
    switch (regex.search(subject.data(), subject.size(), start, end)) {
        case SearchRegex::Outcome::match:
            return subject.substr(start, end - start);
        case SearchRegex::Outcome::no_match:
            return "<none>";
        case SearchRegex::Outcome::gave_up:
            break;
    }
    return "<gave up>";
}

}  // namespace

TEST(SearchExpression, MeansWhatEcmaScriptMeans) {
    struct Case {
        const char* what;
        const char* pattern;
        std::string subject;
        const char* expected;  // the first match, or <none>
    };
    const Case cases[] = {
        {"anchors", "^abc$", "abc", "abc"},
        {"anchors", "^abc$", "xabc", "<none>"},
        {"caret only at the start", "^b", "ab", "<none>"},
        {"$ not before a final line feed", "abc$", "abc\n", "<none>"},
        {"$ not before a final carriage return", "abc$", "abc\r", "<none>"},
        {"$ before a carriage return is written out", "abc\\r$", "abc\r", "abc\r"},
        {"dot and carriage return", "a.b", "a\rb", "<none>"},
        {"dot and line feed", "a.b", "a\nb", "<none>"},
        {"dot and tab", "a.b", "a\tb", "a\tb"},
        {"word boundary", "\\bfoo\\b", "a foo b", "foo"},
        {"word boundary inside a word", "\\bfoo\\b", "afoob", "<none>"},
        {"no word boundary", "\\Boo", "foo", "oo"},
        {"digits", "\\d+", "ab123c", "123"},
        {"digits are ASCII only", "\\d", "\xd9\xa3", "<none>"},
        {"range folds A-Z", "[a-c]+", "xxBCAd", "BCA"},
        {"negated class", "[^a-z]", "abc1", "1"},
        {"word class is ASCII", "\\w+", "\xc3\xa9_x", "_x"},
        {"space class", "a\\sb", "a b", "a b"},
        {"empty negated class matches any byte", "a[^]c", "a\rc", "a\rc"},
        {"empty class matches nothing", "a[]", "abc", "<none>"},
        {"back-reference", "(a)\\1", "baab", "aa"},
        {"back-reference fails", "(a)\\1", "ab", "<none>"},
        {"back-reference folds case", "(a)\\1", "aA", "aA"},
        {"unset back-reference matches empty", "\\1(a)", "ba", "a"},
        {"back-reference to a group that did not take part", "(a)|\\1b", "b", "b"},
        {"look-ahead", "foo(?=bar)", "foobar", "foo"},
        {"look-ahead fails", "foo(?=bar)", "foobaz", "<none>"},
        {"negative look-ahead", "foo(?!bar)", "foobar foobaz", "foo"},
        {"\\u escape", "\\u0041", "xA", "A"},
        {"\\u escape folds case", "\\u0041", "xa", "a"},
        {"\\x escape", "\\x41\\x62", "zab", "ab"},
        {"\\U is a plain U", "\\U", "xu", "u"},
        {"case folds A-Z", "HELLO", "say hello", "hello"},
        {"accented capital does not fold (UTF-8)", "\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9", "<none>"},
        {"accented capital does not fold (Latin-1)", "\\xC9", "\xe9", "<none>"},
        {"accented letter matches itself", "\xc3\xa9", "caf\xc3\xa9", "\xc3\xa9"},
        {"leftmost, then greedy", "a+", "baaa", "aaa"},
        {"alternation takes the first that fits", "ab|abc", "abc", "ab"},
        {"quantified group", "(ab){2}", "abababx", "abab"},
        {"empty expression", "", "anything", ""},
        {"expression matching empty text", "x*", "abc", ""},
        // Syntax std::regex refused and PCRE2 accepts.
        {"look-behind", "(?<=a)b", "cbab", "b"},
        {"atomic group", "(?>a+)b", "aab", "aab"},
        {"inline case option", "(?-i)A", "aA", "A"},
    };
    for (const Case& c : cases) {
        const SearchRegex regex = compiled(c.pattern);
        EXPECT_EQ(first_match(regex, c.subject), c.expected) << c.what << ": /" << c.pattern << "/";
    }
}

// What std::regex read, where PCRE2 reads the same text otherwise; and where
// std::regex strayed from ECMAScript, ECMAScript.
TEST(SearchExpression, KeepsTheMeaningStdRegexGaveIt) {
    struct Case {
        const char* what;
        const char* pattern;
        std::string subject;
        const char* expected;
    };
    const Case cases[] = {
        {"\\v is the vertical tab alone", "\\v", "a\r\n\f\x85", "<none>"},
        {"\\v is the vertical tab alone", "\\v", "a\v", "\v"},
        {"letters PCRE2 gives a meaning", "\\A\\z\\Z\\G\\h\\H\\e\\a", "-azzghheaa", "azzghhea"},
        {"letters PCRE2 gives a meaning", "x\\Ky\\N\\R\\V\\X", "xkynrvx", "xkynrvx"},
        {"\\Q and \\E are letters", "x\\Qy.\\E", "xqyzE", "xqyzE"},
        {"letters PCRE2 refuses", "\\g\\i\\j\\k\\l\\m\\o\\p\\q\\y", "GIJKLMOPQY", "GIJKLMOPQY"},
        {"letters PCRE2 refuses", "\\C\\F\\I\\J\\L\\M\\O\\P\\T\\Y", "cfijlmopty", "cfijlmopty"},
        {"letters in a class", "[\\z\\A\\h\\R\\Q]+", " \r\nazhrq", "azhrq"},
        {"equivalence class", "[[=a=]]", "xA", "A"},
        {"collating element", "[[.hyphen.]-0]+", "a-./0x", "-./0"},
        {"word class by name", "[[:w:]]+", "!a_1!", "a_1"},
        {"bare class name is a class", "[:alpha:]+", "bpha:", "pha:"},
        {"a?+ repeats a?", "a?+b", "aab", "aab"},
        {"a++ repeats a+", "a++a", "aaa", "aaa"},
        {"a{2}+ repeats a{2}", "a{2}+", "aaaaa", "aaaa"},
        {"a** repeats a*", "a**b", "aab", "aab"},
        {"quantified empty class", "a[]*b", "ab", "ab"},
        {"quantified empty class", "a[]?b", "ab", "ab"},
        {"quantified empty class", "[]*", "x", ""},
        {"a loop after alternatives, entered again", "(?:x|)y*x", "x", "x"},
        {"a loop after alternatives, entered again", "(xa|(x))a+a", "xaa", "xaa"},
        {"a start between CR and LF", "\\s\\w", "\r\nx", "\nx"},
        {"a start between CR and LF", ".*\\nx", "\r\nx", "\nx"},
        {"control escape", "\\cJ\\cj", "x\n\n", "\n\n"},
        {"octal escapes", "\\01\\012", "\x01\n", "\x01\n"},
        {"repeated back-reference to a group that did not take part", "(?:(a)|b)\\1{2}c", "bc", "bc"},
        {"^ in a look-ahead is the line's start", "a(?=^b)", "ab", "<none>"},
        {"\\b in a look-ahead sees the byte before", "a(?=\\bb)", "ab", "<none>"},
        {"ranges compare bytes unsigned", "[a-\\xe9]", "\xc9", "\xc9"},
        {"\\u above 00FF is no byte", "\\u0141|B", "AAb", "b"},
    };
    for (const Case& c : cases) {
        const SearchRegex regex = compiled(c.pattern);
        EXPECT_EQ(first_match(regex, c.subject), c.expected) << c.what << ": /" << c.pattern << "/";
    }
    // PCRE2's start-of-match optimisation loses this one: empty at the first position.
    const SearchRegex zero = compiled("(?:a|(?=b)){0}");
    for (const std::string subject : {"x", "ab"}) {
        std::size_t start = 9;
        std::size_t end = 9;
        EXPECT_EQ(zero.search(subject.data(), subject.size(), start, end), SearchRegex::Outcome::match) << subject;
        EXPECT_EQ(start, 0u) << subject;
        EXPECT_EQ(end, 0u) << subject;
    }
}

// Generated expressions and lines from a fixed seed, so that a difference comes back on every run.
TEST(SearchExpression, AgreesWithStdRegex) {
    std::mt19937 rng(20);
    int compared = 0;
    std::vector<std::string> differences;
    for (int i = 0; i < 12000; ++i) {
        std::vector<std::uint8_t> choices(rng() % 200);
        for (std::uint8_t& choice : choices) choice = static_cast<std::uint8_t>(rng());
        std::string what;
        switch (differential::compare(differential::generate(choices.data(), choices.size()), what)) {
            case differential::Verdict::same:
                ++compared;
                break;
            case differential::Verdict::differ:
                differences.push_back(what);
                break;
            case differential::Verdict::set_aside:
                break;
        }
    }
    EXPECT_GT(compared, 8000);  // most cases are compared, not set aside
    for (std::size_t i = 0; i < differences.size() && i < 10; ++i) ADD_FAILURE() << differences[i];
    EXPECT_EQ(differences.size(), 0u);
}

TEST(SearchExpression, RejectedPatternsGiveTheLibrarysDescription) {
    struct Case {
        std::string pattern;
        const char* description;  // a part of PCRE2's message
    };
    const Case cases[] = {
        {"(", "missing closing parenthesis"},
        {"[", "missing terminating ]"},
        {"a{2,1}", "out of order"},
        {"^*", "quantifier does not follow"},
        {"(?<n>a)", "unrecognized character after (?"},
        {"[b-a]", "range out of order"},
        {"[\\x80-a]", "range out of order"},
        {"[[:word:]]", "unknown POSIX class name"},
        {"a\\", "\\ at end of pattern"},
        {"(a)\\2", "non-existent subpattern"},
        {"a{65536}", "number too big"},
        {"(abcdefgh){5000}", "regular expression is too large"},
        {std::string(20000, '(') + "a" + std::string(20000, ')'), "too deeply nested"},
    };
    for (const Case& c : cases) {
        SearchRegex regex;
        std::string error;
        EXPECT_FALSE(regex.compile(c.pattern, error)) << c.pattern.substr(0, 20);
        EXPECT_NE(error.find(c.description), std::string::npos) << c.pattern.substr(0, 20) << ": " << error;
        EXPECT_FALSE(regex.compiled());
    }
}

TEST(SearchExpression, ExponentialBacktrackingGivesUpInBoundedTime) {
    const std::string subject = std::string(30, 'a') + "!";
    for (const char* pattern : {"^(a+)+$", "(a+)+$", "(a|a)+$"}) {
        const SearchRegex regex = compiled(pattern);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(first_match(regex, subject), "<gave up>") << pattern;
        // Loose: the budget is a fixed amount of work, far below a minute on any machine.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << pattern;
        // The same copy goes on working afterwards.
        EXPECT_EQ(first_match(regex, "aa"), "aa") << pattern;
    }
}

TEST(SearchExpression, WorkIsBoundedPerSubjectNotPerStartPosition) {
    // Each start position alone is cheap enough; all of them together are not.
    std::string runs;
    for (int i = 0; i < 1000; ++i) runs += std::string(15, 'a') + "!";
    EXPECT_EQ(first_match(compiled("(a|a)+$"), runs), "<gave up>");
    EXPECT_EQ(first_match(compiled("(a|a)+$"), runs.substr(0, 16 * 3) + "a"), "a");
}

TEST(SearchExpression, WholeLongSubjects) {
    std::string digits(10000, '7');
    EXPECT_EQ(first_match(compiled("\\d+$"), digits + "x"), "<none>");
    EXPECT_EQ(first_match(compiled("\\d+$"), digits), digits);

    std::string far(20000, 'q');
    far += "NeEdLe and more";
    EXPECT_EQ(first_match(compiled("needle.*"), far), "NeEdLe and more");

    // A hard start position early on does not use up the budget of the rest of the line.
    std::string mixed = std::string(22, 'a') + "!" + std::string(100000, 'z') + "aab";
    EXPECT_EQ(first_match(compiled("(a|aa)+b"), mixed), "aab");
}

TEST(SearchExpression, TenMegabyteLineNeedsTheGrowingStack) {
    std::string line;
    line.reserve((10u << 20) + 1);
    while (line.size() < (10u << 20)) line += "ab";
    line += 'c';
    const SearchRegex regex = compiled("(a|b)*c");
    std::size_t start = 9;
    std::size_t end = 0;
    ASSERT_EQ(regex.search(line.data(), line.size(), start, end), SearchRegex::Outcome::match);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, line.size());
}

TEST(SearchExpression, CopiesShareTheCodeButNotTheMatchState) {
    const SearchRegex original = compiled("b+");
    SearchRegex copy = original;
    SearchRegex assigned;
    assigned = copy;
    EXPECT_EQ(first_match(original, "abbc"), "bb");
    EXPECT_EQ(first_match(copy, "xbx"), "b");
    EXPECT_EQ(first_match(assigned, "bbb"), "bbb");
    EXPECT_EQ(first_match(SearchRegex(), "b"), "<none>");
    EXPECT_EQ(compiled("abc").required_byte(), 'c');
    EXPECT_EQ(compiled("x*").required_byte(), -1);
}
