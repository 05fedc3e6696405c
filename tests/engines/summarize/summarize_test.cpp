// Layout summaries of HTML and plain text, their run-length and pattern forms, the token
// cover test, and header signatures.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engines/htmlparser2/htmlparser2.h"
#include "engines/summarize/headersummary.h"
#include "engines/summarize/htmlsummary.h"
#include "engines/summarize/textsummary.h"
#include "support/what_of.h"

namespace {

using ascommon::CArray;
using ascommon::sstring;
using namespace summarize;

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
std::string Str(const sstring& s) { return s.is_null() ? "" : s.c_str(); }

std::string HtmlSummary(const std::string& html) {
  const std::u16string page = Wide(html);
  CHTMLParser2 document;
  EXPECT_EQ(0, document.parse(page.data(), page.size(), false, false));
  sstring out;
  EXPECT_EQ(0, SummarizeHtml(document, out));
  return Str(out);
}

TEST(HtmlSummaryTest, LayoutOfBodies) {
  const struct {
    const char* html;
    const char* summary;
  } cases[] = {
      {"<html><body></body></html>", "BE"},
      {"<title>not counted</title><body>x</body>", "BWNE"},
      {"<body>see <a href=x>click here now</a> end</body>", "BWUWNE"},
      {"<body>one two<br>three<p>four</p><div>five</div></body>", "BWWNWNNWNNWE"},
      {"<body><p></p><p><b>x</b></p></body>", "BNNWE"},
      {"<body><br><div></div>text<i>more</i></body>", "BNNWWE"},
      {"<body><br><div>x<i>y</i></div></body>", "BNNWWE"},
      {"<body><div>a</div><p>b</p>tail</body>", "BWNNWNNWE"},
      {"<body><div>a</div>tail</body>", "BWNWE"},
      {"<body><br><p><p>y<i>z</i></body>", "BNNNWWE"},
      // Markup inside a word does not split it.
      {"<body>a<!-- c -->b c</body>", "BWWNE"},
      // A fragment without a body element reads as if one enclosed it.
      {"hello <b>bold</b> world", "BWWWNE"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlSummary(c.html), c.summary) << c.html;
  sstring out("kept");
  EXPECT_EQ(-1, SummarizeHtml(CHTMLParser2(), out));
  EXPECT_EQ(Str(out), "kept");
}

TEST(TextSummaryTest, WordsLinesAndLinks) {
  const struct {
    const char* text;
    const char* symbols;
  } cases[] = {
      {"one www.x.com two\n", "WUWN"},
      {"see http://a.b\r\nand <HTTP://c.d> <www.e", "WUNWUU"},
      {"hello\t\twide www.", "WWW"},
      {"x http://", "WW"},
      {"x www.a", "WU"},
      {"a\n\n b\n", "WNNWN"},
      {"", ""},  // -1, nothing written
  };
  for (const auto& c : cases) {
    const std::u16string text = Wide(c.text);
    sstring out;
    std::int32_t state = 0;
    EXPECT_EQ(text.empty() ? -1 : 0, SummarizeText(text.data(), text.size(), state, out));
    EXPECT_EQ(Str(out), c.symbols) << c.text;
  }
}

TEST(TextSummaryTest, PlainPartsAreFinished) {
  const struct {
    std::string text;
    std::string summary;
  } cases[] = {
      {"", "BNE"},
      {"a b\n", "BWWNE"},
      {"a", "BWNE"},
      {std::string(20000, 'x') + std::string(5000, '\n'),
       "BW" + std::string(5000, 'N') + "E"},
  };
  sstring out("previous content");
  for (const auto& c : cases) {
    const std::u16string text = Wide(c.text);
    EXPECT_EQ(0, SummarizePlainPart(text.data(), text.size(), out));
    EXPECT_EQ(Str(out), c.summary) << c.text.substr(0, 10);
  }
}

TEST(SummaryFormsTest, RunLengthAndPatterns) {
  const struct {
    std::int32_t (*form)(const sstring&, sstring&);
    const char* in;
    const char* out;
  } cases[] = {
      {CompressSummary, "BWWWNNE", "BW{3}N{2}E"},
      {CompressSummary, "BWWW", "B{3}"},  // the final run loses its symbol
      {CompressSummary, "BWNE", "BWNE"},
      {CompressSummary, "", ""},
      {PatternToRegex, "BL+XE", "^B([WU]{1,100}N)+(U[WU]{0,100}N)(E$)"},
      {PatternToRegex, "B?X{2}L*WE", "(^B)?([WU]{0,100}U[WU]{0,100}N){2}([WU]{1,100}N)*W(E$)"},
  };
  for (const auto& c : cases) {
    sstring out("x");
    EXPECT_EQ(0, c.form(c.in, out));
    EXPECT_EQ(Str(out), c.out) << c.in;
  }
}

TEST(SummaryFormsTest, TokensCoverSummary) {
  const struct {
    const char* summary;
    std::vector<const char*> tokens;
    bool covered;
  } cases[] = {
      {"BRRFContyE", {"B", "R", "R", "F", "Conty", "E"}, true},
      {"BContyCE", {"B", "C", "Conty", "E"}, true},  // "C" skips the start of "Conty"
      {"BRE", {"B", "F", "E"}, false},               // a token not found
      {"BRRE", {"B", "R", "E"}, false},              // a symbol left over
      {"BE", {"B", "E"}, false},                     // fewer than three tokens
      {"BRE", {"R", "B", "E"}, false},
      {"BRE", {"B", "E", "R"}, false},
      {"", {"B", "R", "E"}, false},
  };
  for (const auto& c : cases) {
    CArray<sstring> tokens;
    for (const char* token : c.tokens) tokens.Add(token);
    EXPECT_EQ(MatchSummaryTokens(c.summary, tokens), c.covered) << c.summary;
  }
}

std::string HeaderSignature(const std::vector<const char*>& names) {
  std::vector<nsEmlComponents::CHeaderOther> headers(names.size());
  CArray<nsEmlComponents::CHeader*> list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    headers[i].SetName(names[i]);
    list.Add(&headers[i]);
  }
  sstring out("a longer previous signature");
  EXPECT_EQ(0, SummarizeHeaders(&list, out));
  return Str(out);
}

TEST(HeaderSummaryTest, SignaturesOfHeaderBlocks) {
  EXPECT_EQ(HeaderSignature({"RECEIVED", "RECEIVED", "FROM", "TO", "SUBJECT", "DATE", "MESSAGE-ID",
                             "MIME-VERSION", "CONTENT-TYPE", "X-SPAM-FLAG"}),
            "BRRFTSDMVContyE");
  EXPECT_EQ(HeaderSignature({}), "BE");
  EXPECT_EQ(HeaderSignature({"received", "X-UNKNOWN", "FOO", "X-MAILER"}), "BOriceOriceXmailE");
  sstring out("untouched");
  EXPECT_EQ(0, SummarizeHeaders(nullptr, out));
  EXPECT_EQ(Str(out), "untouched");
}

TEST(HeaderSummaryTest, SplitPatterns) {
  const std::string error = "ASException - MESSAGE: error: Rezumatul unui header ";
  const struct {
    const char* pattern;
    std::string codes;  // joined by blanks, or the exception's message
  } cases[] = {
      {"BRRFConty", "B R R F Conty"},
      {"BConteX", "B Conte X"},
      {"", ""},
      {"BRec", error + "poate avea 1 / 5 caractere: BRec"},
      {"BReE", error + "poate avea 1 / 5 caractere: BReE"},
      {"BContyxE", error + "nu poate avea mai mult de 5 caractere: BContyxE"},
      {"BR2E", error + "contine caractere a..z si A..Z: BR2E"},
  };
  for (const auto& c : cases) {
    CArray<sstring> codes;
    std::string got = zztest::WhatOf([&] { SplitSummary(c.pattern, codes); });
    if (got == "(no exception)") {
      got.clear();
      for (std::uint64_t i = 0; i < codes.GetSize(); ++i) got += (i ? " " : "") + Str(codes[i]);
    }
    EXPECT_EQ(got, c.codes) << c.pattern;
  }
}

// The code table is built on first use; threads that race to that first use all see it whole.
TEST(HeaderSummaryThreadTest, FirstUseFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<std::string> results(8);
  for (std::size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&results, t] {
      const char* code = HeaderCode("X-PRIORITY");
      results[t] = (code ? code : "?") + HeaderSignature({"DKIM-SIGNATURE", "TO", "CC", "ZZ"});
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& result : results) EXPECT_EQ(result, "XprioBDksigTCOriceE");
}

}  // namespace
