// Fuzz target: parseBuffer2 on any UTF-16 text (the input's bytes taken as units), then
// getAllText and a walk over the token and element lists. Checks: every token, text and
// element range lies inside the document; tokens come in document order without overlap;
// every returned pointer points into the document's copy; the decoded attributes and
// interpreted texts can be built for every element.
#include <cstdint>
#include <cstring>
#include <string>

#include "engines/htmlparser2/htmlparser2.h"
#include "fuzz_util.h"

namespace {

struct Document {
  const char16_t* base;
  std::size_t size;

  void CheckRange(SHTMLRange range) const {
    if (!range.IsPresent()) return;
    FUZZ_CHECK(range.start <= size && range.length <= size - range.start);
  }
  void CheckPointer(const char16_t* text, std::size_t length) const {
    if (text == nullptr) {
      FUZZ_CHECK(length == 0);
      return;
    }
    FUZZ_CHECK(text >= base && static_cast<std::size_t>(text - base) <= size &&
               length <= size - static_cast<std::size_t>(text - base));
  }
};

void CheckElement(const Document& doc, const CHTMLElement& element, int slots) {
  std::size_t length = 0;
  doc.CheckRange(element.getTagRange());
  doc.CheckPointer(element.getTag(length), length);
  doc.CheckRange(element.getContentRange());
  doc.CheckPointer(element.getContent(length), length);
  for (int slot = -1; slot <= CHTMLElement::kMaxKeptAttributes; ++slot) {
    doc.CheckRange(element.getAttributeRange(slot));
    const char16_t* value = element.getAttribute(slot, length);
    doc.CheckPointer(value, length);
    if (slot < 0 || slot >= slots) FUZZ_CHECK(value == nullptr);
    const ascommon::usstring decoded = element.getDecodedAttribute(slot);
    if (value == nullptr) FUZZ_CHECK(decoded.is_null());
    // Character references only shorten a value.
    if (value != nullptr) FUZZ_CHECK(decoded.length() <= length);
  }
}

template <class Element>
void CheckElements(const Document& doc, std::size_t count,
                   const Element* (CHTMLParser2::*get)(std::size_t) const noexcept,
                   const CHTMLParser2& parser, int slots) {
  for (std::size_t i = 0; i < count; ++i) {
    const Element* element = (parser.*get)(i);
    FUZZ_CHECK(element != nullptr);
    CheckElement(doc, *element, slots);
  }
  FUZZ_CHECK((parser.*get)(count) == nullptr);
}

void CheckTexts(const Document& doc, std::size_t count,
                const CHTMLText* (CHTMLParser2::*get)(std::size_t) const noexcept,
                const CHTMLParser2& parser) {
  for (std::size_t i = 0; i < count; ++i) {
    const CHTMLText* text = (parser.*get)(i);
    FUZZ_CHECK(text != nullptr);
    std::size_t length = 0;
    doc.CheckRange(text->getRange());
    doc.CheckPointer(text->getText(length), length);
    (void)text->getInterprettedText();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  std::u16string page(size / 2, u'\0');
  if (!page.empty()) std::memcpy(page.data(), data, page.size() * 2);

  CHTMLParser2* parser = parseBuffer2(page.data(), page.size(), true, false);
  FUZZ_CHECK(parser != nullptr);
  FUZZ_CHECK(parser->isParsed() == !page.empty());
  if (page.empty()) {
    delete parser;
    return 0;
  }
  const Document doc{parser->getBuffer(), parser->getBufferSize()};
  FUZZ_CHECK(doc.size == page.size());
  FUZZ_CHECK(std::memcmp(doc.base, page.data(), page.size() * 2) == 0);

  std::uint64_t end = 0;
  for (std::size_t i = 0; i < parser->getTokenCount(); ++i) {
    const SHTMLToken* token = parser->getToken(i);
    FUZZ_CHECK(token != nullptr);
    FUZZ_CHECK(token->kind <= HTML_TOKEN_RAW_TEXT);
    FUZZ_CHECK(token->start >= end);
    end = std::uint64_t{token->start} + token->length;
    FUZZ_CHECK(end <= doc.size);
  }

  const ascommon::usstring all = parser->getAllText();
  FUZZ_CHECK(all.status() == 0);

  CheckTexts(doc, parser->getTextCount(), &CHTMLParser2::getText, *parser);
  CheckTexts(doc, parser->getTitleCount(), &CHTMLParser2::getTitle, *parser);
  CheckElements(doc, parser->getLinkCount(), &CHTMLParser2::getLink, *parser,
                CHTMLURL::kAttributeCount);
  for (std::size_t i = 0; i < parser->getLinkCount(); ++i) {
    (void)parser->getLink(i)->getDecodedHref();
  }
  CheckElements(doc, parser->getImageCount(), &CHTMLParser2::getImage, *parser,
                CHTMLImage::kAttributeCount);
  CheckElements(doc, parser->getMetaCount(), &CHTMLParser2::getMeta, *parser,
                CHTMLMeta::kAttributeCount);
  CheckElements(doc, parser->getCommentCount(), &CHTMLParser2::getComment, *parser,
                CHTMLElement::kMaxKeptAttributes);
  CheckElements(doc, parser->getFormCount(), &CHTMLParser2::getForm, *parser,
                CHTMLFormElement::kAttributeCount);
  CheckElements(doc, parser->getScriptCount(), &CHTMLParser2::getScript, *parser,
                CHTMLScript::kAttributeCount);
  CheckElements(doc, parser->getObjectCount(), &CHTMLParser2::getObject, *parser,
                CHTMLElement::kMaxKeptAttributes);

  // A document parses once.
  FUZZ_CHECK(parser->parse(page.data(), page.size(), true, false) ==
             CHTMLParser2::kParseAlreadyParsed);
  delete parser;
  return 0;
}
