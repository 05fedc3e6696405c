// The HTTP context: Init's checks in their order, the element texts of a page, and the
// long-URL case that leaves the URL and the element texts out.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "aitem.h"
#include "common/urlutils.h"
#include "engines/assl/httpcontextif.h"
#include "engines/htmlparser2/htmlparser2.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

constexpr char16_t kPage[] =
    u"<title>T &amp; U</title><meta name=\"k\" content=\"v\"><!--c--><img src=\"i.png\" alt=\"A\">"
    u"<a href=\"x?a=1&amp;b=2\">l</a><a name=n>m</a><form action=\"/f\"><input name=\"q\" value=\"\xe9\"></form>"
    u"<script src=\"s.js\">code()</script>";

struct Page {
  std::unique_ptr<CHTMLParser2> parser{parseBuffer2(kPage, std::char_traits<char16_t>::length(kPage), false, false)};
  ascommon::CParsedURL url;
  AItem item;

  // Adds the item field of the given key (the texts' content does not matter here).
  void Add(std::uint32_t key, const std::u16string& urlText) {
    ascommon::CBlackBox& bb = item.GetBlackBox();
    if (key == 30007) bb.SetGenericObject(key, parser.get());
    else if (key == 30012) bb.SetGenericObject(key, &url);
    else if (key == 30006) bb.SetInt(7, key, true);
    else if (key == 12001) bb.SetUCharBuf(urlText.c_str(), key, true);
    else if (key == 30001 || key == 30004 || key == 30010 || key == 30011) bb.SetUCharBuf(u"w", key, true);
    else bb.SetCharBuf("text", key, true);
  }
};

TEST(HttpContextTest, InitChecksTheFieldsInOrderAndBuildsTheElementTexts) {
  const struct {
    std::uint32_t key;
    const char* message;
  } rows[] = {
      {30001, "invalid pointer to the parsed html wide content"}, {30002, "invalid pointer to the parsed html utf8 content"},
      {30004, "invalid pointer to the raw wide content"}, {30005, "invalid pointer to the raw utf8 content"},
      {30010, "invalid pointer to the parsed html wide content"}, {30008, "invalid pointer to the parsed html utf8 content"},
      {30011, "invalid pointer to the raw wide content"}, {30009, "invalid pointer to the raw utf8 content"},
      {30007, "invalid pointer to the raw utf8 content"}, {30012, "invalid pointer to the url info"},
      {30006, "-501"}, {12001, "-501"},
  };
  assl::CHttpContextInterface context;
  EXPECT_NE(zztest::WhatOf([&] { context.Init(nullptr); }).find("invalid pitem input"), std::string::npos);
  Page page;
  for (const auto& row : rows) {
    EXPECT_NE(zztest::WhatOf([&] { context.Init(&page.item); }).find(row.message), std::string::npos) << row.key;
    page.Add(row.key, u"http://a.test/p");
  }
  context.Init(&page.item);
  EXPECT_EQ(std::string(context.GetUrl().data), "http://a.test/p");
  EXPECT_EQ(context.GetParsedContent(true).size, 4u);
  EXPECT_EQ(context.GetContentSize(), 7);
  const char* expected[] = {"T & U", "k\nv", "/f\nq\n\xc3\xa9", "c", "i.png\nA", "x?a=1&b=2", "s.js\ncode()"};
  for (int code = 282; code <= 288; ++code) {
    const assl::CTextView text = context.GetElementText(code);
    EXPECT_EQ(std::string(text.data, text.size), expected[code - 282]) << code;
  }
  EXPECT_FALSE(context.GetElementText(281).IsPresent());
}

TEST(HttpContextTest, AUrlOf2048UnitsLeavesTheUrlAndElementTextsOut) {
  for (const std::size_t length : {2047, 2048}) {
    Page page;
    for (std::uint32_t key : {30001, 30002, 30004, 30005, 30010, 30008, 30011, 30009, 30007, 30012, 30006, 12001}) {
      page.Add(key, std::u16string(length, u'a'));
    }
    zztest::TraceCapture trace;
    assl::CHttpContextInterface context;
    context.Init(&page.item);
    const bool converted = length < 2048;
    EXPECT_EQ(trace.Count("conversion error aaaa"), converted ? 0 : 1);
    EXPECT_EQ(context.GetUrl().size, converted ? length : 0u);
    EXPECT_EQ(context.GetElementText(282).IsPresent(), converted);
  }
}

}  // namespace
