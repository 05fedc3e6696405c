// Page decoding: byte-order mark, then a meta tag's charset, then UTF-8, then Windows-1252.
//
// The meta scan walks a window of at most kMetaScanBytes bytes once, every step moving
// forward (tags, quoted values and comments are skipped by a forward search), so hostile
// markup costs O(window). The decoders are single passes; iconv is restarted one byte
// further after a bad sequence, which keeps that linear too. A final pass replaces zero
// units and unpaired surrogates. Tested by tests/host/page_decoder_test.cpp.
#include "page_decoder.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "zzplat/paths.h"

namespace zzhost {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined keep their C1 code points.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

// Labels that browsers read as UTF-8 and as Windows-1252.
constexpr std::string_view kUtf8Labels[] = {
    "utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "x-unicode20utf8",
};
constexpr std::string_view kWindows1252Labels[] = {
    "ansi_x3.4-1968", "ascii",           "cp1252",     "cp819",     "csisolatin1",
    "ibm819",         "iso-8859-1",      "iso-ir-100", "iso8859-1", "iso88591",
    "iso_8859-1",     "iso_8859-1:1987", "l1",         "latin1",    "us-ascii",
    "windows-1252",   "x-cp1252",
};

// Markup a charset must read as the same ASCII text to be taken: the meta tag naming it was
// found by reading the page as ASCII. "+-" is where UTF-7 differs.
constexpr std::string_view kAsciiProbe = "<meta charset=\"x\"> +-;AZaz09/";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool EqualsNoCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != lower[i]) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view lower) {
  return pos <= text.size() && text.size() - pos >= lower.size() &&
         EqualsNoCase(text.substr(pos, lower.size()), lower);
}

std::string TrimmedLower(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  std::string out(text.substr(begin, end - begin));
  for (char& c : out) c = AsciiLower(c);
  return out;
}

struct Attribute {
  std::string_view name;
  std::string_view value;
};

// Reads the next attribute of a tag at pos. Returns false at the tag's '>' (pos left on it)
// or at the end of the text (pos == size: the tag does not end in the window).
bool NextAttribute(std::string_view s, std::size_t& pos, Attribute& attribute) {
  while (pos < s.size() && (IsSpace(s[pos]) || s[pos] == '/')) ++pos;
  if (pos >= s.size() || s[pos] == '>') return false;
  const std::size_t nameStart = pos;
  // A leading '=' belongs to the name, as browsers read it.
  ++pos;
  while (pos < s.size() && s[pos] != '=' && s[pos] != '/' && s[pos] != '>' && !IsSpace(s[pos])) {
    ++pos;
  }
  attribute.name = s.substr(nameStart, pos - nameStart);
  attribute.value = std::string_view();
  while (pos < s.size() && IsSpace(s[pos])) ++pos;
  if (pos >= s.size()) return false;
  if (s[pos] != '=') return true;  // no value
  ++pos;
  while (pos < s.size() && IsSpace(s[pos])) ++pos;
  if (pos >= s.size()) return false;
  const char quote = s[pos];
  if (quote == '"' || quote == '\'') {
    const std::size_t close = s.find(quote, pos + 1);
    if (close == std::string_view::npos) {
      pos = s.size();
      return false;
    }
    attribute.value = s.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    return true;
  }
  const std::size_t valueStart = pos;
  while (pos < s.size() && s[pos] != '>' && !IsSpace(s[pos])) ++pos;
  attribute.value = s.substr(valueStart, pos - valueStart);
  return true;
}

// The charset a Content-Type value names ("text/html; charset=koi8-r"), as written.
bool ExtractCharsetFromContent(std::string_view content, std::string_view& charset) {
  std::size_t pos = 0;
  while (true) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = pos; i + 7 <= content.size(); ++i) {
      if (StartsWithNoCase(content, i, "charset")) {
        found = i;
        break;
      }
    }
    if (found == std::string_view::npos) return false;
    pos = found + 7;
    while (pos < content.size() && IsSpace(content[pos])) ++pos;
    if (pos < content.size() && content[pos] == '=') break;
  }
  ++pos;
  while (pos < content.size() && IsSpace(content[pos])) ++pos;
  if (pos >= content.size()) return false;
  const char quote = content[pos];
  if (quote == '"' || quote == '\'') {
    const std::size_t close = content.find(quote, pos + 1);
    if (close == std::string_view::npos) return false;
    charset = content.substr(pos + 1, close - pos - 1);
    return true;
  }
  std::size_t end = pos;
  while (end < content.size() && content[end] != ';' && !IsSpace(content[end])) ++end;
  charset = content.substr(pos, end - pos);
  return true;
}

