// UTF-8 <-> UTF-16 conversions and locale conversions (see convert.h).
//
// Decoding validates each UTF-8 sequence byte by byte against the table of well-formed
// sequences (the lead byte fixes the length and the allowed range of the second byte, which
// rules out over-long forms, surrogates and values above 0x10FFFF); encoding pairs
// surrogates strictly. Both are one pass, O(input), no memory beyond the target. The locale
// conversions run mbrtowc/wcrtomb twice: once to size the result exactly, once to fill it.
// Tested by tests/common/convert_test.cpp.
#include "common/convert.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "common/asmemory.h"
#include "common/astrace.h"
#include "common/strutils.h"
#include "common/ustring.h"

namespace ascommon {

namespace {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kInvalidArgument = -1;
constexpr std::int32_t kIllegal = -50;
constexpr std::int32_t kTruncated = -51;

constexpr char32_t kMaxCodePoint = 0x10FFFF;

inline bool IsHighSurrogate(char32_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }
inline bool IsSurrogate(char32_t c) noexcept { return c >= 0xD800 && c <= 0xDFFF; }

// Continuation bytes after a lead byte and the range allowed for the first of them; false
// for bytes that cannot start a well-formed sequence (continuations, C0, C1, F5..FF).
bool LeadInfo(unsigned char lead, int& extra, unsigned char& low, unsigned char& high) noexcept {
  low = 0x80;
  high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    if (lead == 0xE0) low = 0xA0;   // Below: over-long.
    if (lead == 0xED) high = 0x9F;  // Above: surrogates.
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    if (lead == 0xF0) low = 0x90;   // Below: over-long.
    if (lead == 0xF4) high = 0x8F;  // Above: beyond 0x10FFFF.
  } else {
    return false;
  }
  return true;
}

// Decodes one code point from a UTF-16 sequence at units[i]; advances i.
std::int32_t NextCodePoint(const char16_t* units, std::size_t count, std::size_t& i,
                           char32_t& codePoint) noexcept {
  const char32_t unit = units[i];
  if (IsHighSurrogate(unit)) {
    if (i + 1 >= count) return kTruncated;  // The pair's second half is missing.
    const char32_t next = units[i + 1];
    if (!IsLowSurrogate(next)) return kIllegal;
    codePoint = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
    i += 2;
    return kOk;
  }
  if (IsLowSurrogate(unit)) return kIllegal;
  codePoint = unit;
  ++i;
  return kOk;
}

// Shared tail of the string conversions: flags a result that overran the reservation,
// else terminates the target at the produced length and rescans it for a first zero.
template <class Target>
std::int32_t FinishTarget(Target& target, std::int32_t result, std::size_t produced) {
  if (produced > target.capacity() - 1) {
    target.set_status(-250);
    return result;
  }
  target.set_length(produced);
  target.update_length();
  return result;
}

}  // namespace

std::size_t Utf8LengthBound(const char16_t* units, std::size_t count) noexcept {
  if (units == nullptr) return 0;
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < count; ++i) {
    bytes += units[i] < 0x80 ? 1 : (units[i] < 0x800 ? 2 : 3);
  }
  return bytes;
}

