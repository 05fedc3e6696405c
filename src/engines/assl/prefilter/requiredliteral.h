// RequiredLiterals: byte strings one of which every match of a regular expression must
// contain, so a page without any of them cannot match and its regex need not run.
//
// The pattern is read as the regular-expression library compiles it (UTF-8, Unicode
// properties, no extended mode). The reading is conservative: whenever a construct is not
// understood the answer is "none" (false), never a string that some match could lack.
// Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace assl {

// The shortest literal worth a pre-scan; shorter ones occur on almost every page.
constexpr std::size_t kMinRequiredLiteral = 3;

// True when every match of pattern holds at least one of literals (each at least
// kMinRequiredLiteral bytes, sorted, no repeats): the best such set read from literal runs
// outside classes and optional atoms, and from groups whose every branch has a set. caseless
// is set when the pattern starts with an option setting that turns on case-insensitive
// matching: the literals are then ASCII lower-case and made only of bytes whose case
// partners are all ASCII, to be found in ASCII-lower-cased text.
bool RequiredLiterals(const char* pattern, std::vector<std::string>& literals, bool& caseless);

}  // namespace assl
