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

void AppendUtf8AsUtf16Lenient(std::string_view text, std::u16string& out) {
  // Well-formed sequences only: a lead byte must be followed by the right number of
  // continuation bytes, without overlong forms, surrogates or values above U+10FFFF.
  // Anything else becomes U+FFFD and costs one byte, so no bytes ever decode to ASCII
  // they were not ("C0 AE" is not ".").
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      cp = c & 0x0F;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      cp = c & 0x07;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    }
    bool valid = length != 0 && i + length <= n;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = byte(i + k);
      const unsigned char min = k == 1 ? low : 0x80, max = k == 1 ? high : 0xBF;
      valid = next >= min && next <= max;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (!valid) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
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
