// Tag table and its lookup: the names of ZZ_HTML_TAGS, packed into a compile-time hash table.
// A lookup packs at most ten characters and probes once or twice: O(1) per tag.
// Tested by htmltags_test.cpp.
#include "engines/htmlparser2/htmltags.h"

#include "engines/htmlparser2/htmlnames.h"

namespace {

constexpr std::size_t kTagCount = HTML_TAG_END - HTML_TAG_FIRST;

constexpr SHTMLTagInfo kTags[kTagCount] = {
#define ZZ_HTML_TAG_INFO(name, ID, list, content) \
  {#name, #ID, kHTMLList##list, kHTMLContent##content},
    ZZ_HTML_TAGS(ZZ_HTML_TAG_INFO)
#undef ZZ_HTML_TAG_INFO
};

constexpr bool NamesAreSorted() {
  for (std::size_t i = 1; i < kTagCount; ++i) {
    const char* left = kTags[i - 1].name;
    const char* right = kTags[i].name;
    std::size_t k = 0;
    while (left[k] != 0 && left[k] == right[k]) ++k;
    if (static_cast<unsigned char>(left[k]) >= static_cast<unsigned char>(right[k])) return false;
  }
  return true;
}
static_assert(NamesAreSorted(), "ids follow the alphabetical order of the names");
static_assert(HTML_TAG_A == 5, "the first element id is 5");

constexpr html_detail::TNameTable<256> BuildTagTable() {
  html_detail::TNameTable<256> table;
  for (std::size_t i = 0; i < kTagCount; ++i) {
    table.Insert(html_detail::PackName(kTags[i].name), static_cast<std::uint8_t>(HTML_TAG_FIRST + i));
  }
  return table;
}
constexpr html_detail::TNameTable<256> kTagTable = BuildTagTable();

}  // namespace

EHTMLTagId HTMLFindPackedTag(std::uint64_t key) noexcept {
  const int id = kTagTable.Find(key);
  return id < 0 ? HTML_TAG_NONE : static_cast<EHTMLTagId>(id);
}

EHTMLTagId HTMLFindTag(const char16_t* name, std::size_t length) noexcept {
  if (name == nullptr) return HTML_TAG_NONE;
  // Only lower-case letters and digits occur in element names.
  for (std::size_t i = 0; i < length; ++i) {
    if (html_detail::NameCode(name[i]) > 26 && html_detail::NameCode(name[i]) < 53) {
      return HTML_TAG_NONE;
    }
  }
  return HTMLFindPackedTag(html_detail::PackName(name, length));
}

const SHTMLTagInfo* HTMLTagInfo(unsigned id) noexcept {
  if (id < HTML_TAG_FIRST || id > HTML_TAG_LAST) return nullptr;
  return &kTags[id - HTML_TAG_FIRST];
}

const char* HTMLTagName(unsigned id) noexcept {
  if (id == HTML_TAG_COMMENT) return "!--";
  if (id == HTML_TAG_DECLARATION) return "!doctype";
  const SHTMLTagInfo* info = HTMLTagInfo(id);
  return info == nullptr ? nullptr : info->name;
}

const char* HTMLTagUpperName(unsigned id) noexcept {
  if (id == HTML_TAG_COMMENT) return "!--";
  if (id == HTML_TAG_DECLARATION) return "!DOCTYPE";
  const SHTMLTagInfo* info = HTMLTagInfo(id);
  return info == nullptr ? nullptr : info->upperName;
}
