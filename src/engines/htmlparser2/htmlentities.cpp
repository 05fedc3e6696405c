// Named entity replacement. The decoder copies the stretches between two '&' eight units at
// a time (FindUnit) and reads at most six name characters after each '&', so each input
// unit is looked at a bounded number of times: O(length) time, no memory.
// Tested by htmlentities_test.cpp.
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

// Reads a named entity at text[i] == '&'; returns the units consumed (0: not one).
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
    const char16_t* amp = html_detail::FindUnit(text + i, text + length, u'&');
    const std::size_t clean = static_cast<std::size_t>(amp - (text + i));
    if (clean != 0) {
      std::memmove(out + written, text + i, clean * sizeof(char16_t));
      written += clean;
      i += clean;
      if (i == length) break;
    }
    const std::size_t consumed = DecodeNamed(text, i, length, out, written);
    if (consumed == 0) out[written++] = u'&';
    i += consumed == 0 ? 1 : consumed;
  }
  return written;
}
