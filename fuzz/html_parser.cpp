// Fuzz target: parseBuffer2 on any UTF-16 text (the input's bytes taken as units), then
// getAllText and a walk over the token and element lists. Checks: every token, text and
// element range lies inside the document and every returned pointer inside its copy; tokens
// come in document order without overlap; entity replacement only shortens a text; the
// lower-case copy has the page's length; a document parses once.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engines/htmlparser2/htmlparser2.h"
#include "fuzz_util.h"

namespace {

struct Document {
  const CHTMLParser2& parser;
  const char16_t* base = parser.getBuffer();
  std::size_t size = parser.getBufferSize();

  void CheckRange(SHTMLRange range) const {
    FUZZ_CHECK(!range.IsPresent() || (range.start <= size && range.length <= size - range.start));
  }
  // A returned text: null with length 0, or inside the copy.
  void CheckPointer(const char16_t* text, std::size_t length) const {
    FUZZ_CHECK(text == nullptr ? length == 0
                               : text >= base && std::size_t(text - base) <= size &&
                                     length <= size - std::size_t(text - base));
  }
  // As CheckPointer; the decoded form is null for a null text, else no longer than it.
  void CheckText(const char16_t* text, std::size_t length, const ascommon::usstring& decoded) const {
    CheckPointer(text, length);
    FUZZ_CHECK(text == nullptr ? decoded.is_null() : decoded.status() == 0 && decoded.length() <= length);
  }
  template <class Element>
  void CheckList(std::size_t count, const Element* (CHTMLParser2::*get)(std::size_t) const noexcept,
                 int slots) const {
    for (std::size_t i = 0; i < count; ++i) {
      const Element* element = (parser.*get)(i);
      FUZZ_CHECK(element != nullptr);
      std::size_t length = 0;
      CheckRange(element->getTagRange());
      CheckRange(element->getContentRange());
      const char16_t* tag = element->getTag(length);  // sets length before it is read
      CheckPointer(tag, length);
      const char16_t* content = element->getContent(length);
      CheckPointer(content, length);
      for (int slot = -1; slot <= CHTMLElement::kMaxKeptAttributes; ++slot) {
        CheckRange(element->getAttributeRange(slot));
        const char16_t* value = element->getAttribute(slot, length);
        if (slot < 0 || slot >= slots) FUZZ_CHECK(value == nullptr);
        CheckText(value, length, element->getDecodedAttribute(slot));
      }
    }
    FUZZ_CHECK((parser.*get)(count) == nullptr);
  }
  void CheckTexts(std::size_t count, const CHTMLText* (CHTMLParser2::*get)(std::size_t) const noexcept) const {
    for (std::size_t i = 0; i < count; ++i) {
      const CHTMLText* run = (parser.*get)(i);
      FUZZ_CHECK(run != nullptr);
      std::size_t length = 0;
      CheckRange(run->getRange());
      const char16_t* text = run->getText(length);
      CheckText(text, length, run->getInterprettedText());
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  std::u16string page(size / 2, u'\0');
  if (!page.empty()) std::memcpy(page.data(), data, page.size() * 2);

  const std::unique_ptr<CHTMLParser2> parser(parseBuffer2(page.data(), page.size(), true, false));
  FUZZ_CHECK(parser != nullptr && parser->isParsed() == !page.empty());
  if (page.empty()) return 0;
  const Document doc{*parser};
  FUZZ_CHECK(doc.size == page.size() && std::memcmp(doc.base, page.data(), page.size() * 2) == 0);
  FUZZ_CHECK(parser->getLowerBuffer()[doc.size] == 0);

  std::uint64_t end = 0, textUnits = 0;
  for (std::size_t i = 0; i < parser->getTokenCount(); ++i) {
    const SHTMLToken* token = parser->getToken(i);
    FUZZ_CHECK(token != nullptr && token->kind <= HTML_TOKEN_RAW_TEXT && token->start >= end);
    end = std::uint64_t{token->start} + token->length;
    FUZZ_CHECK(end <= doc.size);
    textUnits += token->kind == HTML_TOKEN_TEXT ? token->length : 0;
  }
  const ascommon::usstring all = parser->getAllText();
  FUZZ_CHECK(all.status() == 0 && all.length() <= textUnits);

  doc.CheckTexts(parser->getTextCount(), &CHTMLParser2::getText);
  doc.CheckTexts(parser->getTitleCount(), &CHTMLParser2::getTitle);
  doc.CheckList(parser->getLinkCount(), &CHTMLParser2::getLink, CHTMLURL::kAttributeCount);
  for (std::size_t i = 0; i < parser->getLinkCount(); ++i) (void)parser->getLink(i)->getDecodedHref();
  doc.CheckList(parser->getImageCount(), &CHTMLParser2::getImage, CHTMLImage::kAttributeCount);
  doc.CheckList(parser->getMetaCount(), &CHTMLParser2::getMeta, CHTMLMeta::kAttributeCount);
  doc.CheckList(parser->getCommentCount(), &CHTMLParser2::getComment, CHTMLElement::kMaxKeptAttributes);
  doc.CheckList(parser->getFormCount(), &CHTMLParser2::getForm, CHTMLFormElement::kAttributeCount);
  doc.CheckList(parser->getScriptCount(), &CHTMLParser2::getScript, CHTMLScript::kAttributeCount);
  doc.CheckList(parser->getObjectCount(), &CHTMLParser2::getObject, CHTMLElement::kMaxKeptAttributes);

  FUZZ_CHECK(parser->parse(page.data(), page.size(), true, false) == CHTMLParser2::kParseAlreadyParsed);
  return 0;
}
