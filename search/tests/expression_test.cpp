#include "expression.h"

#include <chrono>
#include <string>

#include <gtest/gtest.h>

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
        {"possessive quantifier", "a++a", "aaa", "<none>"},
        {"inline case option", "(?-i)A", "aA", "A"},
        {"quoted text", "\\Qa.b\\E", "axb a.b", "a.b"},
    };
    for (const Case& c : cases) {
        const SearchRegex regex = compiled(c.pattern);
        EXPECT_EQ(first_match(regex, c.subject), c.expected) << c.what << ": /" << c.pattern << "/";
    }
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
        {"(*UTF)a", "UTF is disabled"},
        {"a\\Cb", "\\C is disabled"},
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
