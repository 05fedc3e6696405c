// Conversions between 8-bit and wide text: exact UTF-8 <-> UTF-16, UTF-8 lower-casing, and
// conversions through the current C locale ("ANSI" text).
//
// The exact conversions are strict: a high surrogate must be followed by a low surrogate,
// a lone low surrogate is illegal, over-long or malformed UTF-8 is illegal, and code points
// above 0x10FFFF or inside the surrogate range are illegal. Results are status codes:
//   0    success
//   -1   null input or output where text was required
//   -2   out of memory
//   -50  illegal sequence (the target holds what was converted before it)
//   -51  the input ends inside a character, or the output buffer is full
//   -250 (string status only) the converted text did not fit the reserved space
//
// Ownership: targets are the caller's strings or buffers; the *Alloc functions return a
// block from ascommon::as_alloc_nt that the caller releases with ascommon::as_free.
// Threads: pure functions; the locale conversions read the process's C locale, so they
// must not race with setlocale.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

class sstring;
class usstring;

// Name of the internal wide charset (16-bit units, little-endian).
inline constexpr const char kInternalWideCharset[] = "UCS-2LE";

// Reservation bound for the UTF-8 form of count wide units: 1 byte per unit below 0x80,
// 2 below 0x800, else 3 (a surrogate pair is counted 6 and encodes in 4).
std::size_t Utf8LengthBound(const char16_t* units, std::size_t count) noexcept;

// Raw strict decoding of count UTF-8 bytes into at most outCapacity units. produced gets
// the number of units written (also on failure: the prefix before the error). A lead byte
// that announces more bytes than remain gives -51 whatever those bytes are ("E2 41" at the
// end, a lone C0 or F8 at the end); a complete but ill-formed sequence gives -50.
std::int32_t Utf8ToUtf16(const char* bytes, std::size_t count, char16_t* out,
                         std::size_t outCapacity, std::size_t& produced) noexcept;

// Raw strict encoding of count UTF-16 units into at most outCapacity bytes (no terminator
// written). With a null out only the reservation bound (Utf8LengthBound) is computed into
// produced and 0 returned; no validation happens in that mode. A high surrogate that ends
// the input is "input ends inside a character" (-51).
std::int32_t WideToUtf8(const char16_t* units, std::size_t count, char* out,
                        std::size_t outCapacity, std::size_t& produced) noexcept;

// UTF-8 bytes -> usstring. The target is first reserved with count + 1 units (its old
// content is replaced); then it holds the decoded text, or the prefix decoded before an
// error. A null bytes pointer with count 0 gives an empty target.
std::int32_t Utf8ToUsstring(const char* bytes, std::size_t count, usstring& strTarget);
std::int32_t Utf8ToUsstring(const sstring& strSource, usstring& strTarget);

// usstring -> UTF-8 sstring. The target is reserved with fill(bound + 1, 0) and filled.
// A null or empty source gives an empty target.
std::int32_t UsstringToUtf8(const usstring& strSource, sstring& strTarget);

// UTF-8 -> lower-case UTF-8: decode, WideLowerInPlace (strutils.h), encode. An
// invalid source traces "could not convert from UTF-8 to UCS: invalid input" (level 1) and
// returns -50 with the target untouched; an encoding result of -50 traces "could not
// convert from UCS to UTF-8: invalid input" (level 1). A source whose last character is
// cut short (-51) still gives the lower-cased text before that character, and -51.
// strTarget may be strSource. Lower case is Unicode's simple mapping (WideLowerInPlace),
// whatever the process locale.
std::int32_t Utf8Lower(const sstring& strSource, sstring& strTarget);

// Zero-terminated locale text -> new zero-terminated UTF-16 text (mbrtowc of the current
// C locale; code points above 0xFFFF become surrogate pairs). Returns the block and its
// length in units, or null and length 0 on a null text, an invalid sequence or no memory.
char16_t* AnsiToWideAlloc(const char* text, std::size_t& length) noexcept;

// Zero-terminated UTF-16 text -> new zero-terminated locale text (wcrtomb of the current C
// locale). Returns the block and its length in bytes, or null and length 0 on a null text,
// an unpaired surrogate, a character the locale cannot represent or no memory.
char* WideToAnsiAlloc(const char16_t* text, std::size_t& length) noexcept;

}  // namespace ascommon
