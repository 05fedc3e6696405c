// Lenient decoding: a hand-written UTF-8 reader (one pass, a bad byte read as Latin-1), a
// Latin-1 widening, and the converter path with a final clean-up pass (zero units and
// unpaired surrogates replaced). Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#include "engines/mimeparser/textdecode.h"

#include <cstring>

#include "common/astrace.h"
#include "common/stringconversion.h"
#include "common/strutils.h"

namespace mimeparser {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Makes out an empty string with room for units + 1 units. 0 or -2.
std::int32_t Reserve(ascommon::usstring& out, std::size_t units) {
  out.clear();
  return out.fill(units + 1, 0) == 0 ? 0 : -2;
}

bool IsContinuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at p (at most end - p bytes) and its code point;
// 0 when the bytes there are not one.
std::size_t ReadSequence(const unsigned char* p, const unsigned char* end,
                         char32_t& code) noexcept {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (!IsContinuation(p[i])) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

char16_t Clean(char16_t unit) noexcept { return unit == 0 ? kReplacement : unit; }

std::int32_t DecodeLatin1(const char* bytes, std::size_t size, ascommon::usstring& out) {
  if (Reserve(out, size) != 0) return -2;
  char16_t* to = out.data();
  for (std::size_t i = 0; i < size; ++i) to[i] = Clean(static_cast<unsigned char>(bytes[i]));
  out.set_length(size);
  return 0;
}

bool IsNamed(const char* charset, const char* const* names) noexcept {
  for (; *names != nullptr; ++names) {
    if (ascommon::CompareNoCase(charset, *names) == 0) return true;
  }
  return false;
}

// Zero units and unpaired surrogates of a converter's output become U+FFFD.
void CleanWide(char16_t* text, std::size_t length) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF)) {
      text[i] = kReplacement;
    }
  }
}

// Through the converter; false when it cannot read the text (the caller falls back).
bool DecodeConverted(const ascommon::CStringConversion& converter, const char* charset,
                     const char* bytes, std::size_t size, ascommon::usstring& out,
                     std::int32_t& status) {
  // One unit per byte is enough for every charset but a few stateful ones; grow on -51.
  for (std::size_t room = size + 16; room <= 4 * size + 64; room *= 2) {
    if (Reserve(out, room) != 0) {
      status = -2;
      return true;
    }
    std::size_t in = size, produced = room;
    const std::int32_t result =
        converter.ConvertToUCS(charset, bytes, in, out.data(), produced, true);
    if (result == -51) continue;
    if (result != 0 && result != -53) {
      AS_TRACE(3, "part charset %s not converted (%d): read as ISO-8859-1", charset,
               static_cast<int>(result));
      return false;
    }
    const std::size_t length = room - produced;
    CleanWide(out.data(), length);
    out.set_length(length);
    status = 0;
    return true;
  }
  return false;
}

}  // namespace

std::int32_t DecodeUtf8Lenient(const char* bytes, std::size_t size, ascommon::usstring& out) {
  if (Reserve(out, size) != 0) return -2;  // a byte never gives more than one unit
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const unsigned char* end = p + size;
  char16_t* to = out.data();
  std::size_t n = 0;
  while (p < end) {
    char32_t code = 0;
    const std::size_t length = ReadSequence(p, end, code);
    if (length == 0) {
      to[n++] = *p++;  // not UTF-8 here: the Latin-1 reading of the byte
    } else if (code >= 0x10000) {
      code -= 0x10000;
      to[n++] = static_cast<char16_t>(0xD800 + (code >> 10));
      to[n++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
      p += length;
    } else {
      to[n++] = Clean(static_cast<char16_t>(code));
      p += length;
    }
  }
  out.set_length(n);
  return 0;
}

std::int32_t DecodeText(const ascommon::CStringConversion* converter, const char* charset,
                        const char* bytes, std::size_t size, ascommon::usstring& out) {
  static const char* const kUtf8[] = {"utf-8", "utf8", "us-ascii", "ascii", nullptr};
  static const char* const kLatin1[] = {"iso-8859-1", "iso8859-1", "latin1", "l1", nullptr};
  if (bytes == nullptr) size = 0;
  if (charset == nullptr || *charset == '\0' || IsNamed(charset, kUtf8)) {
    return DecodeUtf8Lenient(bytes, size, out);
  }
  if (IsNamed(charset, kLatin1)) return DecodeLatin1(bytes, size, out);
  if (converter != nullptr && converter->IsInitialised() && size > 0) {
    std::int32_t status = 0;
    if (DecodeConverted(*converter, charset, bytes, size, out, status)) return status;
  }
  return DecodeLatin1(bytes, size, out);
}

}  // namespace mimeparser
