// CHTMLParser2: parse status, token sequences, element lists and page text as tables of
// pages and dumps; listeners; bounds; hostile pages; allocation failure.
#include "engines/htmlparser2/htmlparser2.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "html_test_util.h"

namespace {

using htmltest::CapturedTrace;
using htmltest::ParsedPage;
using htmltest::U;
using htmltest::Utf8;

struct PageCase {
  const char* page;
  const char* expected;
};

TEST(HTMLParser2Test, ParseRejectsEmptyInputAndSecondParse) {
  CapturedTrace trace;
  CHTMLParser2 document;
  EXPECT_EQ(-550, document.parse(nullptr, 4, false, false));
  EXPECT_EQ(-550, document.parse(u"<p>x", 0, false, false));
  EXPECT_TRUE(trace.Contains("Input incorect. buffer vid sau null"));
  EXPECT_FALSE(document.isParsed());
  EXPECT_EQ("", Utf8(document.getAllText()));

  EXPECT_EQ(0, document.parse(u"<p>x", 4, true, false));
  EXPECT_TRUE(document.getMakeDOM());
  EXPECT_EQ(-551, document.parse(u"<b>", 3, false, false));
  EXPECT_TRUE(trace.Contains("A mai fost parsat o data pe ac obiect"));
  EXPECT_EQ("<p> T\"x\"", htmltest::DumpTokens(document));
}

TEST(HTMLParser2Test, Tokens) {
  const PageCase cases[] = {
      {"<P>Hi</P>", "<p> T\"Hi\" </p>"},
      {"<h1>a</h1><h7>b</h7><Blockquote>q<blockquotes>",
       "<h1> T\"a\" </h1> T\"<h7>b</h7>\" <blockquote> T\"q<blockquotes>\""},
      {"a<foo>b</foo>c 1 < 2 <3 <> </>x</ b>", "T\"a<foo>b</foo>c 1 < 2 <3 <> </>x</ b>\""},
      {"<a<b>c", "T\"<a\" <b> T\"c\""},
      {"x<br/>y<br />z<BR\n>text<a", "T\"x\" <br> T\"y\" <br> T\"z\" <br> T\"text<a\""},
      {"<!DOCTYPE html><html>", "D\"<!DOCTYPE html>\" <html>"},
      {"<!---->a<!-->b<!--->c<!-- x --!>d",
       "!\"<!---->\" T\"a\" !\"<!-->\" T\"b\" !\"<!--->\" T\"c\" !\"<!-- x --!>\" T\"d\""},
      {"a<!-- never\nclosed <p>", "T\"a\" !\"<!-- never\nclosed <p>\""},
      {"<?xml v='1'?>x<![CDATA[y]]>z<!q", "!\"<?xml v='1'?>\" T\"x\" !\"<![CDATA[y]]>\" T\"z\" !\"<!q\""},
      {"<script>if (a<b) s='</p>';</script>z",
       "<script> R(script)\"if (a<b) s='</p>';\" </script> T\"z\""},
      {"<SCRIPT>a</scripts>b</SCRIPT >c", "<script> R(script)\"a</scripts>b\" </script> T\"c\""},
      {"<script src=x />a<b>", "<script> R(script)\"a<b>\""},
      {"<style>p>a{}</style><script></script>", "<style> R(style)\"p>a{}\" </style> <script> </script>"},
      {"<title>a<b>&amp;</title>", "<title> T(title)\"a<b>&amp;\" </title>"},
      {"<a title='x>y'>z</a>", "<a> T\"z\" </a>"},
      {"a<b class='x", "T\"a\""},
      {"a</b x='>'>c</b x='y", "T\"a\" </b> T\"c\""},
  };
  for (const PageCase& c : cases) {
    ParsedPage page(c.page);
    ASSERT_EQ(0, page.status) << c.page;
    EXPECT_EQ(c.expected, page.Tokens()) << c.page;
  }
}

TEST(HTMLParser2Test, PageText) {
  const PageCase cases[] = {
      {"<p>one</p><p>two</p>b<b>o</b>ld", "one\ntwo\nbold"},
      {"<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", "a b\nc"},
      {"a <p> b", "a  b"},  // The run before already ends in a blank.
      {"<html><head><title>T</title></head><body>x</body></html>", "T\nx"},
      {"a<script>s='<b>w</b>';</script>b<style>p{}</style>c<!-- d -->e", "abce"},
      {"caf&eacute; &Eacute;T&Eacute; &lt;&gt;&quot;&amp; x&nbsp;y", "café ÉTÉ <>\"& x y"},
      {"&foo; &amp &copy 2004 &copy; &EACUTE;", "&foo; &amp &copy 2004 © &EACUTE;"},
      {"&#233;&#xE9;&#65&#x1F600;|&#128;|&#99999999999;", "ééA😀|€|\uFFFD"},
      {"<title>Fish &amp; <Chips></title>x<unknown>y", "Fish & <Chips>\nx<unknown>y"},
  };
  for (const PageCase& c : cases) {
    ParsedPage page(c.page);
    ASSERT_EQ(0, page.status) << c.page;
    EXPECT_EQ(c.expected, page.AllText()) << c.page;
  }
}

TEST(HTMLParser2Test, Attributes) {
  const PageCase cases[] = {
      {"<a href='x \"y\"'>", "link a href=\"x \"y\"\"\n"},
      {"<a href = x name =\t'n' rel\n=\"r\">", "link a href=\"x\" name=\"n\" rel=\"r\"\n"},
      {"<a href>", "link a href=\"\"\n"},
      {"<a href=>", "link a href=\"\"\n"},
      {"<a name rel=r>", "link a name=\"\" rel=\"r\"\n"},
      {"<a HREF=One Href=two>", "link a href=\"One\"\n"},
      {"<a xhref=1 hreff=2 data-href=3>", "link a\n"},
      {"<a/href=x/name=y>", "link a href=\"x/name=y\"\n"},
      {"<a =href href=x>", "link a href=\"x\"\n"},
      {"<a href=\"a\"name='b'type=c/>", "link a href=\"a\" name=\"b\" type=\"c/\"\n"},
      {"<a href=x>y</a href=z>", "link a href=\"x\"\n"},
      {"<link rel=stylesheet href=s.css><area href=\"/m\">",
       "link link href=\"s.css\" rel=\"stylesheet\"\nlink area href=\"/m\"\n"},
  };
  for (const PageCase& c : cases) {
    ParsedPage page(c.page);
    ASSERT_EQ(0, page.status) << c.page;
    EXPECT_EQ(c.expected, page.Elements()) << c.page;
  }
}

TEST(HTMLParser2Test, RangesPointIntoTheDocumentsOwnCopy) {
  const std::string html = "x<A Href = 'Mixed Case' REL=NoFollow NAME>";
  ParsedPage page(html);
  page.text.assign(page.text.size(), u'#');  // The caller's buffer may change or go.
  const CHTMLURL& link = *page.document->getLink(0);
  const int slots[] = {CHTMLURL::kHref, CHTMLURL::kRel, CHTMLURL::kName};
  const char* values[] = {"Mixed Case", "NoFollow", ">"};
  for (int k = 0; k < 3; ++k) {
    const SHTMLRange range = link.getAttributeRange(slots[k]);
    EXPECT_EQ(html.find(values[k]), range.start);
    std::size_t length = 0;
    EXPECT_EQ(page.document->getBuffer() + range.start, link.getAttribute(slots[k], length));
    EXPECT_EQ(std::string(values[k]).substr(0, length), html.substr(range.start, length));
  }
  EXPECT_FALSE(link.hasAttribute(CHTMLURL::kType));
  EXPECT_EQ(1u, link.getTagRange().start);
  EXPECT_EQ(html.size() - 1, link.getTagRange().length);
  EXPECT_EQ("x<a href = 'mixed case' rel=nofollow name>",
            Utf8(page.document->getLowerBuffer(), page.document->getBufferSize()));
}

TEST(HTMLParser2Test, DecodedLinks) {
  ParsedPage page(
      "<a href=\"/rel/page.html\">r</a><A HREF=\"HTTP://Example.COM/x?a=1&amp;b=2\">abs</A>"
      "<a href=\"&#104;ttp://obf.example/&#x41;\">obf</a><a href='q=&eacute;&unknown;'>e</a>"
      "<a name=top>anchor</a>");
  const char* expected[] = {"/rel/page.html", "HTTP://Example.COM/x?a=1&b=2",
                            "http://obf.example/A", "q=é&unknown;", "<null>"};
  ASSERT_EQ(5u, page.document->getLinkCount());
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(expected[i], Utf8(page.document->getLink(i)->getDecodedHref())) << i;
  }
}

