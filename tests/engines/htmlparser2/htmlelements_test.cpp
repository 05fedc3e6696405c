// Element accessors: absent, empty and out-of-range attributes, and decoded values.
#include "engines/htmlparser2/htmlelements.h"

#include <gtest/gtest.h>

#include "html_test_util.h"

namespace {

using htmltest::ParsedPage;
using htmltest::Utf8;

// Text of an accessor that returns a pointer and sets a length.
template <class Accessor>
std::string Text(Accessor accessor) {
  std::size_t length = 0;
  const char16_t* units = accessor(length);
  return Utf8(units, length);
}

TEST(HTMLElementsTest, AbsentEmptyAndOutOfRangeAttributes) {
  ParsedPage page("<input type=checkbox checked name=\"\">");
  const CHTMLFormElement& input = *page.document->getForm(0);
  EXPECT_EQ("<null>", Text([&](std::size_t& n) { return input.getValue(n); }));
  EXPECT_EQ("", Text([&](std::size_t& n) { return input.getName(n); }));
  EXPECT_TRUE(input.hasAttribute(CHTMLFormElement::kName));
  for (int slot : {-1, CHTMLElement::kMaxKeptAttributes}) {
    EXPECT_EQ("<null>", Text([&](std::size_t& n) { return input.getAttribute(slot, n); }));
  }
  EXPECT_TRUE(input.getDecodedAttribute(CHTMLFormElement::kValue).is_null());
  EXPECT_EQ("", Utf8(input.getDecodedAttribute(CHTMLFormElement::kName)));
  EXPECT_EQ("<null>", Text([&](std::size_t& n) { return input.getContent(n); }));
  const CHTMLURL link;  // A default element answers empty.
  EXPECT_EQ("<null>", Text([&](std::size_t& n) { return link.getTag(n); }));
  EXPECT_TRUE(link.getDecodedHref().is_null());
}

TEST(HTMLElementsTest, DecodedValuesKeepTheOriginalCase) {
  ParsedPage page(
      "<IMG SRC=\"Pics/A&amp;B.PNG\" Alt='Caf&eacute;'>"
      "<meta NAME=Description CONTENT=\"Fish &amp; Chips\"><p>&eacute;l&egrave;ve &foo;");
  const CHTMLImage& image = *page.document->getImage(0);
  EXPECT_EQ("Pics/A&amp;B.PNG", Text([&](std::size_t& n) { return image.getSrc(n); }));
  EXPECT_EQ("Pics/A&B.PNG", Utf8(image.getDecodedAttribute(CHTMLImage::kSrc)));
  EXPECT_EQ("Café", Utf8(image.getDecodedAttribute(CHTMLImage::kAlt)));
  const CHTMLMeta& meta = *page.document->getMeta(0);
  EXPECT_EQ("Fish &amp; Chips", Text([&](std::size_t& n) { return meta.getContent(n); }));
  EXPECT_EQ("Fish & Chips", Utf8(meta.getDecodedAttribute(CHTMLMeta::kContent)));
  const CHTMLText& run = *page.document->getText(0);
  EXPECT_EQ("&eacute;l&egrave;ve &foo;", Text([&](std::size_t& n) { return run.getText(n); }));
  EXPECT_EQ("élève &foo;", Utf8(run.getInterprettedText()));
}

}  // namespace
