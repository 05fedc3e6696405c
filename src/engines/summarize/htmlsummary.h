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
  // 0, or -2 when the summary could not grow at some event (later events are ignored).
  std::int32_t GetStatus() const noexcept { return m_status; }

 private:
  std::int32_t m_state = 0;
  std::int32_t m_status = 0;
  ascommon::sstring m_summary;
};

// Hands the document's start and end tags to the listener in document order, each with the
// text read since the previous tag (the page text as written, entities not replaced; text
// runs split by comments or script content joined), comments and declarations to OnOther.
// A document without a BODY start tag is framed by a BODY start before its first token and
// a BODY end after its last. The text pointers live until the listener call returns.
// Returns 0, -1 when the document is not parsed, -2 when joined text cannot be allocated
// (the dispatch stops there). O(tokens + page length).
std::int32_t DispatchHtmlEvents(const CHTMLParser2& document, CAHtmlParseListener& listener);

// The layout summary of a parsed HTML body into out (replaced; untouched for -1). Returns 0,
// -1 for a document that is not parsed, -2 when memory runs out. At most a few symbols per
// word or tag, so the summary is shorter than the page.
std::int32_t SummarizeHtml(const CHTMLParser2& document, ascommon::sstring& out);

}  // namespace summarize
