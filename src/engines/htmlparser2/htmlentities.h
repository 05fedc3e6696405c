// The named entities of HTML text: the 100 of HTML 4 for the ISO 8859-1 characters and the
// markup characters.
//
// HTMLDecodeText writes a text with its entities replaced into a caller's buffer; it is
// what page text, text runs and decoded addresses go through. It allocates nothing and is
// safe from any thread.
#pragma once

#include <cstddef>

// Number of named entities in the table.
inline constexpr std::size_t kHTMLEntityCount = 100;

// The character of a named entity (case-sensitive: "eacute" and "Eacute" differ), or 0 when
// the name is not in the table. "nbsp" gives a blank. O(1).
char16_t HTMLLookupEntity(const char16_t* name, std::size_t length) noexcept;

// Copies `length` units of text into out, replacing "&name;" for a name in the table by
// its character. Everything else stays as written: a name outside the table ("&euro;"), a
// name without its semicolon ("&amp"), numeric references ("&#233;", "&#xE9;"). The result
// is never longer than the input: out needs room for `length` units (out may be text).
// Returns the number of units written. O(length).
std::size_t HTMLDecodeText(const char16_t* text, std::size_t length, char16_t* out) noexcept;
