// Layout summary of an HTML body: CHtmlSummary listens to the tags of a parsed document and
// writes the layout as symbols (B body start, W word, N line break, U link, E body end).
// SummarizeHtml drives one over a CHTMLParser2 document.
// Threads: a summary object belongs to one thread; the free functions keep no state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ustring.h"

class CHTMLParser2;

namespace summarize {

// Tag events of an HTML body, in document order.
class CAHtmlParseListener {
 public:
  virtual ~CAHtmlParseListener() = default;
  // upperName: the tag's name in upper case; text, length: the page text read since the
  // previous tag (null and 0 when there is none).
  virtual void OnStartTag(const char* upperName, const char16_t* text, std::size_t length) = 0;
  virtual void OnEndTag(const char* upperName, const char16_t* text, std::size_t length) = 0;
  // Any other piece of markup (comments, declarations); the summary ignores it.
  virtual void OnOther(const char16_t* text, std::size_t length) { (void)text; (void)length; }
};

class CHtmlSummary : public CAHtmlParseListener {
 public:
  void OnStartTag(const char* upperName, const char16_t* text, std::size_t length) override;
  void OnEndTag(const char* upperName, const char16_t* text, std::size_t length) override;
  const ascommon::sstring& GetSummary() const noexcept { return m_summary; }
  std::int32_t GetState() const noexcept { return m_state; }
  // 0, or -2 when the summary could not grow at some event.
  std::int32_t GetStatus() const noexcept { return m_status; }

 private:
  std::int32_t m_state = 0;
  std::int32_t m_status = 0;
  ascommon::sstring m_summary;
};

// Hands the document's start and end tags to the listener in document order, each with the
// text read since the previous tag. Returns 0, or -1 when the document is not parsed.
std::int32_t DispatchHtmlEvents(const CHTMLParser2& document, CAHtmlParseListener& listener);

// The layout summary of a parsed HTML body into out (replaced). Returns 0, -1 for a document
// that is not parsed, -2 when memory runs out.
std::int32_t SummarizeHtml(const CHTMLParser2& document, ascommon::sstring& out);

}  // namespace summarize
