// Tokens and elements of a parsed HTML document (CHTMLParser2): text runs, links, images,
// meta tags, comments, forms and inputs, scripts, frames and objects.
//
// Elements are small value records kept in the document's lists. Each holds (start, length)
// ranges, in UTF-16 units, into the document's own copy of the page, plus a pointer to that
// copy so that accessors can return pointers: an element stays valid exactly as long as the
// document that produced it. Attribute values are ranges of the text as written (quotes
// excluded, entities not replaced); the get*Decoded* operations return an owning usstring
// with the named entities replaced (htmlentities.h).
//
// Threads: elements are immutable after parsing; any number of threads may read them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"
#include "common/ustring.h"

namespace html_detail {
class CHTMLTokenizer;
}

// Offset that marks a range the element does not have (absent attribute, no content).
inline constexpr std::uint32_t kHTMLAbsent = 0xFFFFFFFFu;

// A stretch of the document's text in UTF-16 units.
struct SHTMLRange {
  std::uint32_t start = kHTMLAbsent;
  std::uint32_t length = 0;

  bool IsPresent() const noexcept { return start != kHTMLAbsent; }
};

// Token kinds, in the order the tokeniser distinguishes them. Comment and declaration share
// their numbers with their tag ids (HTML_TAG_COMMENT, HTML_TAG_DECLARATION).
enum EHTMLTokenKind : std::uint8_t {
  HTML_TOKEN_TEXT = 0,         // page text; tag id 0, or title/textarea for their content
  HTML_TOKEN_START_TAG = 1,    // "<name ...>" of a known element, '<' to '>' inclusive
  HTML_TOKEN_END_TAG = 2,      // "</name ...>"
  HTML_TOKEN_COMMENT = 3,      // "<!-- ... -->"
  HTML_TOKEN_DECLARATION = 4,  // "<!doctype ...>"
  HTML_TOKEN_RAW_TEXT = 5,     // content of script or style (tag id of the element); not page text
};

// One token: kind, range in the document text, tag id (EHTMLTagId; 0 for plain text).
struct SHTMLToken {
  std::uint32_t start;
  std::uint32_t length;
  std::uint8_t kind;
  std::uint8_t tagId;
};

// A run of page text between two pieces of markup (or the content of a title or textarea).
class CHTMLText : public ascommon::CASAllocated {
 public:
  // The text as written; length in units.
  const char16_t* getText(std::size_t& length) const noexcept {
    length = m_range.IsPresent() ? m_range.length : 0;
    return m_range.IsPresent() ? m_pText + m_range.start : nullptr;
  }
  SHTMLRange getRange() const noexcept { return m_range; }
  // HTML_TAG_TITLE or HTML_TAG_TEXTAREA for the content of those elements; else 0.
  std::uint8_t getContainerId() const noexcept { return m_containerId; }
  // The run with named entities replaced. Allocation failure traces and gives a null
  // string with status -2.
  ascommon::usstring getInterprettedText() const;

 private:
  friend class html_detail::CHTMLTokenizer;

  const char16_t* m_pText = nullptr;  // Not owned: the document's copy of the page.
  SHTMLRange m_range;
  std::uint8_t m_containerId = 0;
};

// Common part of every element: tag id, start tag range, kept attributes, content.
class CHTMLElement : public ascommon::CASAllocated {
 public:
  // Attribute slots per element (the largest kind, forms and inputs, keeps six).
  static constexpr int kMaxKeptAttributes = 6;

  // EHTMLTagId of the element (HTML_TAG_COMMENT for comments).
  std::uint8_t getTagId() const noexcept { return m_tagId; }
  // The start tag as written, '<' to '>' inclusive (a whole comment for comments).
  const char16_t* getTag(std::size_t& length) const noexcept {
    length = m_tag.IsPresent() ? m_tag.length : 0;
    return m_tag.IsPresent() ? m_pText + m_tag.start : nullptr;
  }
  SHTMLRange getTagRange() const noexcept { return m_tag; }

  // Value of the attribute in a slot of the element's kind (the kind's enumeration names
  // the slots): null and length 0 when the tag lacks it or the slot is out of range; for an
  // attribute written without a value ("<input checked>") a valid pointer and length 0.
  const char16_t* getAttribute(int slot, std::size_t& length) const noexcept;
  SHTMLRange getAttributeRange(int slot) const noexcept;
  bool hasAttribute(int slot) const noexcept { return getAttributeRange(slot).IsPresent(); }
  // The value with named entities replaced; a null string for an absent attribute;
  // on allocation failure a trace and a null string with status -2.
  ascommon::usstring getDecodedAttribute(int slot) const;

  // Content between the start tag and its end tag, for scripts and comments (the text
  // between "<!--" and "-->"); null and length 0 for other elements.
  const char16_t* getContent(std::size_t& length) const noexcept;
  SHTMLRange getContentRange() const noexcept { return m_content; }

 protected:
  friend class html_detail::CHTMLTokenizer;

  const char16_t* m_pText = nullptr;  // Not owned: the document's copy of the page.
  SHTMLRange m_tag;
  SHTMLRange m_content;
  SHTMLRange m_attributes[kMaxKeptAttributes];
  std::uint8_t m_tagId = 0;
};

