// Character reference replacement. The decoder copies clean stretches eight units at a time
// (FindDecodeSpecial) and handles each '&', zero and surrogate on its own; a reference name
// is read for at most ten characters, so each input unit is looked at a bounded number of
// times: O(length) time, no memory. Tested by htmlentities_test.cpp.
#include "engines/htmlparser2/htmlentities.h"

#include <cstdint>
#include <cstring>

#include "engines/htmlparser2/htmlnames.h"
#include "engines/htmlparser2/htmlscan.h"

namespace {

struct SEntity {
  const char* name;
  char16_t character;
};

// The markup characters, then ISO 8859-1 from 0xA0 in code order ("nbsp" reads as a blank).
constexpr SEntity kEntities[] = {
    {"quot", 0x22},   {"amp", 0x26},    {"lt", 0x3C},     {"gt", 0x3E},     {"nbsp", 0x20},
    {"iexcl", 0xA1},  {"cent", 0xA2},   {"pound", 0xA3},  {"curren", 0xA4}, {"yen", 0xA5},
    {"brvbar", 0xA6}, {"sect", 0xA7},   {"uml", 0xA8},    {"copy", 0xA9},   {"ordf", 0xAA},
    {"laquo", 0xAB},  {"not", 0xAC},    {"shy", 0xAD},    {"reg", 0xAE},    {"macr", 0xAF},
    {"deg", 0xB0},    {"plusmn", 0xB1}, {"sup2", 0xB2},   {"sup3", 0xB3},   {"acute", 0xB4},
    {"micro", 0xB5},  {"para", 0xB6},   {"middot", 0xB7}, {"cedil", 0xB8},  {"sup1", 0xB9},
    {"ordm", 0xBA},   {"raquo", 0xBB},  {"frac14", 0xBC}, {"frac12", 0xBD}, {"frac34", 0xBE},
    {"iquest", 0xBF}, {"Agrave", 0xC0}, {"Aacute", 0xC1}, {"Acirc", 0xC2},  {"Atilde", 0xC3},
    {"Auml", 0xC4},   {"Aring", 0xC5},  {"AElig", 0xC6},  {"Ccedil", 0xC7}, {"Egrave", 0xC8},
    {"Eacute", 0xC9}, {"Ecirc", 0xCA},  {"Euml", 0xCB},   {"Igrave", 0xCC}, {"Iacute", 0xCD},
    {"Icirc", 0xCE},  {"Iuml", 0xCF},   {"ETH", 0xD0},    {"Ntilde", 0xD1}, {"Ograve", 0xD2},
    {"Oacute", 0xD3}, {"Ocirc", 0xD4},  {"Otilde", 0xD5}, {"Ouml", 0xD6},   {"times", 0xD7},
    {"Oslash", 0xD8}, {"Ugrave", 0xD9}, {"Uacute", 0xDA}, {"Ucirc", 0xDB},  {"Uuml", 0xDC},
    {"Yacute", 0xDD}, {"THORN", 0xDE},  {"szlig", 0xDF},  {"agrave", 0xE0}, {"aacute", 0xE1},
    {"acirc", 0xE2},  {"atilde", 0xE3}, {"auml", 0xE4},   {"aring", 0xE5},  {"aelig", 0xE6},
    {"ccedil", 0xE7}, {"egrave", 0xE8}, {"eacute", 0xE9}, {"ecirc", 0xEA},  {"euml", 0xEB},
    {"igrave", 0xEC}, {"iacute", 0xED}, {"icirc", 0xEE},  {"iuml", 0xEF},   {"eth", 0xF0},
    {"ntilde", 0xF1}, {"ograve", 0xF2}, {"oacute", 0xF3}, {"ocirc", 0xF4},  {"otilde", 0xF5},
    {"ouml", 0xF6},   {"divide", 0xF7}, {"oslash", 0xF8}, {"ugrave", 0xF9}, {"uacute", 0xFA},
    {"ucirc", 0xFB},  {"uuml", 0xFC},   {"yacute", 0xFD}, {"thorn", 0xFE},  {"yuml", 0xFF},
};
static_assert(sizeof(kEntities) / sizeof(kEntities[0]) == kHTMLEntityCount);

// The longest entity name ("frac12", "eacute", ...) has six characters.
constexpr std::size_t kMaxEntityName = 6;

constexpr html_detail::TNameTable<256> BuildEntityTable() {
  html_detail::TNameTable<256> table;
  for (std::size_t i = 0; i < kHTMLEntityCount; ++i) {
    std::size_t length = 0;
    while (kEntities[i].name[length] != 0) ++length;
    if (length > kMaxEntityName) throw "entity name too long";
    table.Insert(html_detail::PackName(kEntities[i].name), static_cast<std::uint8_t>(i));
  }
  return table;
}
constexpr html_detail::TNameTable<256> kEntityTable = BuildEntityTable();

// Browsers read numeric references 0x80..0x9F as the Windows-1252 characters of those bytes
// (the five bytes that code page leaves undefined stay as they are).
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char16_t kReplacement = 0xFFFD;
// Numeric values are clamped here while their digits are read (any larger value is invalid).
constexpr std::uint32_t kCodePointLimit = 0x110000;

int HexValue(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads a numeric reference at text[i] == '&', text[i + 1] == '#'. On success writes its
// character(s), returns the units consumed; returns 0 when no digit follows (not a reference).
std::size_t DecodeNumeric(const char16_t* text, std::size_t i, std::size_t length, char16_t* out,
                          std::size_t& written) noexcept {
  std::size_t p = i + 2;
  const bool hex = p < length && (text[p] == u'x' || text[p] == u'X');
  if (hex) ++p;
  const std::size_t digitsStart = p;
  std::uint32_t value = 0;
  for (; p < length; ++p) {
    const int digit = hex ? HexValue(text[p]) : (text[p] >= u'0' && text[p] <= u'9' ? text[p] - u'0' : -1);
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    if (value >= kCodePointLimit) value = kCodePointLimit;
  }
  if (p == digitsStart) return 0;
  if (p < length && text[p] == u';') ++p;

  if (value == 0 || value >= kCodePointLimit || (value >= 0xD800 && value <= 0xDFFF)) {
    out[written++] = kReplacement;
  } else if (value >= 0x80 && value <= 0x9F) {
    out[written++] = kWindows1252High[value - 0x80];
  } else if (value > 0xFFFF) {
    value -= 0x10000;
    out[written++] = static_cast<char16_t>(0xD800 + (value >> 10));
    out[written++] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
  } else {
    out[written++] = static_cast<char16_t>(value);
  }
  return p - i;
}

// Reads a named reference at text[i] == '&'; returns the units consumed (0: not one).
std::size_t DecodeNamed(const char16_t* text, std::size_t i, std::size_t length, char16_t* out,
                        std::size_t& written) noexcept {
  std::size_t p = i + 1;
  const std::size_t limit = length - p > kMaxEntityName ? p + kMaxEntityName : length;
  while (p < limit && html_detail::NameCode(text[p]) != 0 && text[p] != u'-') ++p;
  if (p >= length || text[p] != u';') return 0;
  const char16_t character = HTMLLookupEntity(text + i + 1, p - i - 1);
  if (character == 0) return 0;
  out[written++] = character;
  return p + 1 - i;
}

}  // namespace

char16_t HTMLLookupEntity(const char16_t* name, std::size_t length) noexcept {
  if (name == nullptr || length > kMaxEntityName) return 0;
  const int index = kEntityTable.Find(html_detail::PackName(name, length));
  return index < 0 ? char16_t{0} : kEntities[index].character;
}

std::size_t HTMLDecodeText(const char16_t* text, std::size_t length, char16_t* out) noexcept {
  if (text == nullptr || out == nullptr) return 0;
  std::size_t written = 0;
  std::size_t i = 0;
  while (i < length) {
    const char16_t* special = html_detail::FindDecodeSpecial(text + i, text + length);
    const std::size_t clean = static_cast<std::size_t>(special - (text + i));
    if (clean != 0) {
      std::memmove(out + written, text + i, clean * sizeof(char16_t));
      written += clean;
      i += clean;
      if (i == length) break;
    }
    const char16_t c = text[i];
    if (c == u'&') {
      std::size_t consumed = 0;
      if (i + 1 < length && text[i + 1] == u'#') {
        consumed = DecodeNumeric(text, i, length, out, written);
      } else {
        consumed = DecodeNamed(text, i, length, out, written);
      }
      if (consumed == 0) {
        out[written++] = u'&';
        consumed = 1;
      }
      i += consumed;
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      out[written++] = c;
      out[written++] = text[i + 1];
      i += 2;
    } else {  // U+0000 or an unpaired surrogate.
      out[written++] = kReplacement;
      ++i;
    }
  }
  return written;
}
