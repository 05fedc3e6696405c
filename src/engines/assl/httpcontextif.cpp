// The HTTP context: Init checks and binds the item's fields in a fixed order (O(1)); a page
// text's UTF-8 length is measured on its first request and kept; the element texts are built on first request by walking
// one element list of the parser and encoding each value straight into a growing UTF-8
// buffer (O(list + text), amortised doubling).
// Tested by tests/engines/assl/context_http_test.cpp.
#include "engines/assl/httpcontextif.h"

#include <cstring>
#include <initializer_list>
#include <string>

#include "aitem.h"
#include "common/asmemory.h"
#include "common/astrace.h"
#include "common/convert.h"
#include "engines/assl/parser/item_codes.h"
#include "engines/htmlparser2/htmlparser2.h"
#include "itemfields.h"

namespace assl {

namespace {

namespace ItemField = nsHttpModules::ItemField;

const char16_t* WideField(const ascommon::CBlackBox& bb, std::uint32_t id, const char* missing) {
  const char16_t* text = nullptr;
  try {
    text = bb.GetUCharBuf(id);
  } catch (const ASException&) {
  }
  if (text == nullptr) AS_THROW(0, ASBadPtrException, "%s", missing);
  return text;
}

const char* Utf8Field(const ascommon::CBlackBox& bb, std::uint32_t id, const char* missing) {
  const char* text = nullptr;
  try {
    text = bb.GetCharBuf(id);
  } catch (const ASException&) {
  }
  if (text == nullptr) AS_THROW(0, ASBadPtrException, "%s", missing);
  return text;
}

const ascommon::CBlackBoxObject* ObjectField(const ascommon::CBlackBox& bb, std::uint32_t id,
                                             const char* missing) {
  const ascommon::CBlackBoxObject* object = nullptr;
  try {
    object = bb.GetGenericObject(id);
  } catch (const ASException&) {
  }
  if (object == nullptr) AS_THROW(0, ASBadPtrException, "%s", missing);
  return object;
}

constexpr char kParsedWide[] = "invalid pointer to the parsed html wide content";
constexpr char kParsedUtf8[] = "invalid pointer to the parsed html utf8 content";
constexpr char kRawWide[] = "invalid pointer to the raw wide content";
constexpr char kRawUtf8[] = "invalid pointer to the raw utf8 content";

// UTF-8 lines built piece by piece: "\n" between non-empty items. A piece that is not
// valid UTF-16 fails the whole text.
class CUtf8Lines {
 public:
  CUtf8Lines() noexcept = default;
  ~CUtf8Lines() { ascommon::as_free(m_data); }
  CUtf8Lines(const CUtf8Lines&) = delete;
  CUtf8Lines& operator=(const CUtf8Lines&) = delete;

  void Add(const char16_t* units, std::size_t count) {
    if (units == nullptr || count == 0 || m_invalid != nullptr) return;
    const std::size_t bound = ascommon::Utf8LengthBound(units, count) + 1;
    Reserve(m_size + bound + 1);
    if (m_size != 0) m_data[m_size++] = '\n';
    std::size_t produced = 0;
    if (ascommon::WideToUtf8(units, count, m_data + m_size, m_capacity - m_size, produced) != 0) {
      m_invalid = units;
      return;
    }
    m_size += produced;
  }
  void Add(const ascommon::usstring& text) {
    if (text.status() != 0) AS_THROW(0, ASMemException, "memory problems");
    Add(text.c_str(), text.length());
  }
  // The lines into out; false (out left null) when a piece was not valid UTF-16.
  bool Into(ascommon::sstring& out) const {
    if (m_invalid != nullptr) return false;
    if (out.assign(m_data == nullptr ? "" : m_data, m_size) != 0) {
      AS_THROW(0, ASMemException, "memory problems");
    }
    return true;
  }
  const char16_t* Invalid() const noexcept { return m_invalid; }

 private:
  void Reserve(std::size_t wanted) {
    if (wanted <= m_capacity) return;
    std::size_t capacity = m_capacity < 256 ? 256 : m_capacity;
    while (capacity < wanted) capacity *= 2;
    char* block = static_cast<char*>(ascommon::as_alloc_nt(capacity));
    if (block == nullptr) AS_THROW(0, ASMemException, "memory problems");
    if (m_size != 0) std::memcpy(block, m_data, m_size);
    ascommon::as_free(m_data);
    m_data = block;
    m_capacity = capacity;
  }