TEST(HTMLParser2Test, ElementLists) {
  ParsedPage page(
      "<TITLE>One &amp; Two</TITLE><META NAME=\"keywords\" CONTENT=\"a, b\">"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><meta charset=x>"
      "<img src=\"i.png\" ALT='pic'><IMG SRC=j.gif><!-- note -->"
      "<form action=\"/login\" method=post><input type=text name=user value=\"me\">"
      "<input type=image src=b.png alt=go><textarea name=t>hi &amp; bye</textarea>"
      "<select name=s><option>o</option></select><button type=submit>ok</button></form>"
      "<script type=\"text/javascript\" src=\"s.js\"></script><script language=JavaScript>x=1"
      "</script><iframe src=\"f.html\"></iframe><embed src=m.swf type=application/x-flash>"
      "<object data=o.swf><param name=movie value=o.swf></object><frame src=fr name=f>");
  EXPECT_EQ(
      "image src=\"i.png\" alt=\"pic\"\n"
      "image src=\"j.gif\"\n"
      "meta name=\"keywords\" content=\"a, b\"\n"
      "meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"\n"
      "meta charset=\"x\"\n"
      "title One & Two\n"
      "comment content=\" note \"\n"
      "form form action=\"/login\"\n"
      "form input name=\"user\" type=\"text\" value=\"me\"\n"
      "form input type=\"image\" src=\"b.png\" alt=\"go\"\n"
      "form textarea name=\"t\" content=\"hi &amp; bye\"\n"
      "form select name=\"s\"\n"
      "form button type=\"submit\"\n"
      "script type=\"text/javascript\" src=\"s.js\" content=\"\"\n"
      "script language=\"JavaScript\" content=\"x=1\"\n"
      "object iframe src=\"f.html\"\n"
      "object embed src=\"m.swf\" type=\"application/x-flash\"\n"
      "object object data=\"o.swf\"\n"
      "object frame src=\"fr\" name=\"f\"\n",
      page.Elements());
  EXPECT_EQ("One & Two\nhi & bye\no\nok", page.AllText());
}

