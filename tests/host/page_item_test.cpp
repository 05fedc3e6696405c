// The item of one page: every key the host fills, in the kind the filters read it with, and
// the parser object released with the page item.
#include "page_item.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "asfn/asfn.h"
#include "common/blackbox.h"
#include "common/urlutils.h"
#include "itemfields.h"
#include "zzplat/paths.h"

namespace zzhost {
namespace {

namespace ItemField = nsHttpModules::ItemField;
using ascommon::CBlackBox;

std::string Utf8(const char16_t* text) { return zzplat::Utf16ToUtf8Lenient(text); }

TEST(PageItemTest, FillsEveryKeyTheFiltersRead) {
  // Windows-1252 by its meta tag; entities, a script and upper case in text and markup.
  const std::string head =
      "<HTML><META http-equiv=Content-Type content='text/html; charset=windows-1252'>";
  const std::string tail = "</TITLE><SCRIPT>var X = 1;</SCRIPT><P>Hello &amp; WELCOME</P></HTML>";
  const std::string bytes = head + "<TITLE>Caf&eacute; \x93NEWS\x94" + tail;
  CPageItem page(bytes, "http://News.Example.test/Index.html?A=1", 42);
  CBlackBox& bb = page.Item().GetBlackBox();

  // Page text, page, and their lower-case forms, each wide and in UTF-8.
  std::string texts[4];
  const std::pair<std::uint32_t, std::uint32_t> keys[] = {
      {ItemField::kPageText, ItemField::kPageTextUtf8},
      {ItemField::kRawContent, ItemField::kRawContentUtf8},
      {ItemField::kPageTextLower, ItemField::kPageTextLowerUtf8},
      {ItemField::kRawContentLower, ItemField::kRawContentLowerUtf8}};
  for (int i = 0; i < 4; ++i) {
    texts[i] = Utf8(bb.GetUCharBuf(keys[i].first));
    EXPECT_EQ(bb.GetCharBuf(keys[i].second), texts[i]) << keys[i].second;
    if (i < 2) continue;
    for (char& c : texts[i - 2]) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    EXPECT_EQ(texts[i], texts[i - 2]) << keys[i].first << " is the lower case of the text above";
  }
  EXPECT_NE(texts[0].find("caf\xC3\xA9 \xE2\x80\x9Cnews\xE2\x80\x9D"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("hello & welcome"), std::string::npos) << texts[0];
  EXPECT_EQ(texts[0].find("var x"), std::string::npos) << texts[0];
  EXPECT_EQ(texts[3],
            "<html><meta http-equiv=content-type content='text/html; charset=windows-1252'>"
            "<title>caf&eacute; \xE2\x80\x9Cnews\xE2\x80\x9D</title><script>var x = 1;"
            "</script><p>hello &amp; welcome</p></html>");

  EXPECT_EQ(bb.GetInt(ItemField::kContentSize), static_cast<int>(bytes.size()));
  EXPECT_EQ(bb.GetInt(ItemField::kBayesThreshold), 42);
  EXPECT_EQ(bb.GetGenericObject(ItemField::kHtmlParser), &page.Document());
  EXPECT_EQ(Utf8(bb.GetUCharBuf(ItemField::kUrlText)), "http://News.Example.test/Index.html?A=1");
  EXPECT_NE(dynamic_cast<const ascommon::CParsedURL*>(bb.GetGenericObject(ItemField::kUrlInfo)), nullptr);
  EXPECT_EQ(page.HostIds(), (std::vector<std::uint32_t>{12001, 30001, 30002, 30004, 30005, 30006, 30007,
                                                        30008, 30009, 30010, 30011, 30012, 31003}));
  EXPECT_EQ(page.Ext().GetCount(), 0u);
}

// An empty page and an address the URL parser refuses: the texts are there and empty, the
// URL record is left out (the list filters report that themselves). A UTF-16 page's size is
// its bytes, mark included. Nothing outlives the page item.
TEST(PageItemTest, EmptyPagesNoUrlRecordAndNothingLeft) {
  ascommon::GetDoubleExtensions();  // the process-wide suffix table lives until exit
  const std::int64_t before = asfn_live_blocks();
  {
    CPageItem empty("", "", 50);
    CBlackBox& bb = empty.Item().GetBlackBox();
    EXPECT_EQ(bb.GetUCharBuf(ItemField::kRawContentLower), std::u16string());
    EXPECT_STREQ(bb.GetCharBuf(ItemField::kPageTextLowerUtf8), "");
    EXPECT_EQ(bb.GetKind(ItemField::kUrlInfo), static_cast<std::uint32_t>(CBlackBox::kNone));
    EXPECT_EQ(empty.HostIds().size(), 12u);
    CPageItem wide(std::string("\xFF\xFE<\0p\0>\0h\0i\0", 12), "http://example.test/", 50);
    EXPECT_EQ(wide.Item().GetBlackBox().GetInt(ItemField::kContentSize), 12);
    EXPECT_STREQ(wide.Item().GetBlackBox().GetCharBuf(ItemField::kRawContentUtf8), "<p>hi");
  }
  EXPECT_EQ(asfn_live_blocks(), before);
}

}  // namespace
}  // namespace zzhost
