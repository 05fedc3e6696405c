#include "zzplat/paths.h"

namespace zzplat {

namespace {

// Writes cp as UTF-8 into out (room for 4 bytes) and returns the byte count.
std::size_t EncodeUtf8(char32_t cp, char* out) noexcept {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// The code point at p (a surrogate pair counts as one, advancing p); U+FFFD for an
// unpaired surrogate.
char32_t NextCodePoint(const char16_t*& p) noexcept {
  char32_t cp = *p;
  if (cp >= 0xD800 && cp <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
    cp = 0x10000 + ((cp - 0xD800) << 10) + (p[1] - 0xDC00);
    ++p;
  } else if (cp >= 0xD800 && cp <= 0xDFFF) {
    cp = 0xFFFD;
  }
  return cp;
}

}  // namespace

std::string Utf16ToUtf8Lenient(const char16_t* text) {
  std::string out;
  if (text == nullptr) return out;
  char bytes[4];
  for (const char16_t* p = text; *p != 0; ++p) out.append(bytes, EncodeUtf8(NextCodePoint(p), bytes));
  return out;
}

std::u16string Utf8ToUtf16Lenient(const std::string& text) {
  std::u16string out;
  AppendUtf8AsUtf16Lenient(text, out);
  return out;
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t i,
                               std::size_t* maximalPart) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  if (maximalPart != nullptr) *maximalPart = 1;
  std::size_t n;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;  // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + 1 >= text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  std::size_t have = 2;
  while (have < n && i + have < text.size() && byte(i + have) >= 0x80 &&
         byte(i + have) <= 0xBF) {
    ++have;
  }
  if (have == n) return n;
  if (maximalPart != nullptr) *maximalPart = have;
  return 0;
}

void AppendUtf8Sequence(std::string_view text, std::size_t i, std::size_t length,
                        std::u16string& out) {
  const auto lead = static_cast<unsigned char>(text[i]);
  char32_t cp = length == 1 ? lead : lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
  if (cp >= 0x10000) {
    out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

void AppendUtf8AsUtf16Lenient(std::string_view text, std::u16string& out) {
  // Every ill-formed byte becomes U+FFFD on its own, so no bytes ever decode to ASCII they
  // were not ("C0 AE" is not ".").
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    AppendUtf8Sequence(text, i, length, out);
    i += length;
  }
}

LocalPathBuffer::LocalPathBuffer(const char16_t* path) noexcept {
  m_text[0] = '\0';
  if (path == nullptr) return;
  std::size_t n = 0;
  char bytes[4];
  for (const char16_t* p = path; *p != 0; ++p) {
    const char32_t cp = NextCodePoint(p);
    const std::size_t length = EncodeUtf8(cp == u'\\' ? U'/' : cp, bytes);
    if (n + length >= kCapacity) return;
    for (std::size_t i = 0; i < length; ++i) m_text[n++] = bytes[i];
  }
  m_text[n] = '\0';
  m_ok = true;
}

std::string LocalPath(const char16_t* path) {
  std::string out = Utf16ToUtf8Lenient(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

}  // namespace zzplat