// Logs every token it sees under its name; throws at its throwAt-th token.
class RecordingListener : public CAHTMLTokenListener {
 public:
  RecordingListener(std::vector<std::string>& log, std::string name, int throwAt = 0)
      : m_log(log), m_name(std::move(name)), m_throwAt(throwAt) {}
  void OnToken(const CHTMLParser2&, const SHTMLToken& token) override {
    if (++m_seen == m_throwAt) throw std::runtime_error("listener failed");
    m_log.push_back(m_name + ":" + std::to_string(token.kind) + "/" +
                    htmltest::TagName(token.tagId) + "@" + std::to_string(token.start));
  }

 private:
  std::vector<std::string>& m_log;
  std::string m_name;
  int m_throwAt;
  int m_seen = 0;
};

TEST(HTMLParser2Test, ListenersSeeEveryTokenInDocumentOrderUntilOneFails) {
  CapturedTrace trace;
  std::vector<std::string> log;
  RecordingListener first(log, "1"), second(log, "2", 3);
  CHTMLParser2 document;
  EXPECT_EQ(-1, document.addTokenListener(nullptr));
  ASSERT_EQ(0, document.addTokenListener(&first));
  ASSERT_EQ(0, document.addTokenListener(&second));
  const std::u16string page = U("<p>x<!--c--></p>");
  ASSERT_EQ(0, document.parse(page.data(), page.size(), false, false));
  const std::vector<std::string> expected = {"1:1/p@0", "2:1/p@0", "1:0/?0@3", "2:0/?0@3",
                                             "1:3/!--@4"};
  EXPECT_EQ(expected, log);
  EXPECT_TRUE(trace.Contains("Eroare in HTML EVENTS DISPATCHER"));
  EXPECT_EQ(4u, document.getTokenCount());
}

