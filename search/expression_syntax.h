// Expressions are written in the grammar std::regex reads (ECMAScript as C++
// defines it, case folded) and PCRE2 reads another: each expression is
// translated token by token into PCRE2 syntax of the same meaning. Where
// std::regex strays from ECMAScript, ECMAScript's meaning is taken. The
// translation assumes PCRE2's caseless, non-UTF mode with `$` at the very end
// only and ANYCRLF newlines, as SearchRegex compiles it.
#pragma once

#include <string>
#include <string_view>

// The PCRE2 pattern; false, with a PCRE2 error code, for a pattern refused.
bool translate_expression(std::string_view pattern, std::string& translated, int& errorCode);
