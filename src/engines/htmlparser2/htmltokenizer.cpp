// The tokeniser: one forward pass over the lower-case page copy.
//
// Text is skipped eight units at a time to the next '<' (FindUnit). At a '<' the markup is
// classified by at most a dozen units of look-ahead (name up to ten letters, "!--",
// "!doctype"; anything else is text); a known tag is read attribute by attribute to its '>', script/style/title/
// textarea content by a search for its end tag. Every search starts where the previous one
// stopped and a '<' found to be text is passed over once, so the pass is O(page length);
// memory is O(tokens + elements), at most one token per three page units plus text runs.
// Tested by htmlparser2_test.cpp (tables of pages and their dumps, hostile pages).
#include "engines/htmlparser2/htmltokenizer.h"

#include <cstring>

#include "engines/htmlparser2/htmlnames.h"
#include "engines/htmlparser2/htmlparser2.h"
#include "engines/htmlparser2/htmlscan.h"

namespace html_detail {
namespace {

// Attribute names kept per element list, in the slot order of the element classes.
constexpr std::uint64_t kLinkAttributes[] = {PackName("href"), PackName("name"),
                                             PackName("rel"), PackName("type")};
constexpr std::uint64_t kImageAttributes[] = {PackName("src"), PackName("alt")};
constexpr std::uint64_t kMetaAttributes[] = {PackName("name"), PackName("http-equiv"),
                                             PackName("content"), PackName("charset")};
constexpr std::uint64_t kFormAttributes[] = {PackName("action"), PackName("name"),
                                             PackName("type"),   PackName("value"),
                                             PackName("src"),    PackName("alt")};
constexpr std::uint64_t kScriptAttributes[] = {PackName("type"), PackName("language"),
                                               PackName("src")};
constexpr std::uint64_t kObjectAttributes[] = {PackName("src"), PackName("data"),
                                               PackName("type"), PackName("name"),
                                               PackName("code")};

template <std::size_t N>
constexpr std::size_t CountOf(const std::uint64_t (&)[N]) {
  return N;
}
static_assert(CountOf(kLinkAttributes) == CHTMLURL::kAttributeCount);
static_assert(CountOf(kImageAttributes) == CHTMLImage::kAttributeCount);
static_assert(CountOf(kMetaAttributes) == CHTMLMeta::kAttributeCount);
static_assert(CountOf(kFormAttributes) == CHTMLFormElement::kAttributeCount);
static_assert(CountOf(kScriptAttributes) == CHTMLScript::kAttributeCount);
static_assert(CountOf(kObjectAttributes) == CHTMLObject::kAttributeCount);
static_assert(CHTMLFormElement::kAttributeCount <= CHTMLElement::kMaxKeptAttributes);

struct SAttributeSet {
  const std::uint64_t* keys;
  std::size_t count;
};

// Indexed by EHTMLList.
constexpr SAttributeSet kAttributeSets[] = {
    {nullptr, 0},
    {kLinkAttributes, CountOf(kLinkAttributes)},
    {kImageAttributes, CountOf(kImageAttributes)},
    {kMetaAttributes, CountOf(kMetaAttributes)},
    {kFormAttributes, CountOf(kFormAttributes)},
    {kScriptAttributes, CountOf(kScriptAttributes)},
    {kObjectAttributes, CountOf(kObjectAttributes)},
};
static_assert(sizeof(kAttributeSets) / sizeof(kAttributeSets[0]) == kHTMLListObjects + 1);

bool IsTagDelimiter(char16_t c) noexcept { return IsBlank(c) || c == u'>' || c == u'/'; }

// Compares units of the lower-case page with an ASCII text.
bool MatchesAscii(const char16_t* units, const char* ascii, std::size_t length) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    if (units[i] != static_cast<unsigned char>(ascii[i])) return false;
  }
  return true;
}

// Appends unless the list is full (kMaxListElements) or an earlier append failed.
template <class T>
void PushCapped(TPodVector<T>& list, const T& value, bool& failed) noexcept {
  if (failed || list.Size() >= CHTMLParser2::kMaxListElements) return;
  if (!list.Push(value)) failed = true;
}

}  // namespace

