// CHTMLParser2 and its fixed tables: token sequences, element lists and page text as tables
// of pages and dumps; bounds; hostile and random pages; allocation failures.
#include "engines/htmlparser2/htmlparser2.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "common/strutils.h"
#include "html_test_util.h"
#include "support/trace_capture.h"

namespace {

using htmltest::ParsedPage;
using htmltest::U;
using htmltest::Utf8;

struct PageCase {
  const char* page;
  const char* expected;
};

// Every case's page dumped by dump() must read as expected.
template <class Dump>
void ExpectDumps(const std::vector<PageCase>& cases, Dump dump) {
  for (const PageCase& c : cases) {
    ParsedPage page(c.page);
    ASSERT_EQ(0, page.status) << c.page;
    EXPECT_EQ(c.expected, dump(page)) << c.page;
  }
}

TEST(HTMLParser2Test, Tokens) {
  ExpectDumps({
      {"<P>Hi</P>", "<p> T\"Hi\" </p>"},
      {"<h1>a</h1><h7>b</h7><Blockquote>q<blockquotes>", "<h1> T\"a\" </h1> T\"<h7>b</h7>\" <blockquote> T\"q<blockquotes>\""},
      {"<section><nav>n</nav><video src=v><main>", "T\"<section><nav>n</nav><video src=v><main>\""},
      {"x<br/>y<br />z<BR\n>text<a", "T\"x\" <br> T\"y\" <br> T\"z\" <br> T\"text<a\""},
      {"<!DOCTYPE html><html>", "D\"<!DOCTYPE html>\" <html>"},
      {"<!---->a<!-->b<!--->c<!-- x --!>d",
       "!\"<!---->\" T\"a\" !\"<!-->\" T\"b\" !\"<!--->\" T\"c\" !\"<!-- x --!>\" T\"d\""},
      {"<?xml v='1'?>x<![CDATA[y]]>z<!q<p>", "T\"<?xml v='1'?>x<![CDATA[y]]>z<!q\" <p>"},
      {"<script>if (a<b) s='</p>';</script>z", "<script> R(script)\"if (a<b) s='</p>';\" </script> T\"z\""},
      {"<script src=x />a<b>", "<script> R(script)\"a<b>\""},
      {"<title>a<b>&amp;</title>", "<title> T(title)\"a<b>&amp;\" </title>"},
      {"a<b class='x", "T\"a\""},
  }, [](const ParsedPage& page) { return page.Tokens(); });
}

// The text runs one after the other, named entities replaced, nothing between them.
TEST(HTMLParser2Test, PageText) {
  ExpectDumps({
      {"<p>one</p><p>two</p>b<b>o</b>ld<br>x", "onetwoboldx"},
      {"a<script>s='<b>w</b>';</script>b<style>p{}</style>c<!-- d -->e<!doctype x>f", "abcef"},
      {"caf&eacute; &Eacute;T&Eacute; &lt;&gt;&quot;&amp; x&nbsp;y", "café ÉTÉ <>\"& x y"},
      {"&foo; &amp &copy 2004 &copy; &EACUTE; &euro; &hellip;", "&foo; &amp &copy 2004 © &EACUTE; &euro; &hellip;"},
      {"&#233;&#xE9;&#65;&#x1F600; &nbsp;&iexcl;&frac12;&THORN;&yuml;&AElig;", "&#233;&#xE9;&#65;&#x1F600;  ¡½ÞÿÆ"},
      {"<title>Fish &amp; <Chips></title>x<article>y</article><?php z ?>", "Fish & <Chips>x<article>y</article><?php z ?>"},
      {"<P>Жук Σοφία 漢字 كتاب</P>", "Жук Σοφία 漢字 كتاب"},
  }, [](const ParsedPage& page) { return page.AllText(); });
}

TEST(HTMLParser2Test, Attributes) {
  ExpectDumps({
      {"<a href='x \"y\"'>", "link a href=\"x \"y\"\"\n"},
      {"<a href = x name =\t'n' rel\n=\"r\">", "link a href=\"x\" name=\"n\" rel=\"r\"\n"},
      {"<a name rel=r>", "link a name=\"\" rel=\"r\"\n"}, {"<a HREF=One Href=two>", "link a href=\"One\"\n"},
      {"<a xhref=1 hreff=2 data-href=3>", "link a\n"},
      {"<a/href=x/name=y>", "link a\n"}, {"<a href=x>y</a href=z>", "link a href=\"x\"\n"},
      {"<a href=\"a\"name='b'type=c/>", "link a href=\"a\"\n"}, {"<a name=a/ rel=r/>", "link a name=\"a/\" rel=\"r/\"\n"},
      {"<link rel=stylesheet href=s.css><area href=\"/m\">", "link link href=\"s.css\" rel=\"stylesheet\"\nlink area href=\"/m\"\n"},
      {"<A HREF=\"HTTP://X.test/?a=1&amp;b=2\">x</A><a href=\"&#104;ttp://o.test/&eacute;&u;\">",
       "link a href=\"HTTP://X.test/?a=1&amp;b=2\"~\"HTTP://X.test/?a=1&b=2\"\n"
       "link a href=\"&#104;ttp://o.test/&eacute;&u;\"~\"&#104;ttp://o.test/é&u;\"\n"},
  }, [](const ParsedPage& page) { return page.Elements(); });
}

TEST(HTMLParser2Test, RangesPointIntoTheDocumentsOwnLowerCasedCopy) {
  ParsedPage page("x<A Href = 'Mixed ЖΣ' NAME>");
  page.text.assign(page.text.size(), u'#');  // The caller's buffer may change or go.
  const CHTMLURL& link = *page.document->getLink(0);
  std::size_t length = 0;
  EXPECT_EQ(page.document->getBuffer() + 12, link.getAttribute(CHTMLURL::kHref, length));
  EXPECT_EQ("Mixed ЖΣ", Utf8(page.document->getBuffer() + 12, length));
  EXPECT_TRUE(link.getAttribute(CHTMLURL::kName, length) == page.document->getBuffer() + 26 && length == 0);
  EXPECT_EQ("x<a href = 'mixed жσ' name>",
            Utf8(page.document->getLowerBuffer(), page.document->getBufferSize()));
}

TEST(HTMLParser2Test, ElementLists) {
  ParsedPage page(
      "<TITLE>One &amp; Two</TITLE><META NAME=\"keywords\" CONTENT=\"a, b\">"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><meta charset=x>"
      "<img src=\"i.png\" ALT='Caf&eacute;'><IMG SRC=j.gif><!-- note -->"
      "<form action=\"/login\" method=post><input type=text name=user value=\"me\" checked>"
      "<input type=image src=b.png alt=go name=\"\"><textarea name=t>hi &amp; bye</textarea>"
      "<select name=s><option>o</option></select><button type=submit>ok</button></form>"
      "<script type=\"text/javascript\" src=\"s.js\"></script><script language=JavaScript>x=1"
      "</script><iframe src=\"f.html\"></iframe><embed src=m.swf type=application/x-flash>"
      "<object data=o.swf><param name=movie value=o.swf></object><frame src=fr name=f>");
  EXPECT_EQ(
      "image src=\"i.png\" alt=\"Caf&eacute;\"~\"Café\"\n" "image src=\"j.gif\"\n"
      "meta name=\"keywords\" content=\"a, b\"\n" "meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"\n"
      "meta charset=\"x\"\n" "title One & Two\n"
      "comment content=\" note \"\n" "form form action=\"/login\"\n"
      "form input name=\"user\" type=\"text\" value=\"me\"\n" "form input name=\"\" type=\"image\" src=\"b.png\" alt=\"go\"\n"
      "form textarea name=\"t\" content=\"hi &amp; bye\"\n" "form select name=\"s\"\n"
      "form button type=\"submit\"\n" "script type=\"text/javascript\" src=\"s.js\" content=\"\"\n"
      "script language=\"JavaScript\" content=\"x=1\"\n" "object iframe src=\"f.html\"\n"
      "object embed src=\"m.swf\" type=\"application/x-flash\"\n" "object object data=\"o.swf\"\n"
      "object frame src=\"fr\" name=\"f\"\n",
      page.Elements());
  EXPECT_EQ("One & Twohi & byeook", page.AllText());
}

TEST(HTMLParser2Test, AttributeAndListBounds) {
  const std::size_t bound = CHTMLParser2::kMaxAttributesPerTag;
  for (const std::size_t junk : {bound - 1, bound}) {
    std::string html = "<a";
    for (std::size_t i = 0; i < junk; ++i) html += " j";
    const ParsedPage page(html + " href=x>");
    EXPECT_EQ(junk < bound, page.document->getLink(0)->hasAttribute(CHTMLURL::kHref)) << junk;
  }
  std::u16string html;
  for (std::size_t i = 0; i <= CHTMLParser2::kMaxListElements; ++i) html += u"<img>";
  ParsedPage page(html + u"end");
  ASSERT_EQ(0, page.status);
  EXPECT_EQ(CHTMLParser2::kMaxListElements, page.document->getImageCount());
  EXPECT_EQ(CHTMLParser2::kMaxListElements + 2, page.document->getTokenCount());
  EXPECT_EQ("end", page.AllText());
}

// What must hold for any input: tokens in order, inside the page and not overlapping; link,
// script and comment ranges inside the page; the page text no longer than its runs.
void ExpectSound(const CHTMLParser2& document, std::size_t size) {
  std::uint64_t end = 0, textUnits = 0;
  for (std::size_t t = 0; t < document.getTokenCount(); ++t) {
    const SHTMLToken& token = *document.getToken(t);
    ASSERT_TRUE(token.start >= end && token.length > 0 && token.start + token.length <= size) << t;
    end = std::uint64_t{token.start} + token.length;
    textUnits += token.kind == HTML_TOKEN_TEXT ? token.length : 0;
  }
  auto inside = [size](SHTMLRange r) { return !r.IsPresent() || r.start + std::uint64_t{r.length} <= size; };
  for (std::size_t i = 0; i < document.getLinkCount(); ++i)
    for (int slot = 0; slot < CHTMLURL::kAttributeCount; ++slot)
      ASSERT_TRUE(inside(document.getLink(i)->getAttributeRange(slot)));
  for (std::size_t i = 0; i < document.getScriptCount(); ++i)
    ASSERT_TRUE(inside(document.getScript(i)->getContentRange()));
  for (std::size_t i = 0; i < document.getCommentCount(); ++i)
    ASSERT_TRUE(inside(document.getComment(i)->getContentRange()));
  const ascommon::usstring text = document.getAllText();
  ASSERT_TRUE(text.status() == 0 && text.length() <= textUnits);
}

std::u16string Repeat(const std::u16string& unit, std::size_t totalUnits) {
  std::u16string page;
  while (page.size() < totalUnits) page += unit;
  return page;
}

TEST(HTMLParser2Test, HostileAndRandomPagesFinishQuicklyAndStayInBounds) {
  const std::size_t mb = 10 * 1024 * 1024;
  std::vector<std::u16string> pages = {
      std::u16string(mb, u'<'),          Repeat(u"<a href=x>", mb / 2),
      Repeat(u"<a href=\"", mb / 4),     Repeat(u"<!--", mb / 4),
      u"<script>" + Repeat(u"</scrip", mb / 4),
      Repeat(u"&eacute", mb / 4) + u"&" + Repeat(u"9", 1000),
      Repeat(std::u16string(u"A\xD800<P>\xDC00\0&#0;\xDBFF\x416", 13), mb / 4),
      Repeat(u"<blockquoteblockquote ", mb / 4)};
  static const char16_t kUnits[] = u"<<>>/!-?\"'= &#;xa1bpsScrRiIpPtTAZ@[\0\xD800\xDC00\n\x416\x3A3\xFF21";
  const char16_t* pieces[] = {u"<script>", u"</script>", u"<a href=", u"<!--", u"-->",
                              u"<title>",  u"</title>",  u"<img src='", u"\U00010400ЖΣ"};
  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    std::u16string page(1 + random() % 200, u' ');
    for (char16_t& unit : page) unit = kUnits[random() % (sizeof(kUnits) / 2 - 1)];
    for (int k = 0; k < 3; ++k) page.insert(random() % page.size(), pieces[random() % 9]);
    pages.push_back(page);
  }
  for (const std::u16string& page : pages) {
    const auto start = std::chrono::steady_clock::now();
    CHTMLParser2 document;
    ASSERT_EQ(0, document.parse(page.data(), page.size(), false, false)) << Utf8(page.data(), 12);
    ExpectSound(document, page.size());
    std::u16string lower = page;  // The eight-units-a-step copy against the plain one.
    ascommon::WideLowerInPlace(lower.data(), lower.size());
    ASSERT_EQ(lower, std::u16string(document.getLowerBuffer(), document.getBufferSize()));
    // Linear work takes a fraction of this even under sanitizers; a quadratic pass does not.
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    EXPECT_LT(seconds.count(), 20.0) << Utf8(page.data(), 12);
  }
}