// Reads the attributes of a meta tag from pos (behind "<meta"). Returns false when the tag
// does not end within s; otherwise pos is behind its '>' and label holds the charset the tag
// names ("" when it names none).
bool ReadMetaTag(std::string_view s, std::size_t& pos, std::string& label) {
  bool seenHttpEquiv = false, seenContent = false, seenCharset = false;
  bool contentTypePragma = false;
  enum { kNoCharset, kFromCharset, kFromContent } source = kNoCharset;
  std::string_view charset;
  Attribute attribute;
  while (NextAttribute(s, pos, attribute)) {
    if (EqualsNoCase(attribute.name, "http-equiv")) {
      if (seenHttpEquiv) continue;
      seenHttpEquiv = true;
      contentTypePragma = EqualsNoCase(attribute.value, "content-type");
    } else if (EqualsNoCase(attribute.name, "content")) {
      if (seenContent) continue;
      seenContent = true;
      if (source == kNoCharset && ExtractCharsetFromContent(attribute.value, charset)) {
        source = kFromContent;
      }
    } else if (EqualsNoCase(attribute.name, "charset")) {
      if (seenCharset) continue;
      seenCharset = true;
      if (source == kNoCharset) {
        charset = attribute.value;
        source = kFromCharset;
      }
    }
  }
  if (pos >= s.size()) return false;
  ++pos;  // the '>'
  const bool names = source == kFromCharset || (source == kFromContent && contentTypePragma);
  label = names ? TrimmedLower(charset) : std::string();
  return true;
}

template <std::size_t N>
bool IsOneOf(std::string_view label, const std::string_view (&labels)[N]) {
  for (std::string_view known : labels) {
    if (label == known) return true;
  }
  return false;
}

// A name that may go to iconv: letters, digits and . _ : - only (no "//" suffixes).
bool IsWellFormedName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCharsetNameLength) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                    c == ':' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool ReadsAsciiAsAscii(const std::string& charset) {
  std::u16string probe;
  if (!DecodeWithIconv(kAsciiProbe, charset, probe)) return false;
  if (probe.size() != kAsciiProbe.size()) return false;
  for (std::size_t i = 0; i < probe.size(); ++i) {
    if (probe[i] != static_cast<char16_t>(kAsciiProbe[i])) return false;
  }
  return true;
}

void DecodeUtf16(std::string_view bytes, bool bigEndian, std::u16string& out) {
  const std::size_t units = bytes.size() / 2;
  out.reserve(out.size() + units + 1);
  for (std::size_t i = 0; i < units; ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    out += static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  if (bytes.size() % 2 != 0) out += kReplacement;  // a dangling half unit
}

// U+0000 and unpaired surrogates become U+FFFD.
void MakeWellFormed(std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit == 0) {
      text[i] = kReplacement;
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      text[i] = kReplacement;
    }
  }
}

// Step 2 for one label: true when the label named a charset that decoded the page.
bool DecodeNamed(std::string_view bytes, const std::string& label, DecodedPage& page) {
  if (IsOneOf(label, kUtf8Labels)) {
    DecodeUtf8(bytes, page.text);
    page.charset = "utf-8";
    return true;
  }
  if (IsOneOf(label, kWindows1252Labels)) {
    DecodeWindows1252(bytes, page.text);
    page.charset = "windows-1252";
    return true;
  }
  if (!IsWellFormedName(label) || !ReadsAsciiAsAscii(label)) return false;
  if (!DecodeWithIconv(bytes, label, page.text)) return false;
  page.charset = label;
  return true;
}

}  // namespace