CHTMLTokenizer::CHTMLTokenizer(CHTMLParser2& document) noexcept
    : m_document(document),
      m_text(document.m_buffer),
      m_lower(document.m_lower),
      m_size(static_cast<std::uint32_t>(document.m_size)) {}

std::int32_t CHTMLTokenizer::Run() noexcept {
  const char16_t* const lower = m_lower;
  const std::uint32_t n = m_size;
  std::uint32_t pos = 0;
  std::uint32_t textStart = 0;
  while (pos < n && !m_failed) {
    const char16_t* lt = FindUnit(lower + pos, lower + n, u'<');
    if (lt == lower + n) break;
    const auto i = static_cast<std::uint32_t>(lt - lower);
    const std::uint32_t next = ReadMarkup(i, textStart);
    if (next == 0) {
      pos = i + 1;
      continue;
    }
    pos = textStart = next;
  }
  FlushText(textStart, n, HTML_TAG_NONE);
  return m_failed ? -2 : 0;
}

std::uint32_t CHTMLTokenizer::ReadMarkup(std::uint32_t i, std::uint32_t textStart) noexcept {
  const std::uint32_t n = m_size;
  if (i + 1 >= n) return 0;
  const char16_t c = m_lower[i + 1];
  if (c == u'!') {
    if (i + 3 < n && m_lower[i + 2] == u'-' && m_lower[i + 3] == u'-') {
      return ReadComment(i, textStart);
    }
    if (n - i >= 9 && MatchesAscii(m_lower + i + 2, "doctype", 7)) {
      return ReadDeclaration(i, textStart);
    }
    return 0;  // "<![CDATA[", "<!x": text.
  }
  if (c == u'/') return ReadEndTag(i, textStart);
  return ReadStartTag(i, textStart);  // "<?xml" has no name: text.
}

EHTMLTagId CHTMLTokenizer::ReadTagName(std::uint32_t p, std::uint32_t& nameEnd) const noexcept {
  const std::uint32_t n = m_size;
  // One unit beyond the longest name is enough to know the name is too long.
  const std::uint32_t limit = n - p > kMaxPackedName ? p + kMaxPackedName + 1 : n;
  std::uint64_t key = 0;
  std::uint32_t q = p;
  for (; q < limit; ++q) {
    const unsigned code = NameCode(m_lower[q]);
    if (code == 0) break;
    key |= static_cast<std::uint64_t>(code) << (6 * (q - p));
  }
  nameEnd = q;
  if (q == p || q - p > kMaxPackedName || q >= n || !IsTagDelimiter(m_lower[q])) {
    return HTML_TAG_NONE;
  }
  return HTMLFindPackedTag(key);
}

std::uint32_t CHTMLTokenizer::ReadAttributes(std::uint32_t p, EHTMLList list,
                                             CHTMLElement* element) const noexcept {
  const char16_t* const lower = m_lower;
  const std::uint32_t n = m_size;
  const SAttributeSet& kept = kAttributeSets[list];
  std::size_t seen = 0;
  for (;;) {
    while (p < n && (IsBlank(lower[p]) || lower[p] == u'/')) ++p;
    if (p >= n) return 0;
    if (lower[p] == u'>') return p + 1;

    // The name: its first unit whatever it is ("<a =x>" names an attribute "=x"), then up
    // to a blank, '/', '>' or '='.
    const std::uint32_t nameStart = p++;
    while (p < n && !IsBlank(lower[p]) && lower[p] != u'/' && lower[p] != u'>' &&
           lower[p] != u'=') {
      ++p;
    }
    const std::uint32_t nameEnd = p;
    while (p < n && IsBlank(lower[p])) ++p;

    SHTMLRange value{nameEnd, 0};  // An attribute without '=' has an empty value.
    if (p < n && lower[p] == u'=') {
      ++p;
      while (p < n && IsBlank(lower[p])) ++p;
      if (p >= n) return 0;
      const char16_t quote = lower[p];
      if (quote == u'"' || quote == u'\'') {
        const char16_t* close = FindUnit(lower + p + 1, lower + n, quote);
        if (close == lower + n) return 0;
        const auto closeAt = static_cast<std::uint32_t>(close - lower);
        value = SHTMLRange{p + 1, closeAt - p - 1};
        p = closeAt + 1;
      } else if (quote == u'>') {
        value = SHTMLRange{p, 0};
      } else {
        const std::uint32_t valueStart = p;
        while (p < n && !IsBlank(lower[p]) && lower[p] != u'>') ++p;
        value = SHTMLRange{valueStart, p - valueStart};
      }
    }

    // An attribute is a blank followed by its name: "<a/href=x>" and "<a x=''href=y>" read
    // to the same '>' but keep no href.
    if (element != nullptr && kept.count != 0 && seen < CHTMLParser2::kMaxAttributesPerTag &&
        IsBlank(lower[nameStart - 1])) {
      const std::uint64_t key = PackName(lower + nameStart, nameEnd - nameStart);
      for (std::size_t slot = 0; slot < kept.count; ++slot) {
        // The first of two equal attributes wins, as in browsers.
        if (kept.keys[slot] == key && !element->m_attributes[slot].IsPresent()) {
          element->m_attributes[slot] = value;
          break;
        }
      }
    }
    ++seen;
  }
}

