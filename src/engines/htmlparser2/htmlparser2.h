// CHTMLParser2: one HTML page as a document: its tokens, its text and the element lists that
// the signature engine's HTTP context queries (links, images, meta tags, titles, comments,
// forms and inputs, scripts, frames and objects).
//
// Parsing copies the page (so the caller's buffer may go away afterwards) and makes a
// lower-case copy on which all tag and attribute matching is done. Tags are read as
// browsers read them (quoted, unquoted and missing attribute values; a tag or quote left
// open at the end of the page is dropped with the rest of the page; an unterminated comment
// runs to the end; script and style content is literal up to its end tag), with the rules of
// this system: the known elements are those of HTML 4.01 plus embed and marquee; a '<' that
// does not open a known element, its end tag, a comment ("<!--") or a declaration
// ("<!doctype") is text ("<section>", "<?xml ...?>", "<![CDATA[" stay in the page text); an
// attribute is a blank followed by its name. The lower-case copy is Unicode's simple lower
// case of every character (ascommon::ToLower), the same length as the page. Tokenising
// costs O(page length) time and memory whatever the input.
//
// Bounds: pages longer than kMaxInputUnits are parsed up to that length; each element list
// keeps at most kMaxListElements elements (further ones are still tokenised, not listed);
// a tag's attributes after the first kMaxAttributesPerTag are skipped. The lists are flat,
// so nesting depth costs nothing.
//
// Ownership: the document owns its copies of the page, its tokens and elements; elements
// and token ranges point into the document and live as long as it. Token listeners are
// not owned. Derives CBlackBoxObject, so an item blackbox can hold it as a generic object.
// Failures are traced (in Romanian, as this component always did) and reported by status
// codes or empty results; nothing here throws.
// Threads: parse once from one thread; afterwards every const operation is safe from any
// number of threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/blackboxobject.h"
#include "common/list.h"
#include "common/ustring.h"
#include "engines/htmlparser2/htmlelements.h"
#include "engines/htmlparser2/htmltags.h"
#include "engines/htmlparser2/htmlvector.h"

class CHTMLParser2;

// Receives every token of a document, in document order, after the page is tokenised.
class CAHTMLTokenListener : public ascommon::CASAllocated {
 public:
  virtual ~CAHTMLTokenListener() = default;
  // The token's range is an offset into document.getBuffer() (and getLowerBuffer()). An
  // exception thrown here stops the dispatch ("Eroare in HTML EVENTS DISPATCHER").
  virtual void OnToken(const CHTMLParser2& document, const SHTMLToken& token) = 0;
};

class CHTMLParser2 : public ascommon::CBlackBoxObject {
 public:
  // Longest page parsed (UTF-16 units); ranges are 32-bit offsets below kHTMLAbsent.
  static constexpr std::size_t kMaxInputUnits = 0x7FFFFFFF;
  // Most elements kept in one element list (about 80 MB of records for the largest list).
  static constexpr std::size_t kMaxListElements = std::size_t{1} << 20;
  // Attributes of one tag that are looked at; later ones are skipped.
  static constexpr std::size_t kMaxAttributesPerTag = 1024;

  // Status codes of parse.
  static constexpr std::int32_t kParseEmptyInput = -550;
  static constexpr std::int32_t kParseAlreadyParsed = -551;
  static constexpr std::int32_t kParseNoMemory = -10;

  CHTMLParser2() noexcept = default;
  ~CHTMLParser2() override;
  CHTMLParser2(const CHTMLParser2&) = delete;
  CHTMLParser2& operator=(const CHTMLParser2&) = delete;

  // Parses bufferSize units of bufferHTML (zero units inside are ordinary characters) and
  // then hands every token to the registered listeners. Returns 0; kParseEmptyInput (-550)
  // for a null or empty text; kParseAlreadyParsed (-551) when this document was parsed
  // before; kParseNoMemory (-10) when the copies of the page cannot be allocated; -2 when
  // the token or element lists cannot grow (the document then holds what was read before).
  // makeDOM and parseCSS are recorded; the lists are built whatever their values.
  std::int32_t parse(const char16_t* bufferHTML, std::size_t bufferSize, bool makeDOM,
                     bool parseCSS);

  bool isParsed() const noexcept { return m_parsed; }
  bool getMakeDOM() const noexcept { return m_makeDOM; }
  bool getParseCSS() const noexcept { return m_parseCSS; }

