// CHTMLTokenizer: the single forward pass that fills a CHTMLParser2's token sequence and
// element lists from its page copies. Internal to the parser; one tokenizer runs once over
// one document, on the parsing thread.
#pragma once

#include <cstdint>

#include "engines/htmlparser2/htmlelements.h"
#include "engines/htmlparser2/htmltags.h"

class CHTMLParser2;

namespace html_detail {

class CHTMLTokenizer {
 public:
  // The document's buffers must be in place (m_buffer, m_lower, m_size).
  explicit CHTMLTokenizer(CHTMLParser2& document) noexcept;

  // Tokenises the whole page. Returns 0, or -2 when a list could not grow (the document
  // keeps what was read before).
  std::int32_t Run() noexcept;

 private:
  // Reads the markup that starts with the '<' at i. Returns the position where text starts
  // again, or 0 when this '<' is text. Text from textStart to i is flushed first.
  std::uint32_t ReadMarkup(std::uint32_t i, std::uint32_t textStart) noexcept;
  std::uint32_t ReadStartTag(std::uint32_t i, std::uint32_t textStart) noexcept;
  std::uint32_t ReadEndTag(std::uint32_t i, std::uint32_t textStart) noexcept;
  std::uint32_t ReadComment(std::uint32_t i, std::uint32_t textStart) noexcept;
  std::uint32_t ReadDeclaration(std::uint32_t i, std::uint32_t textStart) noexcept;

  // Reads an element name at p: its tag id, or HTML_TAG_NONE when the name is unknown or
  // is not followed by a blank, '>' or '/'. nameEnd gets the position after the name.
  EHTMLTagId ReadTagName(std::uint32_t p, std::uint32_t& nameEnd) const noexcept;
  // Reads attributes from p to the closing '>', keeping those of the list's kind in
  // element (which may be null). Returns the position after '>', or 0 when the page ends
  // first (inside the tag or a quoted value).
  std::uint32_t ReadAttributes(std::uint32_t p, EHTMLList list,
                               CHTMLElement* element) const noexcept;
  // Position of the end tag "</name" (followed by a blank, '/' or '>') at or after p; the
  // page length when there is none.
  std::uint32_t FindEndTag(std::uint32_t p, EHTMLTagId id) const noexcept;

  void EmitToken(EHTMLTokenKind kind, std::uint8_t tagId, std::uint32_t start,
                 std::uint32_t end) noexcept;
  void FlushText(std::uint32_t start, std::uint32_t end, std::uint8_t containerId) noexcept;
  void AddElement(EHTMLList list, const CHTMLElement& element) noexcept;

  CHTMLParser2& m_document;
  const char16_t* m_text;   // Not owned: the document's copy of the page.
  const char16_t* m_lower;  // Not owned: its lower-case twin, where all matching happens.
  std::uint32_t m_size;
  bool m_failed = false;  // A list could not grow; the pass stops.
};

}  // namespace html_detail
