// Layout summary of HTML: the tag-driven state machine of CHtmlSummary and the dispatcher
// that feeds it from a parsed document.
// Each tag event counts the words of the text read since the previous tag (one pass over
// that text) and moves the machine by one table row; the dispatcher walks the token list
// once and joins text runs only when markup splits them, so a document costs
// O(tokens + text) time and O(log summary) allocations.
// Tested by tests/engines/summarize/summarize_test.cpp.
#include "engines/summarize/htmlsummary.h"

#include <cstring>

#include "engines/htmlparser2/htmlparser2.h"
#include "engines/summarize/symbolwriter.h"

namespace summarize {
namespace {

using summary_detail::CSymbolWriter;

// States of the machine: 0 before the body; 1 just after BODY; 2 in running text; 3 after a
// P start without text; 4 after a P end; 5 after a DIV start without text; 6 after a DIV end;
// 7 inside an anchor; 8 after the body's end.
enum HtmlState : std::int32_t {
  kBeforeBody = 0,
  kBodyStart = 1,
  kText = 2,
  kAfterEmptyP = 3,
  kAfterPEnd = 4,
  kAfterEmptyDiv = 5,
  kAfterDivEnd = 6,
  kInAnchor = 7,
  kAfterBody = 8,
};

// Tags the machine tells apart, by prefix of the upper-case name: "PRE" counts as P and
// "AREA" as A, as the summaries have always been computed.
enum TagKind { kTagP, kTagDiv, kTagBr, kTagA, kTagBody, kTagOther };

TagKind Classify(const char* name) noexcept {
  if (name == nullptr) return kTagOther;
  if (name[0] == 'P') return kTagP;
  if (std::strncmp(name, "DIV", 3) == 0) return kTagDiv;
  if (std::strncmp(name, "BR", 2) == 0) return kTagBr;
  if (name[0] == 'A') return kTagA;
  if (std::strncmp(name, "BODY", 4) == 0) return kTagBody;
  return kTagOther;
}

bool IsBlank(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Maximal runs of characters other than blank, tab, CR and LF.
std::size_t CountWords(const char16_t* text, std::size_t length) noexcept {
  if (text == nullptr) return 0;
  std::size_t words = 0;
  bool inWord = false;
  for (std::size_t i = 0; i < length; ++i) {
    const bool blank = IsBlank(text[i]);
    if (!blank && !inWord) ++words;
    inWord = !blank;
  }
  return words;
}

// One event in progress: the writer and the words of the event's text.
struct Event {
  CSymbolWriter& writer;
  std::size_t words;

  bool HasText() const noexcept { return words > 0; }
  void Words() const noexcept { writer.Put('W', words); }
  void Put(char symbol, std::size_t count = 1) const noexcept { writer.Put(symbol, count); }
};

// A start tag read in running text (state 2); the rows that say "then as state 2" land here.
std::int32_t StartInText(TagKind tag, const Event& event) noexcept {
  switch (tag) {
    case kTagBr:
      event.Words();
      event.Put('N');
      return kText;
    case kTagP:
      if (!event.HasText()) return kAfterEmptyP;
      event.Words();
      event.Put('N', 2);
      return kText;
    case kTagDiv:
      if (!event.HasText()) return kAfterEmptyDiv;
      event.Words();
      event.Put('N');
      return kText;
    case kTagA:
      event.Words();
      return kInAnchor;
    default:
      event.Words();
      return kText;
  }
}

std::int32_t Start(std::int32_t state, TagKind tag, const Event& event) noexcept {
  const bool text = event.HasText();
  switch (state) {
    case kBeforeBody:
      if (tag != kTagBody) return state;
      event.Put('B');
      return kBodyStart;
    case kBodyStart:
      if ((tag == kTagP || tag == kTagDiv) && !text) return kText;
      return StartInText(tag, event);
    case kText:
      return StartInText(tag, event);
    case kAfterEmptyP:
      if (tag == kTagP && !text) return state;
      event.Put('N', 2);
      return StartInText(tag, event);
    case kAfterPEnd:
      event.Put('N', 2);
      if ((tag == kTagP || tag == kTagDiv) && !text) return kText;
      return StartInText(tag, event);
    case kAfterEmptyDiv:
      if (tag != kTagP && text) event.Put('N');
      return StartInText(tag, event);
    case kAfterDivEnd:
      if (!text) {
        event.Put('N', tag == kTagP ? 2 : 1);
        return kText;
      }
      event.Put('N');
      return StartInText(tag, event);
    default:  // in an anchor, after the body
      return state;
  }
}

std::int32_t End(std::int32_t state, TagKind tag, const Event& event) noexcept {
  switch (state) {
    case kBodyStart:
    case kText:
    case kAfterEmptyP:
    case kAfterEmptyDiv:
      event.Words();
      if (tag == kTagP) return kAfterPEnd;
      if (tag == kTagDiv) return kAfterDivEnd;
      if (tag != kTagBody) return state;
      if (event.HasText()) event.Put('N');
      event.Put('E');
      return kAfterBody;
    case kAfterPEnd:
    case kAfterDivEnd:
      // After a paragraph or division end, only the body's end writes anything.
      if (tag != kTagBody) return state;
      if (event.HasText()) event.Put('N', state == kAfterPEnd ? 2 : 1);
      event.Words();
      event.Put('E');
      return kAfterBody;
    case kInAnchor:
      if (tag != kTagA) return state;
      event.Put('U');
      return kText;
    default:  // before or after the body
      return state;
  }
}

}  // namespace

void CHtmlSummary::OnStartTag(const char* upperName, const char16_t* text, std::size_t length) {
  if (m_status != 0) return;  // a summary with a gap would mislead; it stops here
  CSymbolWriter writer(m_summary);
  m_state = Start(m_state, Classify(upperName), Event{writer, CountWords(text, length)});
  if (writer.Failed()) m_status = -2;
}

void CHtmlSummary::OnEndTag(const char* upperName, const char16_t* text, std::size_t length) {
  if (m_status != 0) return;  // a summary with a gap would mislead; it stops here
  CSymbolWriter writer(m_summary);
  m_state = End(m_state, Classify(upperName), Event{writer, CountWords(text, length)});
  if (writer.Failed()) m_status = -2;
}

namespace {

// The text read since the previous tag: the text tokens in [first, end) of the document.
// One run is handed over as it stands in the document; several runs (split by a comment or
// a declaration) are joined in a scratch block kept for the whole dispatch, so "a<!-- -->b"
// reads as the one word "ab", as a browser shows it. Entities are
// left as written: they sit inside words or stand as words of their own either way.
class CGapText {
 public:
  explicit CGapText(const CHTMLParser2& document) noexcept
      : m_document(document), m_buffer(document.getBuffer()) {}