  // The document's copy of the page and its lower-case twin (same length, both
  // zero-terminated); null before a successful parse.
  const char16_t* getBuffer() const noexcept { return m_buffer; }
  const char16_t* getLowerBuffer() const noexcept { return m_lower; }
  std::size_t getBufferSize() const noexcept { return m_size; }

  // The page text: the text runs in order, named entities replaced, nothing put between
  // two runs ("b<b>o</b>ld" reads "bold", "<p>a</p><p>b</p>" reads "ab"). Script, style and
  // comment contents are not page text. Allocation failure traces and gives a null string
  // with status -2. O(page length).
  ascommon::usstring getAllText() const;

  // Tokens in document order; element lists in document order. Index accessors return
  // null for an index out of range. O(1).
  std::size_t getTokenCount() const noexcept { return m_tokens.Size(); }
  const SHTMLToken* getToken(std::size_t index) const noexcept { return m_tokens.At(index); }
  // Text runs, including the content of titles and textareas.
  std::size_t getTextCount() const noexcept { return m_texts.Size(); }
  const CHTMLText* getText(std::size_t index) const noexcept { return m_texts.At(index); }
  std::size_t getLinkCount() const noexcept { return m_links.Size(); }
  const CHTMLURL* getLink(std::size_t index) const noexcept { return m_links.At(index); }
  std::size_t getImageCount() const noexcept { return m_images.Size(); }
  const CHTMLImage* getImage(std::size_t index) const noexcept { return m_images.At(index); }
  std::size_t getMetaCount() const noexcept { return m_metas.Size(); }
  const CHTMLMeta* getMeta(std::size_t index) const noexcept { return m_metas.At(index); }
  // The text runs of title elements (also in the text runs).
  std::size_t getTitleCount() const noexcept { return m_titles.Size(); }
  const CHTMLText* getTitle(std::size_t index) const noexcept { return m_titles.At(index); }
  std::size_t getCommentCount() const noexcept { return m_comments.Size(); }
  const CHTMLComment* getComment(std::size_t index) const noexcept { return m_comments.At(index); }
  // Forms and inputs.
  std::size_t getFormCount() const noexcept { return m_forms.Size(); }
  const CHTMLFormElement* getForm(std::size_t index) const noexcept { return m_forms.At(index); }
  std::size_t getScriptCount() const noexcept { return m_scripts.Size(); }
  const CHTMLScript* getScript(std::size_t index) const noexcept { return m_scripts.At(index); }
  // Frames and embedded objects.
  std::size_t getObjectCount() const noexcept { return m_objects.Size(); }
  const CHTMLObject* getObject(std::size_t index) const noexcept { return m_objects.At(index); }

  // Registers a listener (not owned; it must outlive the next parse). Returns 0, -1 for
  // null, -2 when the list cannot grow.
  std::int32_t addTokenListener(CAHTMLTokenListener* pListener);

 private:
  friend class html_detail::CHTMLTokenizer;

  // Hands every token to every listener; stops at the first exception.
  void dispatchTokens() const;

  bool m_parsed = false;
  bool m_makeDOM = false;
  bool m_parseCSS = false;
  char16_t* m_buffer = nullptr;  // Owned: one block holding the copy and, behind it, m_lower.
  char16_t* m_lower = nullptr;   // Inside m_buffer's block.
  std::size_t m_size = 0;

  html_detail::TPodVector<SHTMLToken> m_tokens;
  html_detail::TPodVector<CHTMLText> m_texts;
  html_detail::TPodVector<CHTMLURL> m_links;
  html_detail::TPodVector<CHTMLImage> m_images;
  html_detail::TPodVector<CHTMLMeta> m_metas;
  html_detail::TPodVector<CHTMLText> m_titles;
  html_detail::TPodVector<CHTMLComment> m_comments;
  html_detail::TPodVector<CHTMLFormElement> m_forms;
  html_detail::TPodVector<CHTMLScript> m_scripts;
  html_detail::TPodVector<CHTMLObject> m_objects;
  ascommon::CList<CAHTMLTokenListener*> m_listeners;  // Listeners not owned.
};

// Creates a document and parses the text into it (CHTMLParser2::parse; its status is not
// reported). Returns the document, owned by the caller (delete it), or null when it cannot
// be allocated.
CHTMLParser2* parseBuffer2(const char16_t* bufferHTML, std::size_t bufferSize, bool makeDOM,
                           bool parseCSS);
