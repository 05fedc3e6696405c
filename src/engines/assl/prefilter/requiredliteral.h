// RequiredLiteral: a byte string that every match of a regular expression must contain, so
// a page without that string cannot match and its regex need not run.
//
// The pattern is read as the regular-expression library compiles it (UTF-8, Unicode
// properties, no extended mode). The reading is conservative: whenever a construct is not
// understood the answer is "none" (false), never a string that some match could lack.
// Pure functions; safe from any thread.
#pragma once

#include <string>

namespace assl {

// The shortest literal worth a pre-scan; shorter ones occur on almost every page.
constexpr std::size_t kMinRequiredLiteral = 3;

// True with the longest literal run of pattern at its top level (outside groups, classes
// and quantified atoms) when it has at least kMinRequiredLiteral bytes. caseless is set
// when the pattern starts with an option setting that turns on case-insensitive matching:
// literal is then ASCII lower-case and made only of bytes whose case partners are all
// ASCII, to be found in ASCII-lower-cased text.
bool RequiredLiteral(const char* pattern, std::string& literal, bool& caseless);

}  // namespace assl
