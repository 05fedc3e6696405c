// Page decoding: the bytes of a page as received -> UTF-16 text, the way the host reads a
// page before it parses it.
//
// The charset is chosen in this order:
//   1. a byte-order mark: EF BB BF (utf-8), FF FE (utf-16le), FE FF (utf-16be);
//   2. a charset named by a <meta> tag ("<meta charset=...>", or http-equiv Content-Type
//      with content "...; charset=...") within the first kMetaScanBytes bytes. Labels of
//      Latin-1 and ASCII read as windows-1252 (its superset, as browsers read them), UTF-8
//      labels as utf-8, any other name through the C library's iconv. A name iconv does
//      not know, one that does not read ASCII as ASCII (UTF-16/32, EBCDIC, UTF-7: the meta
//      tag was found in ASCII, so the page cannot be in them) or an ill-formed name is
//      ignored;
//   3. utf-8 when the bytes are valid UTF-8 (plain ASCII included);
//   4. windows-1252 otherwise.
// Malformed input never fails: each bad sequence becomes U+FFFD, and so do U+0000 and
// unpaired surrogates, so the text is well-formed UTF-16 without zero units (it survives
// zero-terminated storage and converts to UTF-8).
//
// Cost: O(bytes) time, output plus a bounded scan window of memory. Pure functions (iconv
// descriptors are opened per call), safe from any thread. Tested by
// tests/host/page_decoder_test.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zzhost {

// Bytes at the start of a page searched for a charset-naming meta tag; a tag that does not
// end within them names nothing.
inline constexpr std::size_t kMetaScanBytes = 8192;
// Longest charset name taken from a meta tag (longer ones are ignored).
inline constexpr std::size_t kMaxCharsetNameLength = 40;

struct DecodedPage {
  std::u16string text;
  // Lower-case name of the charset used: "utf-8", "utf-16le", "utf-16be", "windows-1252",
  // or the lower-cased name a meta tag gave (e.g. "iso-8859-2").
  std::string charset;
};

DecodedPage DecodePage(std::string_view bytes);

// Step 2's scan: the charset label of the first meta tag within the first kMetaScanBytes
// bytes that names one, trimmed and lower-cased, or "" when none does. Follows browsers'
// pre-scan: comments and the attributes of other tags are skipped, the first occurrence
// of an attribute counts, http-equiv content counts only with http-equiv="content-type".
// Unterminated tags, quotes and comments end the scan. O(kMetaScanBytes).
std::string FindMetaCharset(std::string_view bytes);

// The decoders, appending to out. DecodeUtf8 returns false when some bytes were not valid
// UTF-8 (each maximal invalid piece became one U+FFFD). DecodeWithIconv returns false,
// leaving out unchanged, when iconv cannot open a converter from charset.
bool DecodeUtf8(std::string_view bytes, std::u16string& out);
void DecodeWindows1252(std::string_view bytes, std::u16string& out);
bool DecodeWithIconv(std::string_view bytes, const std::string& charset, std::u16string& out);

}  // namespace zzhost