  char* m_data = nullptr;  // Owned (host allocator).
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
  const char16_t* m_invalid = nullptr;  // the first piece that did not convert
};

template <class Element>
void AddAttributes(CUtf8Lines& lines, const Element& element, std::initializer_list<int> slots) {
  for (int slot : slots) {
    std::size_t length = 0;
    const char16_t* value = element.getAttribute(slot, length);
    if (value == nullptr || length == 0) continue;
    // Only a value with an entity needs the decoded copy.
    if (std::char_traits<char16_t>::find(value, length, u'&') == nullptr) {
      lines.Add(value, length);
    } else {
      lines.Add(element.getDecodedAttribute(slot));
    }
  }
}

void AddContent(CUtf8Lines& lines, const CHTMLElement& element) {
  std::size_t length = 0;
  const char16_t* content = element.getContent(length);
  lines.Add(content, length);
}

}  // namespace

CTextView CHttpContextInterface::Measured(CTextView& text) noexcept {
  if (text.size == kUnmeasured) text.size = std::strlen(text.data);
  return text;
}

void CHttpContextInterface::Init(AItem* item) {
  if (item == nullptr) AS_THROW(0, ASBadPtrException, "invalid pitem input");
  // A context bound again forgets what it built for the previous item.
  m_url.clear();
  m_urlTooLong = false;
  for (int kind = 0; kind < kElementKinds; ++kind) {
    m_built[kind] = false;
    m_elements[kind].clear();
  }
  const ascommon::CBlackBox& bb = item->GetBlackBox();
  WideField(bb, ItemField::kPageText, kParsedWide);
  m_parsed = {Utf8Field(bb, ItemField::kPageTextUtf8, kParsedUtf8), kUnmeasured};
  WideField(bb, ItemField::kRawContent, kRawWide);
  m_raw = {Utf8Field(bb, ItemField::kRawContentUtf8, kRawUtf8), kUnmeasured};
  WideField(bb, ItemField::kPageTextLower, kParsedWide);
  m_parsedLower = {Utf8Field(bb, ItemField::kPageTextLowerUtf8, kParsedUtf8), kUnmeasured};
  WideField(bb, ItemField::kRawContentLower, kRawWide);
  m_rawLower = {Utf8Field(bb, ItemField::kRawContentLowerUtf8, kRawUtf8), kUnmeasured};
  m_parser = dynamic_cast<const CHTMLParser2*>(ObjectField(bb, ItemField::kHtmlParser, kRawUtf8));
  if (m_parser == nullptr) AS_THROW(0, ASBadPtrException, "%s", kRawUtf8);
  ObjectField(bb, ItemField::kUrlInfo, "invalid pointer to the url info");
  m_contentSize = bb.GetInt(ItemField::kContentSize);

  const char16_t* url = bb.GetUCharBuf(ItemField::kUrlText);
  std::size_t length = 0;
  while (url[length] != 0 && length < kMaxUrlUnits) ++length;
  m_urlTooLong = length >= kMaxUrlUnits;
  if (m_urlTooLong) {
    AS_TRACE(3, "conversion error %S", url);
    return;
  }
  CUtf8Lines converted;
  converted.Add(url, length);
  if (!converted.Into(m_url)) {
    AS_TRACE(0, "error: could not convert from UCS to UTF-8 - invalid input [%S]", url);
  }
}

CTextView CHttpContextInterface::GetUrl() const noexcept {
  if (m_url.is_null()) return {};
  return {m_url.c_str(), m_url.length()};
}

CTextView CHttpContextInterface::GetElementText(std::int32_t whereCode) const {
  const int kind = whereCode - kHtmlTitle;
  if (kind < 0 || kind >= kElementKinds || m_urlTooLong || m_parser == nullptr) return {};
  if (!m_built[kind]) {
    BuildElementText(kind);
    m_built[kind] = true;
  }
  const ascommon::sstring& text = m_elements[kind];
  if (text.is_null()) return {};
  return {text.c_str(), text.length()};
}

void CHttpContextInterface::BuildElementText(int kind) const {
  const CHTMLParser2& doc = *m_parser;
  CUtf8Lines lines;
  switch (kind + kHtmlTitle) {
    case kHtmlTitle:
      for (std::size_t i = 0; i < doc.getTitleCount(); ++i) {
        lines.Add(doc.getTitle(i)->getInterprettedText());
      }
      break;
    case kHtmlMeta:
      for (std::size_t i = 0; i < doc.getMetaCount(); ++i) {
        AddAttributes(lines, *doc.getMeta(i),
                      {CHTMLMeta::kName, CHTMLMeta::kHttpEquiv, CHTMLMeta::kContent});
      }
      break;
    case kHtmlForms:
      for (std::size_t i = 0; i < doc.getFormCount(); ++i) {
        AddAttributes(lines, *doc.getForm(i),
                      {CHTMLFormElement::kAction, CHTMLFormElement::kName,
                       CHTMLFormElement::kType, CHTMLFormElement::kValue,
                       CHTMLFormElement::kSrc, CHTMLFormElement::kAlt});
      }
      break;
    case kHtmlComments:
      for (std::size_t i = 0; i < doc.getCommentCount(); ++i) AddContent(lines, *doc.getComment(i));
      break;
    case kHtmlImages:
      for (std::size_t i = 0; i < doc.getImageCount(); ++i) {
        AddAttributes(lines, *doc.getImage(i), {CHTMLImage::kSrc, CHTMLImage::kAlt});
      }
      break;
    case kHtmlAHref:
      for (std::size_t i = 0; i < doc.getLinkCount(); ++i) {
        AddAttributes(lines, *doc.getLink(i), {CHTMLURL::kHref});
      }
      break;
    case kHtmlScript:
      for (std::size_t i = 0; i < doc.getScriptCount(); ++i) {
        AddAttributes(lines, *doc.getScript(i), {CHTMLScript::kSrc});
        AddContent(lines, *doc.getScript(i));
      }
      break;
  }
  if (!lines.Into(m_elements[kind])) {
    AS_TRACE(0, "error: could not convert from UCS to UTF-8 - invalid input [%S]",
             lines.Invalid());
  }
}

}  // namespace assl
