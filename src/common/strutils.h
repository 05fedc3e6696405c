// Free utilities over raw 8-bit and UTF-16 character buffers.
//
// Nothing here allocates or owns memory: every function works in the caller's buffers.
// 8-bit case folding is ASCII only ('A'..'Z'). Wide text is classified and lower-cased by
// Unicode (the simple lower-case mapping and the letter categories of the Unicode character
// database, in generated tables), never through the process locale. All functions are
// re-entrant and safe from any thread; the tokenisers keep their position in a caller-held
// pointer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

// Lower-cases 'A'..'Z' in place; other bytes stay. Null is ignored.
void AsciiLowerInPlace(char* text) noexcept;
void AsciiLowerInPlace(char* text, std::size_t length) noexcept;

// Case-insensitive (ASCII) comparison of two zero-terminated texts: <0, 0 or >0, bytes
// compared as unsigned after folding. Both must be non-null.
int CompareNoCase(const char* left, const char* right) noexcept;

// First occurrence of needle in haystack ignoring ASCII case, or null (also for null
// arguments). An empty needle matches at the start. O(|haystack| * |needle|).
const char* FindNoCase(const char* haystack, const char* needle) noexcept;

// Compare two buffers over the shorter of both lengths: -1, 0 or 1 (unsigned elements).
// Equal prefixes compare equal, whatever the lengths.
int CompareBytes(const void* left, std::size_t leftLength, const void* right,
                 std::size_t rightLength) noexcept;
int CompareUnits(const char16_t* left, std::size_t leftLength, const char16_t* right,
                 std::size_t rightLength) noexcept;

// Whether a code point is a letter (Unicode categories Lu, Ll, Lt, Lm, Lo, Nl). O(1).
bool IsLetter(char32_t codePoint) noexcept;
// Simple Unicode lower case of a code point (itself when it has none). O(1).
char32_t ToLower(char32_t codePoint) noexcept;
// The wide case folding of this system: ToLower of one UTF-16 unit (surrogates unchanged).
char16_t WideToLower(char16_t unit) noexcept;
// Lower-cases length units in place: units through WideToLower, surrogate pairs through
// ToLower of their code point (the result is a pair again).
void WideLowerInPlace(char16_t* text, std::size_t length) noexcept;

// Case-insensitive comparison of two zero-terminated wide texts, unit by unit through
// WideToLower: <0, 0 or >0. Both must be non-null.
int WideCompareNoCase(const char16_t* left, const char16_t* right) noexcept;
// As WideCompareNoCase over at most n units, but the comparison stops with 0 as soon as
// either text reaches its terminator (a text that is a prefix of the other compares equal)
// or after n units.
int WideCompareNoCaseN(const char16_t* left, const char16_t* right, std::size_t n) noexcept;

// First occurrence of needle in haystack (zero-terminated wide texts), ignoring case
// through WideToLower; null when absent or on null arguments.
const char16_t* WideFindNoCase(const char16_t* haystack, const char16_t* needle) noexcept;

// Re-entrant tokenisers (strtok_r rules). First call: text is the buffer to split, later
// calls: null. Leading delimiters are skipped, the token is cut with a zero written over
// the delimiter that ends it, and *ppContext keeps the continuation. Returns the token or
// null when none is left (also for null delimiters or context).
char* Tokenize(char* text, const char* delimiters, char** ppContext) noexcept;
char16_t* TokenizeWide(char16_t* text, const char16_t* delimiters,
                       char16_t** ppContext) noexcept;

// First occurrence of a byte pattern inside a buffer, or null (also for null arguments or
// an empty pattern). O(bufferLength * patternLength) worst case.
const unsigned char* FindBytes(const void* buffer, std::size_t bufferLength,
                               const void* pattern, std::size_t patternLength) noexcept;

// Value of a zero-terminated wide text made only of the digits '0'..'9'. Any other unit,
// a null or empty text, or a value above INT64_MAX gives 0.
std::int64_t ParseWideDecimal(const char16_t* text) noexcept;

}  // namespace ascommon
