// The item of one page: every key the host fills, in the kind the filters read it with, and
// the parser object released with the page item.
#include "page_item.h"

#include <gtest/gtest.h>

#include "common/urlutils.h"

#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "common/blackbox.h"
#include "itemfields.h"
#include "zzplat/paths.h"

namespace zzhost {
namespace {

namespace ItemField = nsHttpModules::ItemField;
using ascommon::CBlackBox;

std::string Utf8(const char16_t* text) { return zzplat::Utf16ToUtf8Lenient(text); }

std::string Piece(void (ascommon::CParsedURL::*get)(const char*&, std::size_t&) const noexcept,
                  const ascommon::CParsedURL& url) {
  const char* text = nullptr;
  std::size_t length = 0;
  (url.*get)(text, length);
  return text == nullptr ? "(null)" : std::string(text, length);
}

TEST(PageItemTest, FillsEveryKeyTheFiltersRead) {
  // Windows-1252 by its meta tag; entities, a script and upper case in text and markup.
  const std::string bytes =
      "<HTML><META http-equiv=Content-Type content='text/html; charset=windows-1252'>"
      "<TITLE>Caf&eacute; \x93NEWS\x94</TITLE><SCRIPT>var X = 1;</SCRIPT>"
      "<P>Hello &amp; WELCOME</P></HTML>";
  CPageItem page(bytes, "http://News.Example.test/Index.html?A=1", 42);
  CBlackBox& bb = page.Item().GetBlackBox();

  EXPECT_EQ(page.Page().charset, "windows-1252");
  const std::string text = Utf8(bb.GetUCharBuf(ItemField::kPageText));
  EXPECT_NE(text.find("Caf\xC3\xA9 \xE2\x80\x9CNEWS\xE2\x80\x9D"), std::string::npos) << text;
  EXPECT_NE(text.find("Hello & WELCOME"), std::string::npos) << text;
  EXPECT_EQ(text.find("var X"), std::string::npos) << text;
  EXPECT_EQ(bb.GetCharBuf(ItemField::kPageTextUtf8), text);

  const std::string raw = Utf8(bb.GetUCharBuf(ItemField::kRawContent));
  EXPECT_TRUE(raw.ends_with("<P>Hello &amp; WELCOME</P></HTML>")) << raw;
  EXPECT_NE(raw.find("<TITLE>Caf&eacute; \xE2\x80\x9CNEWS\xE2\x80\x9D</TITLE>"), std::string::npos);
  EXPECT_EQ(bb.GetCharBuf(ItemField::kRawContentUtf8), raw);

  // Lower-cased forms: ASCII letters folded, and the wide and UTF-8 forms agree.
  const std::string lowerText = Utf8(bb.GetUCharBuf(ItemField::kPageTextLower));
  const std::string lowerRaw = Utf8(bb.GetUCharBuf(ItemField::kRawContentLower));
  EXPECT_NE(lowerText.find("hello & welcome"), std::string::npos) << lowerText;
  EXPECT_NE(lowerRaw.find("<script>var x = 1;</script>"), std::string::npos) << lowerRaw;
  EXPECT_EQ(bb.GetCharBuf(ItemField::kPageTextLowerUtf8), lowerText);
  EXPECT_EQ(bb.GetCharBuf(ItemField::kRawContentLowerUtf8), lowerRaw);

  EXPECT_EQ(bb.GetInt(ItemField::kContentSize), static_cast<int>(bytes.size()));
  EXPECT_EQ(bb.GetGenericObject(ItemField::kHtmlParser), &page.Document());
  EXPECT_EQ(page.Document().getTitleCount(), 1u);
  const auto* url =
      dynamic_cast<const ascommon::CParsedURL*>(bb.GetGenericObject(ItemField::kUrlInfo));
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(Piece(&ascommon::CParsedURL::GetHostLower, *url), "news.example.test");
  EXPECT_EQ(Piece(&ascommon::CParsedURL::GetDomainLower, *url), "example.test");
  EXPECT_EQ(Utf8(bb.GetUCharBuf(ItemField::kUrlText)), "http://News.Example.test/Index.html?A=1");
  EXPECT_EQ(bb.GetInt(ItemField::kBayesThreshold), 42);

  const std::vector<std::uint32_t> expectedIds = {
      ItemField::kUrlText,        ItemField::kPageText,          ItemField::kPageTextUtf8,
      ItemField::kRawContent,     ItemField::kRawContentUtf8,    ItemField::kContentSize,
      ItemField::kHtmlParser,     ItemField::kPageTextLowerUtf8, ItemField::kRawContentLowerUtf8,
      ItemField::kPageTextLower,  ItemField::kRawContentLower,   ItemField::kUrlInfo,
      ItemField::kBayesThreshold,
  };
  EXPECT_EQ(page.HostIds(), expectedIds);
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