std::int32_t Utf8ToUtf16(const char* bytes, std::size_t count, char16_t* out,
                         std::size_t outCapacity, std::size_t& produced) noexcept {
  produced = 0;
  if (count == 0) return kOk;
  if (bytes == nullptr || out == nullptr) return kInvalidArgument;
  const auto* src = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t i = 0;
  while (i < count) {
    const unsigned char lead = src[i];
    char32_t codePoint = lead;
    std::size_t length = 1;
    if (lead >= 0x80) {
      // As the reference routines do, a sequence the input has no room for is "source
      // exhausted" before its bytes are judged: the length is the one the lead byte
      // announces (up to 5 continuation bytes for F8..FF), whatever follows it.
      const std::size_t announced = lead < 0xC0 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2
                                  : lead < 0xF8 ? 3 : lead < 0xFC ? 4 : 5;
      if (announced >= count - i) return kTruncated;
      int extra = 0;
      unsigned char low = 0;
      unsigned char high = 0;
      if (!LeadInfo(lead, extra, low, high)) return kIllegal;
      codePoint = lead & (0x3F >> extra);
      for (int k = 1; k <= extra; ++k) {
        const unsigned char byte = src[i + k];
        const unsigned char lo = k == 1 ? low : 0x80;
        const unsigned char hi = k == 1 ? high : 0xBF;
        if (byte < lo || byte > hi) return kIllegal;
        codePoint = (codePoint << 6) | (byte & 0x3F);
      }
      length = static_cast<std::size_t>(extra) + 1;
    }
    if (codePoint > 0xFFFF) {
      if (outCapacity - produced < 2) return kTruncated;
      const char32_t v = codePoint - 0x10000;
      out[produced++] = static_cast<char16_t>(0xD800 + (v >> 10));
      out[produced++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      if (outCapacity - produced < 1) return kTruncated;
      out[produced++] = static_cast<char16_t>(codePoint);
    }
    i += length;
  }
  return kOk;
}

std::int32_t WideToUtf8(const char16_t* units, std::size_t count, char* out,
                        std::size_t outCapacity, std::size_t& produced) noexcept {
  produced = 0;
  if (out == nullptr) {
    produced = Utf8LengthBound(units, count);
    return kOk;
  }
  if (count == 0) return kOk;
  if (units == nullptr) return kInvalidArgument;
  auto* dst = reinterpret_cast<unsigned char*>(out);
  std::size_t i = 0;
  while (i < count) {
    // A run of ASCII is copied unit by unit, without the general decoding.
    while (i < count && units[i] < 0x80 && produced < outCapacity) {
      dst[produced++] = static_cast<unsigned char>(units[i++]);
    }
    if (i == count) break;
    std::size_t next = i;
    char32_t c = 0;
    const std::int32_t status = NextCodePoint(units, count, next, c);
    if (status != kOk) return status;
    const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (outCapacity - produced < length) return kTruncated;
    unsigned char* p = dst + produced;
    switch (length) {
      case 1:
        p[0] = static_cast<unsigned char>(c);
        break;
      case 2:
        p[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        break;
      case 3:
        p[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        p[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        break;
      default:
        p[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
        p[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        p[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        break;
    }
    produced += length;
    i = next;
  }
  return kOk;
}

std::int32_t Utf8ToUsstring(const char* bytes, std::size_t count, usstring& strTarget) {
  if (bytes == nullptr && count != 0) return kInvalidArgument;
  const std::int32_t reserved = strTarget.fill(count + 1, 0);
  if (reserved != kOk) return reserved;
  std::size_t produced = 0;
  const std::int32_t result =
      Utf8ToUtf16(bytes, count, strTarget.data(), strTarget.capacity(), produced);
  return FinishTarget(strTarget, result, produced);
}

std::int32_t Utf8ToUsstring(const sstring& strSource, usstring& strTarget) {
  return Utf8ToUsstring(strSource.c_str(), strSource.length(), strTarget);
}

std::int32_t UsstringToUtf8(const usstring& strSource, sstring& strTarget) {
  const std::size_t bound = Utf8LengthBound(strSource.c_str(), strSource.length());
  const std::int32_t reserved = strTarget.fill(bound + 1, '\0');
  if (reserved != kOk) return reserved;
  std::size_t produced = 0;
  const std::int32_t result = WideToUtf8(strSource.c_str(), strSource.length(),
                                         strTarget.data(), strTarget.capacity(), produced);
  return FinishTarget(strTarget, result, produced);
}

std::int32_t Utf8Lower(const sstring& strSource, sstring& strTarget) {
  usstring wide;
  const std::int32_t decoded = Utf8ToUsstring(strSource, wide);
  if (decoded == kIllegal) {
    AS_TRACE(1, "could not convert from UTF-8 to UCS: invalid input");
    return kIllegal;
  }
  // Out of memory or a bad argument: nothing usable was decoded.
  if (decoded != kOk && decoded != kTruncated) return decoded;
  // A truncated last character is dropped; the prefix before it is still lower-cased.
  WideLowerInPlace(wide.data(), wide.length());
  const std::int32_t encoded = UsstringToUtf8(wide, strTarget);
  if (encoded == kIllegal) AS_TRACE(1, "could not convert from UCS to UTF-8: invalid input");
  return encoded != kOk ? encoded : decoded;
}

char16_t* AnsiToWideAlloc(const char* text, std::size_t& length) noexcept {
  length = 0;
  if (text == nullptr) return nullptr;
  const std::size_t bytes = std::strlen(text);
  char16_t* out = nullptr;
  std::size_t units = 0;
  // Pass 0 counts the units, pass 1 writes them into a block of exactly that size.
  for (int pass = 0; pass < 2; ++pass) {
    std::mbstate_t state{};
    std::size_t pos = 0;
    std::size_t written = 0;
    while (pos < bytes) {
      wchar_t wc = 0;
      const std::size_t used = std::mbrtowc(&wc, text + pos, bytes - pos, &state);
      if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) ||
          used == 0) {
        as_free(out);
        return nullptr;
      }
      const auto c = static_cast<char32_t>(wc);
      if (c > kMaxCodePoint || IsSurrogate(c)) {
        as_free(out);
        return nullptr;
      }
      if (c > 0xFFFF) {
        if (out != nullptr) {
          out[written] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
          out[written + 1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        written += 2;
      } else {
        if (out != nullptr) out[written] = static_cast<char16_t>(c);
        written += 1;
      }
      pos += used;
    }
    if (pass == 0) {
      units = written;
      out = as_alloc_array_nt<char16_t>(units + 1);
      if (out == nullptr) return nullptr;
    }
  }
  out[units] = 0;
  length = units;
  return out;
}

char* WideToAnsiAlloc(const char16_t* text, std::size_t& length) noexcept {
  length = 0;
  if (text == nullptr) return nullptr;
  std::size_t count = 0;
  while (text[count] != 0) ++count;
  char* out = nullptr;
  std::size_t bytes = 0;
  for (int pass = 0; pass < 2; ++pass) {
    std::mbstate_t state{};
    std::size_t i = 0;
    std::size_t written = 0;
    while (i < count) {
      char32_t c = 0;
      if (NextCodePoint(text, count, i, c) != kOk) {
        as_free(out);
        return nullptr;
      }
      char local[MB_LEN_MAX];
      const std::size_t used = std::wcrtomb(local, static_cast<wchar_t>(c), &state);
      if (used == static_cast<std::size_t>(-1)) {
        as_free(out);
        return nullptr;
      }
      if (out != nullptr) std::memcpy(out + written, local, used);
      written += used;
    }
    // A state-dependent encoding may need a closing shift sequence (wcrtomb writes it
    // followed by the terminator, which is not counted).
    char local[MB_LEN_MAX];
    const std::size_t closing = std::wcrtomb(local, L'\0', &state);
    if (closing != static_cast<std::size_t>(-1) && closing > 1) {
      if (out != nullptr) std::memcpy(out + written, local, closing - 1);
      written += closing - 1;
    }
    if (pass == 0) {
      bytes = written;
      out = static_cast<char*>(as_alloc_nt(bytes + 1));
      if (out == nullptr) return nullptr;
    }
  }
  out[bytes] = '\0';
  length = bytes;
  return out;
}

}  // namespace ascommon