std::uint32_t CHTMLTokenizer::FindEndTag(std::uint32_t p, EHTMLTagId id) const noexcept {
  const char* name = HTMLTagName(id);
  const std::size_t length = std::strlen(name);
  const char16_t* const lower = m_lower;
  const std::uint32_t n = m_size;
  while (p < n) {
    const char16_t* lt = FindUnit(lower + p, lower + n, u'<');
    if (lt == lower + n) break;
    const auto q = static_cast<std::uint32_t>(lt - lower);
    if (n - q > length + 2 && lower[q + 1] == u'/' && MatchesAscii(lower + q + 2, name, length) &&
        IsTagDelimiter(lower[q + 2 + length])) {
      return q;
    }
    p = q + 1;
  }
  return n;
}

std::uint32_t CHTMLTokenizer::ReadStartTag(std::uint32_t i, std::uint32_t textStart) noexcept {
  std::uint32_t nameEnd = 0;
  const EHTMLTagId id = ReadTagName(i + 1, nameEnd);
  if (id == HTML_TAG_NONE) return 0;
  const SHTMLTagInfo& info = *HTMLTagInfo(id);

  CHTMLElement element;
  element.m_pText = m_text;
  element.m_tagId = id;
  const std::uint32_t end = ReadAttributes(nameEnd, info.list, &element);
  FlushText(textStart, i, HTML_TAG_NONE);
  if (end == 0) return m_size;  // Cut by the end of the page: dropped, as browsers do.
  element.m_tag = SHTMLRange{i, end - i};

  EmitToken(HTML_TOKEN_START_TAG, id, i, end);
  if (info.content == kHTMLContentNormal) {
    AddElement(info.list, element);
    return end;
  }

  // Script and style are literal up to their end tag; title and textarea are text there.
  const std::uint32_t contentEnd = FindEndTag(end, id);
  element.m_content = SHTMLRange{end, contentEnd - end};
  AddElement(info.list, element);
  if (info.content == kHTMLContentRaw) {
    EmitToken(HTML_TOKEN_RAW_TEXT, id, end, contentEnd);
  } else {
    FlushText(end, contentEnd, id);
  }
  return contentEnd;
}

std::uint32_t CHTMLTokenizer::ReadEndTag(std::uint32_t i, std::uint32_t textStart) noexcept {
  std::uint32_t nameEnd = 0;
  const EHTMLTagId id = ReadTagName(i + 2, nameEnd);
  if (id == HTML_TAG_NONE) return 0;
  // Browsers read attributes in end tags too (and ignore them); quotes matter for the '>'.
  const std::uint32_t end = ReadAttributes(nameEnd, kHTMLListNone, nullptr);
  FlushText(textStart, i, HTML_TAG_NONE);
  if (end == 0) return m_size;
  EmitToken(HTML_TOKEN_END_TAG, id, i, end);
  return end;
}

