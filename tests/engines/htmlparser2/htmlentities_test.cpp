// Character references, and the eight-units-a-step scans against plain loops.
#include "engines/htmlparser2/htmlentities.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engines/htmlparser2/htmlscan.h"
#include "html_test_util.h"

namespace {

using htmltest::U;

std::string Decode(const std::u16string& text) {
  std::u16string out(text.size(), u'\0');
  out.resize(HTMLDecodeText(text.data(), text.size(), out.data()));
  return htmltest::Utf8(out.data(), out.size());
}

TEST(HTMLEntitiesTest, NamedEntitiesAreCaseSensitive) {
  const struct {
    const char* name;
    char16_t character;
  } cases[] = {{"amp", u'&'},     {"lt", u'<'},     {"gt", u'>'},    {"quot", u'"'},
               {"nbsp", u' '},    {"iexcl", 0xA1},  {"frac12", 0xBD}, {"Eacute", 0xC9},
               {"eacute", 0xE9},  {"THORN", 0xDE},  {"yuml", 0xFF},  {"AMP", 0},
               {"EACUTE", 0},     {"euro", 0},      {"eacutes", 0},  {"", 0}};
  for (const auto& c : cases) {
    const std::u16string name = U(c.name);
    EXPECT_EQ(c.character, HTMLLookupEntity(name.data(), name.size())) << c.name;
  }
}

TEST(HTMLEntitiesTest, Decoding) {
  const struct {
    std::u16string text;
    const char* expected;
  } cases[] = {
      {u"a &amp; b &amp;amp; &lt&gt;", "a & b &amp; &lt>"},
      {u"&;&#;& &toolongname; &#xg;", "&;&#;& &toolongname; &#xg;"},
      {u"&#65;&#x42;&#X43;&#0068&#00000000065;", "ABCDA"},
      {u"&#x80;&#x8D;&#150;&#xFFFF;&#x10FFFF;", "€\xC2\x8D–\xEF\xBF\xBF\xF4\x8F\xBF\xBF"},
      {u"&#x110000;&#55296;&#0;", "\uFFFD\uFFFD\uFFFD"},
      {std::u16string(u"a\0b\xD83D\xDE00|\xD83D|\xDE00|\xD83D", 11), "a\uFFFDb😀|\uFFFD|\uFFFD|\uFFFD"},
      {u"no references at all, long enough for the wide scan", "no references at all, long enough for the wide scan"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, Decode(c.text)) << c.expected;
}

TEST(HTMLEntitiesTest, DecodesInPlace) {
  std::u16string text = U("x&eacute;&#x1F600;&#65;y");
  const std::size_t written = HTMLDecodeText(text.data(), text.size(), text.data());
  EXPECT_EQ("xé😀Ay", htmltest::Utf8(text.data(), written));
}

TEST(HTMLScanTest, WideScansMatchPlainLoops) {
  std::mt19937 random(7);
  const char16_t units[] = {u'a', u'<', u'&', 0, 0xD800, 0xDFFF, 0xE000, u'>', u'@', u'A', u'Z',
                            u'[', 0x8041, 0xFF21};
  for (int round = 0; round < 3000; ++round) {
    std::u16string text(48, u'a');
    for (char16_t& c : text) c = random() % 3 == 0 ? units[random() % 14] : u'a';
    const std::size_t begin = random() % 8, end = begin + random() % 41;
    const char16_t* p = text.data() + begin;
    const char16_t* q = text.data() + end;
    const char16_t* lt = p;
    while (lt < q && *lt != u'<') ++lt;
    const char16_t* special = p;
    while (special < q && *special != u'&' && *special != 0 && (*special < 0xD800 || *special > 0xDFFF)) ++special;
    ASSERT_EQ(lt, html_detail::FindUnit(p, q, u'<'));
    ASSERT_EQ(special, html_detail::FindDecodeSpecial(p, q));
    std::u16string copy(end - begin, u'#'), lower(end - begin, u'#');
    html_detail::CopyAndLower(p, end - begin, copy.data(), lower.data());
    ASSERT_EQ(text.substr(begin, end - begin), copy);
    for (std::size_t i = 0; i < copy.size(); ++i) {
      ASSERT_EQ(copy[i] >= u'A' && copy[i] <= u'Z' ? copy[i] + 32 : copy[i], lower[i]) << i;
    }
  }
}

}  // namespace