  // Starts a new gap at token index first.
  void Begin(std::size_t first) noexcept {
    m_first = first;
    m_runs = 0;
    m_units = 0;
    m_single = nullptr;
  }
  void Add(const SHTMLToken& token) noexcept {
    if (m_runs++ == 0) m_single = m_buffer + token.start;
    m_units += token.length;
  }
  // The gap's text up to token index end; false when the scratch block cannot grow.
  bool Get(std::size_t end, const char16_t*& text, std::size_t& length) {
    length = m_units;
    text = m_runs == 0 ? nullptr : m_single;
    if (m_runs <= 1) return true;
    if (m_scratch.capacity() < m_units) {
      m_scratch.clear();
      if (m_scratch.fill(m_units * 2, u'\0') != 0) return false;
    }
    char16_t* out = m_scratch.data();
    for (std::size_t i = m_first; i < end; ++i) {
      const SHTMLToken* token = m_document.getToken(i);
      if (token->kind != HTML_TOKEN_TEXT) continue;
      std::memcpy(out, m_buffer + token->start, token->length * sizeof(char16_t));
      out += token->length;
    }
    text = m_scratch.c_str();
    return true;
  }

 private:
  const CHTMLParser2& m_document;
  const char16_t* m_buffer;  // Not owned: the document's copy of the page.
  std::size_t m_first = 0;
  std::size_t m_runs = 0;
  std::size_t m_units = 0;
  const char16_t* m_single = nullptr;
  ascommon::usstring m_scratch;
};

bool HasBodyStart(const CHTMLParser2& document) noexcept {
  for (std::size_t i = 0; i < document.getTokenCount(); ++i) {
    const SHTMLToken* token = document.getToken(i);
    if (token->kind == HTML_TOKEN_START_TAG && token->tagId == HTML_TAG_BODY) return true;
  }
  return false;
}

}  // namespace

std::int32_t DispatchHtmlEvents(const CHTMLParser2& document, CAHtmlParseListener& listener) {
  if (!document.isParsed()) return -1;
  const char* const kBody = HTMLTagUpperName(HTML_TAG_BODY);
  // Mail HTML parts are often fragments without a body element; such a document is read as
  // if a body enclosed all of it, so that a fragment still gets a summary.
  const bool synthetic = !HasBodyStart(document);
  if (synthetic) listener.OnStartTag(kBody, nullptr, 0);

  CGapText gap(document);
  gap.Begin(0);
  const std::size_t count = document.getTokenCount();
  const char16_t* text = nullptr;
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const SHTMLToken& token = *document.getToken(i);
    switch (token.kind) {
      case HTML_TOKEN_TEXT:
        gap.Add(token);
        break;
      case HTML_TOKEN_START_TAG:
      case HTML_TOKEN_END_TAG: {
        const char* name = HTMLTagUpperName(token.tagId);
        if (name == nullptr) break;
        if (!gap.Get(i, text, length)) return -2;
        if (token.kind == HTML_TOKEN_START_TAG) {
          listener.OnStartTag(name, text, length);
        } else {
          listener.OnEndTag(name, text, length);
        }
        gap.Begin(i + 1);
        break;
      }
      case HTML_TOKEN_COMMENT:
      case HTML_TOKEN_DECLARATION:
        listener.OnOther(document.getBuffer() + token.start, token.length);
        break;
      default:  // script and style content: not page text
        break;
    }
  }
  if (synthetic) {
    if (!gap.Get(count, text, length)) return -2;
    listener.OnEndTag(kBody, text, length);
  }
  return 0;
}

std::int32_t SummarizeHtml(const CHTMLParser2& document, ascommon::sstring& out) {
  CHtmlSummary summary;
  const std::int32_t status = DispatchHtmlEvents(document, summary);
  if (status == -1) return -1;
  if (out.assign(summary.GetSummary()) != 0) return -2;
  return status != 0 ? status : summary.GetStatus();
}

}  // namespace summarize
