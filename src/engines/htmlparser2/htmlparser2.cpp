// The document: page copies, tokenising (htmltokenizer.cpp), listener dispatch and the page
// text. parse costs O(page length) time and about 4 bytes of copies per page unit plus the
// token and element records; getAllText is one pass over the text runs into one block.
// Tested by htmlparser2_test.cpp.
#include "engines/htmlparser2/htmlparser2.h"

#include <cstring>
#include <new>

#include "common/astrace.h"
#include "engines/htmlparser2/htmlentities.h"
#include "engines/htmlparser2/htmlscan.h"
#include "engines/htmlparser2/htmltokenizer.h"

CHTMLParser2::~CHTMLParser2() { ascommon::as_free(m_buffer); }

std::int32_t CHTMLParser2::parse(const char16_t* bufferHTML, std::size_t bufferSize,
                                 bool makeDOM, bool parseCSS) {
  if (bufferHTML == nullptr || bufferSize == 0) {
    AS_TRACE(3, "Input incorect. buffer vid sau null");
    return kParseEmptyInput;
  }
  if (m_parsed) {
    AS_TRACE(3, "A mai fost parsat o data pe ac obiect");
    return kParseAlreadyParsed;
  }
  m_makeDOM = makeDOM;
  m_parseCSS = parseCSS;

  const std::size_t size = bufferSize < kMaxInputUnits ? bufferSize : kMaxInputUnits;
  // The copy and its lower-case twin share one block, each with its terminator.
  char16_t* block = ascommon::as_alloc_array_nt<char16_t>(2 * (size + 1));
  if (block == nullptr) {
    AS_TRACE(1, "Err alloc bufferHTMLLower");
    return kParseNoMemory;
  }
  char16_t* lower = block + size + 1;
  html_detail::CopyAndLower(bufferHTML, size, block, lower);
  block[size] = 0;
  lower[size] = 0;

  m_buffer = block;
  m_lower = lower;
  m_size = size;
  m_parsed = true;

  const std::int32_t status = html_detail::CHTMLTokenizer(*this).Run();
  dispatchTokens();
  return status;
}

void CHTMLParser2::dispatchTokens() const {
  if (m_listeners.IsEmpty()) return;
  try {
    for (std::size_t t = 0; t < m_tokens.Size(); ++t) {
      for (auto pos = m_listeners.GetHeadPosition(); pos != nullptr;) {
        m_listeners.GetNext(pos)->OnToken(*this, m_tokens[t]);
      }
    }
  } catch (...) {
    AS_TRACE(1, "Eroare in HTML EVENTS DISPATCHER");
  }
}

std::int32_t CHTMLParser2::addTokenListener(CAHTMLTokenListener* pListener) {
  if (pListener == nullptr) return -1;
  return m_listeners.AddTail(pListener);
}

ascommon::usstring CHTMLParser2::getAllText() const {
  ascommon::usstring text;
  // Decoding never lengthens a run.
  std::size_t bound = 0;
  for (std::size_t r = 0; r < m_texts.Size(); ++r) bound += m_texts[r].getRange().length;
  if (text.fill(bound + 1, 0) != 0) {
    AS_TRACE(1, "Eroare alocare in CHTMLParser2::getAllText");
    text.set_status(-2);
    return text;
  }
  char16_t* out = text.data();
  std::size_t written = 0;
  for (std::size_t r = 0; r < m_texts.Size(); ++r) {
    std::size_t length = 0;
    const char16_t* units = m_texts[r].getText(length);
    written += HTMLDecodeText(units, length, out + written);
  }
  text.set_length(written);
  return text;
}

CHTMLParser2* parseBuffer2(const char16_t* bufferHTML, std::size_t bufferSize, bool makeDOM,
                           bool parseCSS) {
  CHTMLParser2* document = new (std::nothrow) CHTMLParser2();
  if (document == nullptr) {
    AS_TRACE(3,
             "Eroare alocare in CHTMLParser2* parseBuffer2(const char_t * bufferHTML, size_t "
             "bufferSize, bool makeDOM, bool parseCSS)");
    return nullptr;
  }
  document->parse(bufferHTML, bufferSize, makeDOM, parseCSS);
  return document;
}