TEST(HTMLParser2Test, AttributesBeyondTheBoundAreSkipped) {
  const std::size_t bound = CHTMLParser2::kMaxAttributesPerTag;
  for (const std::size_t junk : {bound - 1, bound}) {
    std::string html = "<a";
    for (std::size_t i = 0; i < junk; ++i) html += " j";
    ParsedPage page(html + " href=x>");
    ASSERT_EQ(1u, page.document->getLinkCount());
    EXPECT_EQ(junk < bound, page.document->getLink(0)->hasAttribute(CHTMLURL::kHref)) << junk;
  }
}

TEST(HTMLParser2Test, ElementListsStopAtTheirBound) {
  const std::size_t bound = CHTMLParser2::kMaxListElements;
  std::u16string html;
  for (std::size_t i = 0; i < bound + 1; ++i) html += u"<img>";
  ParsedPage page(html + u"end");
  ASSERT_EQ(0, page.status);
  EXPECT_EQ(bound, page.document->getImageCount());
  EXPECT_EQ(bound + 2, page.document->getTokenCount());  // Tokens are all kept.
  EXPECT_EQ("end", page.AllText());
}

// What must hold for any input: tokens in order, inside the page and not overlapping; link,
// script and comment ranges inside the page; the page text valid UTF-16 without zeros.
void ExpectSound(const CHTMLParser2& document, std::size_t size) {
  std::uint64_t previousEnd = 0;
  for (std::size_t t = 0; t < document.getTokenCount(); ++t) {
    const SHTMLToken& token = *document.getToken(t);
    ASSERT_TRUE(token.start >= previousEnd && token.length > 0) << t;
    previousEnd = std::uint64_t{token.start} + token.length;
    ASSERT_LE(previousEnd, size) << t;
  }
  auto inside = [size](SHTMLRange r) { return !r.IsPresent() || r.start + std::uint64_t{r.length} <= size; };
  for (std::size_t i = 0; i < document.getLinkCount(); ++i) {
    for (int slot = 0; slot < CHTMLURL::kAttributeCount; ++slot) {
      ASSERT_TRUE(inside(document.getLink(i)->getAttributeRange(slot)));
    }
  }
  for (std::size_t i = 0; i < document.getScriptCount(); ++i)
    ASSERT_TRUE(inside(document.getScript(i)->getContentRange()));
  for (std::size_t i = 0; i < document.getCommentCount(); ++i)
    ASSERT_TRUE(inside(document.getComment(i)->getContentRange()));
  const ascommon::usstring text = document.getAllText();
  ASSERT_EQ(0, text.status());
  for (std::size_t i = 0; i < text.length(); ++i) ASSERT_NE(0, text.c_str()[i]) << i;
  ASSERT_NE("<bad utf-16>", Utf8(text));
}

std::u16string Repeat(const std::u16string& unit, std::size_t totalUnits) {
  std::u16string page;
  while (page.size() < totalUnits) page += unit;
  return page;
}

TEST(HTMLParser2Test, HostilePagesFinishQuicklyAndStayInBounds) {
  const std::size_t mb = 10 * 1024 * 1024;
  const std::u16string pages[] = {
      std::u16string(mb, u'<'),
      Repeat(u"<div>", mb / 2),
      Repeat(u"<a href=x>", mb / 2),
      Repeat(u"<a href=\"", mb / 4),
      Repeat(u"<!--", mb / 4),
      Repeat(u"<script>", mb / 4),
      u"<script>" + Repeat(u"</scrip", mb / 4),
      Repeat(u"&#x", mb / 4) + u"&" + Repeat(u"9", 1000),
      Repeat(std::u16string(u"a\xD800<p>\xDC00\0&#0;\xDBFF", 12), mb / 4),
      Repeat(u"<blockquoteblockquote ", mb / 4),
  };
  for (const std::u16string& page : pages) {
    const auto start = std::chrono::steady_clock::now();
    CHTMLParser2 document;
    ASSERT_EQ(0, document.parse(page.data(), page.size(), false, false)) << Utf8(page.data(), 12);
    ExpectSound(document, page.size());
    // Linear work takes a fraction of this even under sanitizers; a quadratic pass does not.
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    EXPECT_LT(seconds.count(), 20.0) << Utf8(page.data(), 12);
  }
}