std::uint32_t CHTMLTokenizer::ReadComment(std::uint32_t i, std::uint32_t textStart) noexcept {
  const char16_t* const lower = m_lower;
  const std::uint32_t n = m_size;
  const std::uint32_t contentStart = i + 4;
  std::uint32_t contentEnd = n;
  std::uint32_t end = n;  // Unterminated: the comment runs to the end of the page.
  if (contentStart < n && lower[contentStart] == u'>') {  // "<!-->"
    contentEnd = contentStart;
    end = contentStart + 1;
  } else if (contentStart + 1 < n && lower[contentStart] == u'-' &&
             lower[contentStart + 1] == u'>') {  // "<!--->"
    contentEnd = contentStart;
    end = contentStart + 2;
  } else {
    for (std::uint32_t p = contentStart; p < n;) {
      const char16_t* gt = FindUnit(lower + p, lower + n, u'>');
      if (gt == lower + n) break;
      const auto k = static_cast<std::uint32_t>(gt - lower);
      if (k >= contentStart + 2 && lower[k - 1] == u'-' && lower[k - 2] == u'-') {
        contentEnd = k - 2;
        end = k + 1;
        break;
      }
      if (k >= contentStart + 3 && lower[k - 1] == u'!' && lower[k - 2] == u'-' &&
          lower[k - 3] == u'-') {  // "--!>" closes a comment too.
        contentEnd = k - 3;
        end = k + 1;
        break;
      }
      p = k + 1;
    }
  }
  FlushText(textStart, i, HTML_TAG_NONE);
  EmitToken(HTML_TOKEN_COMMENT, HTML_TAG_COMMENT, i, end);
  CHTMLElement comment;
  comment.m_pText = m_text;
  comment.m_tagId = HTML_TAG_COMMENT;
  comment.m_tag = SHTMLRange{i, end - i};
  comment.m_content = SHTMLRange{contentStart, contentEnd - contentStart};
  PushCapped(m_document.m_comments, CHTMLComment(comment), m_failed);
  return end;
}

std::uint32_t CHTMLTokenizer::ReadDeclaration(std::uint32_t i, std::uint32_t textStart) noexcept {
  const char16_t* gt = FindUnit(m_lower + i + 2, m_lower + m_size, u'>');
  const auto close = static_cast<std::uint32_t>(gt - m_lower);
  const std::uint32_t end = close < m_size ? close + 1 : m_size;
  FlushText(textStart, i, HTML_TAG_NONE);
  EmitToken(HTML_TOKEN_DECLARATION, HTML_TAG_DECLARATION, i, end);
  return end;
}

void CHTMLTokenizer::EmitToken(EHTMLTokenKind kind, std::uint8_t tagId, std::uint32_t start,
                               std::uint32_t end) noexcept {
  if (end <= start || m_failed) return;
  // Filled in place: a record built on the stack and copied stalls the store forwarding.
  SHTMLToken* token = m_document.m_tokens.Append();
  if (token == nullptr) {
    m_failed = true;
    return;
  }
  token->start = start;
  token->length = end - start;
  token->kind = kind;
  token->tagId = tagId;
}

void CHTMLTokenizer::FlushText(std::uint32_t start, std::uint32_t end,
                               std::uint8_t containerId) noexcept {
  if (end <= start || m_failed) return;
  EmitToken(HTML_TOKEN_TEXT, containerId, start, end);
  // Text runs are not capped: there is at most one per markup token.
  CHTMLText* run = m_failed ? nullptr : m_document.m_texts.Append();
  if (run == nullptr) {
    m_failed = true;
    return;
  }
  run->m_pText = m_text;
  run->m_range = SHTMLRange{start, end - start};
  run->m_containerId = containerId;
  if (containerId == HTML_TAG_TITLE) PushCapped(m_document.m_titles, *run, m_failed);
}

void CHTMLTokenizer::AddElement(EHTMLList list, const CHTMLElement& element) noexcept {
  switch (list) {
    case kHTMLListNone:
      break;
    case kHTMLListLinks:
      PushCapped(m_document.m_links, CHTMLURL(element), m_failed);
      break;
    case kHTMLListImages:
      PushCapped(m_document.m_images, CHTMLImage(element), m_failed);
      break;
    case kHTMLListMetas:
      PushCapped(m_document.m_metas, CHTMLMeta(element), m_failed);
      break;
    case kHTMLListForms:
      PushCapped(m_document.m_forms, CHTMLFormElement(element), m_failed);
      break;
    case kHTMLListScripts:
      PushCapped(m_document.m_scripts, CHTMLScript(element), m_failed);
      break;
    case kHTMLListObjects:
      PushCapped(m_document.m_objects, CHTMLObject(element), m_failed);
      break;
  }
}

}  // namespace html_detail
