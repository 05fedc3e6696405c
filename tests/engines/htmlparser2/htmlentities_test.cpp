// The parser's fixed tables (element names and ids, named entities) and entity replacement.
#include "engines/htmlparser2/htmlentities.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "html_test_util.h"

namespace {

using htmltest::U;
using htmltest::Utf8;

// The elements of HTML 4.01 plus embed and marquee, in id order from 5.
constexpr const char* kElements =
    "a abbr acronym address applet area b base basefont bdo big blockquote body br button "
    "caption center cite code col colgroup dd del dfn dir div dl dt em embed fieldset font "
    "form frame frameset h1 h2 h3 h4 h5 h6 head hr html i iframe img input ins isindex kbd "
    "label legend li link map marquee menu meta noframes noscript object ol optgroup option "
    "p param pre q s samp script select small span strike strong style sub sup table tbody "
    "td textarea tfoot th thead title tr tt u ul var";

TEST(HTMLTablesTest, ElementNamesAndIdsAreFixed) {
  std::istringstream names(kElements);
  std::string name;
  unsigned id = HTML_TAG_FIRST;
  for (; names >> name; ++id) {
    EXPECT_EQ(name, HTMLTagName(id));
    const std::u16string wide(name.begin(), name.end());
    EXPECT_EQ(id, HTMLFindTag(wide.data(), wide.size())) << name;
  }
  EXPECT_EQ(5, HTML_TAG_A);
  EXPECT_EQ(id - 1, HTML_TAG_LAST);
  EXPECT_STREQ("!--", HTMLTagName(HTML_TAG_COMMENT));
  EXPECT_STREQ("!DOCTYPE", HTMLTagUpperName(HTML_TAG_DECLARATION));
  EXPECT_STREQ("BLOCKQUOTE", HTMLTagUpperName(HTML_TAG_BLOCKQUOTE));
  EXPECT_EQ(nullptr, HTMLTagName(HTML_TAG_END));
  for (const std::u16string other : {u"", u"A", u"h7", u"section", u"nav", u"blockquotes", u"a-b"})
    EXPECT_EQ(HTML_TAG_NONE, HTMLFindTag(other.data(), other.size())) << Utf8(other.data(), other.size());
}

// The ISO 8859-1 entities in code order from U+00A0, then the markup characters.
constexpr const char* kLatin1Entities =
    "nbsp iexcl cent pound curren yen brvbar sect uml copy ordf laquo not shy reg macr deg "
    "plusmn sup2 sup3 acute micro para middot cedil sup1 ordm raquo frac14 frac12 frac34 iquest "
    "Agrave Aacute Acirc Atilde Auml Aring AElig Ccedil Egrave Eacute Ecirc Euml Igrave Iacute "
    "Icirc Iuml ETH Ntilde Ograve Oacute Ocirc Otilde Ouml times Oslash Ugrave Uacute Ucirc Uuml "
    "Yacute THORN szlig agrave aacute acirc atilde auml aring aelig ccedil egrave eacute ecirc "
    "euml igrave iacute icirc iuml eth ntilde ograve oacute ocirc otilde ouml divide oslash "
    "ugrave uacute ucirc uuml yacute thorn yuml";

TEST(HTMLTablesTest, TheHundredEntities) {
  std::istringstream names(kLatin1Entities);
  std::string name;
  char16_t code = 0xA0;
  for (; names >> name; ++code) {
    const std::u16string wide = U(name);
    EXPECT_EQ(code == 0xA0 ? u' ' : code, HTMLLookupEntity(wide.data(), wide.size())) << name;
  }
  EXPECT_EQ(0x100, code);
  const struct {
    const char* name;
    char16_t character;
  } cases[] = {{"amp", u'&'}, {"lt", u'<'}, {"gt", u'>'}, {"quot", u'"'}, {"AMP", 0},
               {"EACUTE", 0}, {"euro", 0},  {"hellip", 0}, {"eacutes", 0}, {"", 0}};
  for (const auto& c : cases) {
    const std::u16string wide = U(c.name);
    EXPECT_EQ(c.character, HTMLLookupEntity(wide.data(), wide.size())) << c.name;
  }
}

TEST(HTMLTablesTest, OnlyNamedEntitiesAreReplaced) {
  const std::u16string same[] = {u"&;&#;& &toolongname; &euro; &#xg;",
                                 u"&#233;&#xE9;&#65&#x1F600;&#0;",
                                 std::u16string(u"a\0b\xD83D\xDE00\xD800\xDC00", 8),
                                 u"no entities at all, long enough for the wide scan"};
  for (const std::u16string& text : same) {
    std::u16string out(text.size(), u'#');
    EXPECT_EQ(text.size(), HTMLDecodeText(text.data(), text.size(), out.data()));
    EXPECT_EQ(text, out) << htmltest::Utf8(text.data(), text.size());
  }
  std::u16string text = U("a &amp; b &amp;amp; &lt&gt;&eacute;&frac12;");  // In place.
  EXPECT_EQ("a & b &amp; &lt>é½",
            htmltest::Utf8(text.data(), HTMLDecodeText(text.data(), text.size(), text.data())));
}

}  // namespace