std::string FindMetaCharset(std::string_view bytes) {
  const std::string_view s = bytes.substr(0, kMetaScanBytes);
  std::size_t pos = 0;
  while ((pos = s.find('<', pos)) != std::string_view::npos) {
    if (s.compare(pos, 4, "<!--") == 0) {
      const std::size_t end = s.find("-->", pos + 2);
      if (end == std::string_view::npos) return std::string();
      pos = end + 3;
    } else if (StartsWithNoCase(s, pos, "<meta") && pos + 5 < s.size() &&
               (IsSpace(s[pos + 5]) || s[pos + 5] == '/')) {
      pos += 5;
      std::string label;
      if (!ReadMetaTag(s, pos, label)) return std::string();
      if (!label.empty()) return label;
    } else if (pos + 1 < s.size() &&
               (IsAsciiLetter(s[pos + 1]) ||
                (s[pos + 1] == '/' && pos + 2 < s.size() && IsAsciiLetter(s[pos + 2])))) {
      // Another tag: its attribute values may hold anything, so they are skipped as such.
      ++pos;
      while (pos < s.size() && s[pos] != '>' && !IsSpace(s[pos])) ++pos;
      Attribute attribute;
      while (NextAttribute(s, pos, attribute)) {
      }
      if (pos >= s.size()) return std::string();
      ++pos;
    } else if (pos + 1 < s.size() &&
               (s[pos + 1] == '!' || s[pos + 1] == '/' || s[pos + 1] == '?')) {
      const std::size_t end = s.find('>', pos + 1);
      if (end == std::string_view::npos) return std::string();
      pos = end + 1;
    } else {
      ++pos;
    }
  }
  return std::string();
}

bool DecodeUtf8(std::string_view bytes, std::u16string& out) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  out.reserve(out.size() + bytes.size() + 1);
  bool valid = true;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      // A run of ASCII goes across in one step (most of any page).
      std::size_t end = i + 1;
      while (end < bytes.size() && byte(end) < 0x80) ++end;
      const std::size_t at = out.size();
      out.resize(at + (end - i));
      for (std::size_t k = i; k < end; ++k) out[at + (k - i)] = static_cast<char16_t>(byte(k));
      i = end;
      continue;
    }
    std::size_t broken = 1;
    const std::size_t length = zzplat::Utf8SequenceLength(bytes, i, &broken);
    if (length == 0) {  // the longest valid start of a broken sequence becomes one U+FFFD
      out += kReplacement;
      valid = false;
      i += broken;
      continue;
    }
    zzplat::AppendUtf8Sequence(bytes, i, length, out);
    i += length;
  }
  return valid;
}

void DecodeWindows1252(std::string_view bytes, std::u16string& out) {
  const std::size_t at = out.size();
  out.resize(at + bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    out[at + i] = c >= 0x80 && c <= 0x9F ? kWindows1252High[c - 0x80] : static_cast<char16_t>(c);
  }
}

bool DecodeWithIconv(std::string_view bytes, const std::string& charset, std::u16string& out) {
  iconv_t converter = iconv_open("UTF-16LE", charset.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  char buffer[16384];
  const auto take = [&](const char* end) {
    for (const char* p = buffer; p + 1 < end; p += 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                   (static_cast<unsigned char>(p[1]) << 8));
    }
  };
  out.reserve(out.size() + bytes.size() + 1);
  char* in = const_cast<char*>(bytes.data());  // iconv's signature; the input is not written
  std::size_t inLeft = bytes.size();
  while (true) {
    char* outPos = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(converter, &in, &inLeft, &outPos, &outLeft);
    const int error = errno;
    take(outPos);
    if (rc != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) continue;
    out += kReplacement;
    if (error != EILSEQ || inLeft == 0) break;  // EINVAL: the input ends inside a character
    ++in;                                       // skip the bad byte and go on
    --inLeft;
  }
  char* outPos = buffer;
  std::size_t outLeft = sizeof buffer;
  iconv(converter, nullptr, nullptr, &outPos, &outLeft);  // the end of a shifting charset
  take(outPos);
  iconv_close(converter);
  return true;
}

DecodedPage DecodePage(std::string_view bytes) {
  DecodedPage page;
  const auto startsWith = [&](std::string_view mark) {
    return bytes.substr(0, mark.size()) == mark;
  };
  if (startsWith("\xEF\xBB\xBF")) {
    DecodeUtf8(bytes.substr(3), page.text);
    page.charset = "utf-8";
  } else if (startsWith("\xFF\xFE")) {
    DecodeUtf16(bytes.substr(2), false, page.text);
    page.charset = "utf-16le";
  } else if (startsWith("\xFE\xFF")) {
    DecodeUtf16(bytes.substr(2), true, page.text);
    page.charset = "utf-16be";
  } else {
    const std::string label = FindMetaCharset(bytes);
    if (label.empty() || !DecodeNamed(bytes, label, page)) {
      page.text.clear();
      if (DecodeUtf8(bytes, page.text)) {
        page.charset = "utf-8";
      } else {
        page.text.clear();
        DecodeWindows1252(bytes, page.text);
        page.charset = "windows-1252";
      }
    }
  }
  MakeWellFormed(page.text);
  return page;
}

}  // namespace zzhost