// An anchor, link or image-map area: a, link, area.
class CHTMLURL : public CHTMLElement {
 public:
  enum { kHref = 0, kName, kRel, kType, kAttributeCount };
  CHTMLURL() noexcept = default;
  explicit CHTMLURL(const CHTMLElement& element) noexcept : CHTMLElement(element) {}

  const char16_t* getHref(std::size_t& length) const noexcept { return getAttribute(kHref, length); }
  const char16_t* getName(std::size_t& length) const noexcept { return getAttribute(kName, length); }
  const char16_t* getRel(std::size_t& length) const noexcept { return getAttribute(kRel, length); }
  const char16_t* getType(std::size_t& length) const noexcept { return getAttribute(kType, length); }
  // The address with named entities replaced ("a?x=1&amp;y=2" -> "a?x=1&y=2"); the
  // address is not resolved against the page. Null string without href; allocation
  // failure traces and gives a null string with status -2.
  ascommon::usstring getDecodedHref() const;
};

// An image: img.
class CHTMLImage : public CHTMLElement {
 public:
  enum { kSrc = 0, kAlt, kAttributeCount };
  CHTMLImage() noexcept = default;
  explicit CHTMLImage(const CHTMLElement& element) noexcept : CHTMLElement(element) {}

  const char16_t* getSrc(std::size_t& length) const noexcept { return getAttribute(kSrc, length); }
  const char16_t* getAlt(std::size_t& length) const noexcept { return getAttribute(kAlt, length); }
};

// A meta tag.
class CHTMLMeta : public CHTMLElement {
 public:
  enum { kName = 0, kHttpEquiv, kContent, kCharset, kAttributeCount };
  CHTMLMeta() noexcept = default;
  explicit CHTMLMeta(const CHTMLElement& element) noexcept : CHTMLElement(element) {}

  const char16_t* getName(std::size_t& length) const noexcept { return getAttribute(kName, length); }
  const char16_t* getHttpEquiv(std::size_t& length) const noexcept {
    return getAttribute(kHttpEquiv, length);
  }
  // The "content" attribute (a meta tag has no element content, so this hides nothing).
  const char16_t* getContent(std::size_t& length) const noexcept {
    return getAttribute(kContent, length);
  }
  const char16_t* getCharset(std::size_t& length) const noexcept {
    return getAttribute(kCharset, length);
  }
};

// A comment (tag id HTML_TAG_COMMENT); the text between its delimiters is its content.
class CHTMLComment : public CHTMLElement {
 public:
  CHTMLComment() noexcept = default;
  explicit CHTMLComment(const CHTMLElement& element) noexcept : CHTMLElement(element) {}
};

// A form or one of its controls: form, input, button, select, textarea, isindex.
class CHTMLFormElement : public CHTMLElement {
 public:
  enum { kAction = 0, kName, kType, kValue, kSrc, kAlt, kAttributeCount };
  CHTMLFormElement() noexcept = default;
  explicit CHTMLFormElement(const CHTMLElement& element) noexcept : CHTMLElement(element) {}

  const char16_t* getAction(std::size_t& length) const noexcept {
    return getAttribute(kAction, length);
  }
  const char16_t* getName(std::size_t& length) const noexcept { return getAttribute(kName, length); }
  const char16_t* getType(std::size_t& length) const noexcept { return getAttribute(kType, length); }
  const char16_t* getValue(std::size_t& length) const noexcept {
    return getAttribute(kValue, length);
  }
  const char16_t* getSrc(std::size_t& length) const noexcept { return getAttribute(kSrc, length); }
  const char16_t* getAlt(std::size_t& length) const noexcept { return getAttribute(kAlt, length); }
};

// A script; its content is the code between the start and end tag.
class CHTMLScript : public CHTMLElement {
 public:
  enum { kType = 0, kLanguage, kSrc, kAttributeCount };
  CHTMLScript() noexcept = default;
  explicit CHTMLScript(const CHTMLElement& element) noexcept : CHTMLElement(element) {}

  const char16_t* getType(std::size_t& length) const noexcept { return getAttribute(kType, length); }
  const char16_t* getLanguage(std::size_t& length) const noexcept {
    return getAttribute(kLanguage, length);
  }
  const char16_t* getSrc(std::size_t& length) const noexcept { return getAttribute(kSrc, length); }
};

// A frame or embedded object: frame, iframe, embed, object, applet.
class CHTMLObject : public CHTMLElement {
 public:
  enum { kSrc = 0, kData, kType, kName, kCode, kAttributeCount };
  CHTMLObject() noexcept = default;
  explicit CHTMLObject(const CHTMLElement& element) noexcept : CHTMLElement(element) {}

  const char16_t* getSrc(std::size_t& length) const noexcept { return getAttribute(kSrc, length); }
  const char16_t* getData(std::size_t& length) const noexcept { return getAttribute(kData, length); }
  const char16_t* getType(std::size_t& length) const noexcept { return getAttribute(kType, length); }
  const char16_t* getName(std::size_t& length) const noexcept { return getAttribute(kName, length); }
  const char16_t* getCode(std::size_t& length) const noexcept { return getAttribute(kCode, length); }
};

namespace html_detail {
// Decodes length units of text (HTMLDecodeText) into a new usstring; on allocation failure
// traces failureMessage at level 1 and returns a null string with status -2.
ascommon::usstring DecodeToString(const char16_t* text, std::size_t length,
                                  const char* failureMessage);
}  // namespace html_detail