TEST(HTMLParser2Test, RandomPagesStayInBounds) {
  static const char16_t kUnits[] = u"<<>>/!-?\"'= &#;xa1bpsScrRiIpPtT\0\xD800\xDC00\n";
  const char16_t* pieces[] = {u"<script>", u"</script>", u"<a href=", u"<!--", u"-->",
                              u"<title>",  u"</title>",  u"<img src='"};
  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    std::u16string page(1 + random() % 200, u' ');
    for (char16_t& unit : page) unit = kUnits[random() % (sizeof(kUnits) / 2 - 1)];
    for (int k = 0; k < 3; ++k) page.insert(random() % page.size(), pieces[random() % 8]);
    CHTMLParser2 document;
    ASSERT_EQ(0, document.parse(page.data(), page.size(), false, false));
    ExpectSound(document, page.size());
  }
}

class AllocationFailureTest : public ::testing::Test {
 protected:
  void TearDown() override { asfn_fail_at(0, ASFN_FAIL_OFF); }
  const std::int64_t m_liveBefore = asfn_live_blocks();
  ~AllocationFailureTest() override { EXPECT_EQ(m_liveBefore, asfn_live_blocks()); }
};

TEST_F(AllocationFailureTest, EachFailureIsTracedAndReported) {
  CapturedTrace trace;
  const std::u16string html = U("<p>t&amp;</p><a href='h'>x</a>");
  asfn_fail_at(1, ASFN_FAIL_ONCE);
  EXPECT_EQ(nullptr, parseBuffer2(html.data(), html.size(), false, false));
  EXPECT_TRUE(trace.Contains(
      "Eroare alocare in CHTMLParser2* parseBuffer2(const char_t * bufferHTML, size_t "
      "bufferSize, bool makeDOM, bool parseCSS)"));
  const std::unique_ptr<CHTMLParser2> built(parseBuffer2(html.data(), html.size(), false, false));
  ASSERT_NE(nullptr, built);
  EXPECT_TRUE(built->isParsed());

  CHTMLParser2 document;
  asfn_fail_at(1, ASFN_FAIL_ONCE);
  EXPECT_EQ(-10, document.parse(html.data(), html.size(), false, false));
  EXPECT_TRUE(trace.Contains("Err alloc bufferHTMLLower"));
  EXPECT_FALSE(document.isParsed());
  ASSERT_EQ(0, document.parse(html.data(), html.size(), false, false));

  asfn_fail_at(1, ASFN_FAIL_ONCE);
  const ascommon::usstring text = document.getAllText();
  EXPECT_TRUE(text.is_null());
  EXPECT_EQ(-2, text.status());
  EXPECT_TRUE(trace.Contains("Eroare alocare in CHTMLParser2::getAllText"));
  asfn_fail_at(1, ASFN_FAIL_ONCE);
  EXPECT_EQ(-2, document.getText(0)->getInterprettedText().status());
  EXPECT_TRUE(trace.Contains("Eroare alocare in CHTMLText::getInterprettedText();"));
  asfn_fail_at(1, ASFN_FAIL_ONCE);
  EXPECT_EQ(-2, document.getLink(0)->getDecodedHref().status());
  EXPECT_TRUE(trace.Contains("Eroare alocare in CHTMLURL::getDecodedHref"));
  EXPECT_EQ("h", Utf8(document.getLink(0)->getDecodedHref()));
}

TEST_F(AllocationFailureTest, ListGrowthFailureKeepsWhatWasRead) {
  for (std::uint64_t failAt = 2; failAt <= 3; ++failAt) {  // The tokens, then the text runs.
    CHTMLParser2 document;
    asfn_fail_at(failAt, ASFN_FAIL_FROM);
    EXPECT_EQ(-2, document.parse(u"<p>a</p><p>b</p>", 16, false, false)) << failAt;
    asfn_fail_at(0, ASFN_FAIL_OFF);
    ExpectSound(document, 16);
  }
}

}  // namespace
