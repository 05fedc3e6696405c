// Character references of HTML text: the 100 named entities of HTML 4 for the ISO 8859-1
// characters and the markup characters, and numeric references.
//
// HTMLDecodeText writes a text with its references replaced into a caller's buffer; it is
// what page text, text runs and decoded addresses go through. It allocates nothing and is
// safe from any thread.
#pragma once

#include <cstddef>

// Number of named entities in the table.
inline constexpr std::size_t kHTMLEntityCount = 100;

// The character of a named entity (case-sensitive: "eacute" and "Eacute" differ), or 0 when
// the name is not in the table. "nbsp" gives a blank. O(1).
char16_t HTMLLookupEntity(const char16_t* name, std::size_t length) noexcept;

// Copies `length` units of text into out, replacing:
//  - "&name;" for a name in the table by its character (a name outside the table, or one
//    without the semicolon, stays as written);
//  - "&#digits" and "&#xhex" (the semicolon, when present, is consumed) by the character:
//    code points 0x80..0x9F read as Windows-1252, code points above 0xFFFF become a
//    surrogate pair, and 0, surrogates and values above 0x10FFFF become U+FFFD;
//  - U+0000 and unpaired surrogates in the text by U+FFFD, so the result converts to UTF-8.
// The result is never longer than the input: out needs room for `length` units. Returns
// the number of units written. O(length).
std::size_t HTMLDecodeText(const char16_t* text, std::size_t length, char16_t* out) noexcept;