class AllocationFailureTest : public ::testing::Test {
 protected:
  void TearDown() override { asfn_fail_at(0, ASFN_FAIL_OFF); }
  const std::int64_t m_liveBefore = asfn_live_blocks();
  ~AllocationFailureTest() override { EXPECT_EQ(m_liveBefore, asfn_live_blocks()); }
};

TEST_F(AllocationFailureTest, EachFailureIsTracedAndReported) {
  zztest::TraceCapture trace;
  CHTMLParser2 document;
  EXPECT_EQ(-550, document.parse(nullptr, 4, false, false));
  EXPECT_EQ(-550, document.parse(u"<p>x", 0, false, false));
  EXPECT_EQ(2, trace.Count("Input incorect. buffer vid sau null"));
  const std::u16string html = U("<p>t&amp;</p><a href='h'>x</a>");
  asfn_fail_at(1, ASFN_FAIL_ONCE);
  EXPECT_EQ(-10, document.parse(html.data(), html.size(), false, false));
  EXPECT_EQ(1, trace.Count("Err alloc bufferHTMLLower"));
  EXPECT_FALSE(document.isParsed());
  ASSERT_EQ(0, document.parse(html.data(), html.size(), true, false));
  EXPECT_EQ(-551, document.parse(u"<b>", 3, false, false));
  EXPECT_EQ(1, trace.Count("A mai fost parsat o data pe ac obiect"));

  const std::pair<std::function<ascommon::usstring()>, const char*> decoders[] = {
      {[&] { return document.getAllText(); }, "Eroare alocare in CHTMLParser2::getAllText"},
      {[&] { return document.getLink(0)->getDecodedHref(); }, "Eroare alocare in CHTMLURL::getDecodedHref"}};
  for (const auto& [decode, message] : decoders) {
    asfn_fail_at(1, ASFN_FAIL_ONCE);
    const ascommon::usstring failed = decode();
    EXPECT_TRUE(failed.is_null() && failed.status() == -2) << message;
    EXPECT_EQ(1, trace.Count(message));
  }
  EXPECT_EQ("t&x", Utf8(document.getAllText()));
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
