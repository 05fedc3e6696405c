// Page decoding: which charset wins (mark, meta tag, UTF-8, Windows-1252), the meta pre-scan
// on friendly and hostile markup, and the decoders' handling of malformed input (random
// and long hostile markup: fuzz/page_decoder.cpp).
#include "page_decoder.h"

#include <gtest/gtest.h>

#include <string>

namespace zzhost {
namespace {

// No zero unit, no unpaired surrogate.
bool IsWellFormed(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit == 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

// The page's text ends with `tail` (the markup before it is ASCII).
TEST(PageDecoderTest, ChoosesTheCharsetInOrder) {
  const struct { std::string bytes; const char* charset; std::u16string tail; } cases[] = {
      {"\xEF\xBB\xBF<meta charset=iso-8859-2>\xC3\xA9", "utf-8", u">\u00E9"},  // the mark wins
      // Each broken piece is one U+FFFD: cut short, surrogate, over-long, above U+10FFFF.
      {"\xEF\xBB\xBF\xC3|\xE2\x82x|\xED\xA0\x80|\xC0\xAF|\xF4\x90\x80\x80|\xF4\x8F\xBF\xBF", "utf-8",
       u"\uFFFD|\uFFFDx|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|\U0010FFFF"},
      {std::string("\xFF\xFEh\0\x3D\xD8\x0B\xDC", 8), "utf-16le", u"h\U0001F40B"},
      {std::string("\xFE\xFF\0h\xDC\0\0", 7), "utf-16be", u"h\uFFFD\uFFFD"},  // lone, odd byte
      {"<meta charset=\"ISO-8859-2\">\xB1", "iso-8859-2", u">\u0105"},
      {"<meta charset=shift_jis>\x81\x20" "a\x82\xA0\x82", "shift_jis", u">\uFFFD a\u3042\uFFFD"},
      {"<meta charset=iso-8859-2>" + std::string(100000, '\xB1'), "iso-8859-2",
       u">" + std::u16string(100000, u'\u0105')},  // beyond one iconv block
      {"<meta charset=x-no-such>\xC3\xA9", "utf-8", u">\u00E9"},  // unknown: UTF-8 if valid
      {"<meta charset=utf-7>+AGE-", "utf-8", u">+AGE-"},            // refused
      {"<meta content='charset=iso-8859-2'>\xB1", "windows-1252", u">\u00B1"},  // no http-equiv
      {"caf\xE9 \x93quoted\x94", "windows-1252", u"caf\u00E9 \u201Cquoted\u201D"},
      {std::string("a\0b", 3), "utf-8", u"a\uFFFDb"},
  };
  for (const auto& c : cases) {
    const DecodedPage page = DecodePage(c.bytes);
    EXPECT_EQ(page.charset, c.charset) << c.bytes.substr(0, 40);
    EXPECT_TRUE(page.text.ends_with(c.tail) && IsWellFormed(page.text)) << c.bytes.substr(0, 40);
  }
}

TEST(PageDecoderTest, MetaPrescanFollowsBrowsers) {
  const std::string far(kMetaScanBytes - 10, 'x');
  const struct { std::string html; const char* label; } cases[] = {
      {"<META CHARSET = ' Shift_JIS ' >", "shift_jis"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html;charset=KOI8-R\">", "koi8-r"},
      {"<meta content=\"charsetx; charset = 'gbk'\" http-equiv=content-type>", "gbk"},
      {"<!-- <meta charset=koi8-r> --><meta charset=gbk>", "gbk"},
      {"<metadata charset=koi8-r>", ""},
      {"<div title='x><meta charset=koi8-r>", ""},
      {far + "<meta charset=koi8-r>", ""},  // ends beyond the window
      {far.substr(20) + "<meta charset=koi8-r>", "koi8-r"},
  };
  for (const auto& c : cases) EXPECT_EQ(FindMetaCharset(c.html), c.label) << c.html.substr(0, 80);
}

}  // namespace
}  // namespace zzhost
