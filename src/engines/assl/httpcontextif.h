// CHttpContextInterface: the rule context over one HTTP item. Init reads the item's
// blackbox (page text and raw content, plain and lower-cased, wide and UTF-8; the HTML
// parser; the URL record and text; the content size) and keeps pointers into it: nothing
// is copied but the URL's UTF-8 form.
//
// The seven element texts (where codes 282..288) are built on their first request, from the
// parser's element lists, one item per line ("\n" between items, none at the end; empty
// values are left out), as UTF-8:
//   282 title     the text of each title element, entities replaced;
//   283 meta      the name, http-equiv and content values of each meta tag;
//   284 forms     the action, name, type, value, src and alt attributes of each form and
//                 form control (input, button, select, textarea, isindex);
//   285 comments  the text inside each comment;
//   286 images    the src and alt of each image;
//   287 links     the decoded href of each a, link and area;
//   288 scripts   the src attribute and the code of each script.
// Attribute values have their named entities replaced. A URL of kMaxUrlUnits units or more
// is not converted and leaves every element text absent ("conversion error %S", level 3).
//
// Ownership: the item, its blackbox and the parser must outlive the context; the context
// owns the URL text and the element texts it built. Threads: one thread per context (the
// lazily built texts are not guarded).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/acontextif.h"

namespace assl {

class CHttpContextInterface : public ContextInterface {
 public:
  // URLs this long or longer are not converted (nor the element texts built).
  static constexpr std::size_t kMaxUrlUnits = 2048;

  CHttpContextInterface() noexcept = default;
  ~CHttpContextInterface() override = default;

  // ASBadPtrException "invalid pitem input" for a null item, then, in this order, for the
  // first missing key: 30001 / 30010 "invalid pointer to the parsed html wide content",
  // 30002 / 30008 "... parsed html utf8 content", 30004 / 30011 "... raw wide content",
  // 30005 / 30009 and the parser (30007) "... raw utf8 content", 30012 "invalid pointer to
  // the url info"; the blackbox's own exceptions for 30006 and the URL text (12001).
  void Init(AItem* item) override;
  std::int32_t GetType() const noexcept override { return kHttp; }

  CTextView GetUrl() const noexcept override;
  const CHTMLParser2* GetHtmlParser() const noexcept override { return m_parser; }
  CTextView GetHtmlContent(bool lower) const noexcept override {
    return Measured(lower ? m_rawLower : m_raw);
  }
  CTextView GetParsedContent(bool lower) const noexcept override {
    return Measured(lower ? m_parsedLower : m_parsed);
  }
  // Absent for a code outside 282..288, after a long URL, or when the text cannot be
  // converted ("error: could not convert from UCS to UTF-8 - invalid input [%S]").
  // ASMemException "memory problems" when it cannot be built.
  CTextView GetElementText(std::int32_t whereCode) const override;
  std::int32_t GetContentSize() const override { return m_contentSize; }

 private:
  static constexpr int kElementKinds = 7;
  // Size of a page text not measured yet: each of the four is measured on first request,
  // since most rule sets read one or two of them.
  static constexpr std::size_t kUnmeasured = static_cast<std::size_t>(-1);
  static CTextView Measured(CTextView& text) noexcept;
  void BuildElementText(int kind) const;

  const CHTMLParser2* m_parser = nullptr;  // Not owned.
  mutable CTextView m_parsed, m_parsedLower, m_raw, m_rawLower;
  std::int32_t m_contentSize = 0;
  ascommon::sstring m_url;  // null when absent
  bool m_urlTooLong = false;
  mutable bool m_built[kElementKinds] = {};
  mutable ascommon::sstring m_elements[kElementKinds];  // null when absent
};

}  // namespace assl
