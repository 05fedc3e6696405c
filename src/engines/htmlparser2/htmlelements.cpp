// Element accessors and the decoded forms of texts and attribute values.
// Tested by htmlelements_test.cpp.
#include "engines/htmlparser2/htmlelements.h"

#include "common/astrace.h"
#include "engines/htmlparser2/htmlentities.h"

namespace html_detail {

ascommon::usstring DecodeToString(const char16_t* text, std::size_t length,
                                  const char* failureMessage) {
  ascommon::usstring result;
  // One unit more than the text: decoding never lengthens it, and the terminator fits.
  if (result.fill(length + 1, 0) != 0) {
    AS_TRACE(1, "%s", failureMessage);
    result.set_status(-2);
    return result;
  }
  const std::size_t written = length == 0 ? 0 : HTMLDecodeText(text, length, result.data());
  result.set_length(written);
  return result;
}

}  // namespace html_detail

ascommon::usstring CHTMLText::getInterprettedText() const {
  std::size_t length = 0;
  const char16_t* text = getText(length);
  if (text == nullptr) return ascommon::usstring();
  return html_detail::DecodeToString(text, length,
                                     "Eroare alocare in CHTMLText::getInterprettedText();");
}

const char16_t* CHTMLElement::getAttribute(int slot, std::size_t& length) const noexcept {
  const SHTMLRange range = getAttributeRange(slot);
  length = range.IsPresent() ? range.length : 0;
  return range.IsPresent() ? m_pText + range.start : nullptr;
}

SHTMLRange CHTMLElement::getAttributeRange(int slot) const noexcept {
  if (slot < 0 || slot >= kMaxKeptAttributes || m_pText == nullptr) return SHTMLRange();
  return m_attributes[slot];
}

ascommon::usstring CHTMLElement::getDecodedAttribute(int slot) const {
  std::size_t length = 0;
  const char16_t* value = getAttribute(slot, length);
  if (value == nullptr) return ascommon::usstring();
  return html_detail::DecodeToString(value, length,
                                     "Eroare alocare in CHTMLElement::getDecodedAttribute");
}

const char16_t* CHTMLElement::getContent(std::size_t& length) const noexcept {
  length = m_content.IsPresent() ? m_content.length : 0;
  return m_content.IsPresent() && m_pText != nullptr ? m_pText + m_content.start : nullptr;
}

ascommon::usstring CHTMLURL::getDecodedHref() const {
  std::size_t length = 0;
  const char16_t* href = getHref(length);
  if (href == nullptr) return ascommon::usstring();
  return html_detail::DecodeToString(href, length, "Eroare alocare in CHTMLURL::getDecodedHref");
}
