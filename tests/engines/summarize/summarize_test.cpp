// Layout summaries of HTML and plain text, their run-length and pattern forms, the token
// cover test, and header signatures.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "asfn/asfn.h"
#include "engines/htmlparser2/htmlparser2.h"
#include "engines/summarize/headersummary.h"
#include "engines/summarize/htmlsummary.h"
#include "engines/summarize/textsummary.h"
#include "support/what_of.h"

namespace {

using ascommon::sstring;
using namespace summarize;

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
std::string Str(const sstring& s) { return s.is_null() ? "" : s.c_str(); }
struct Row {
  const char* in;
  std::string out;
};

TEST(HtmlSummaryTest, LayoutOfBodies) {
  const Row cases[] = {
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
  for (const Row& c : cases) {
    const std::u16string page = Wide(c.in);
    CHTMLParser2 document;
    sstring out;
    document.parse(page.data(), page.size(), false, false);
    EXPECT_EQ(0, SummarizeHtml(document, out));
    EXPECT_EQ(Str(out), c.out) << c.in;
  }
  sstring out("kept");
  EXPECT_TRUE(SummarizeHtml(CHTMLParser2(), out) == -1 && Str(out) == "kept");
}

TEST(TextSummaryTest, WordsLinesLinksAndParts) {
  const struct {
    bool part;  // SummarizePlainPart, else SummarizeText from state 0
    const char* text;
    const char* summary;
  } cases[] = {
      {false, "one www.x.com two\n", "WUWN"},
      {false, "see http://a.b\r\nand <HTTP://c.d> <www.e", "WUNWUU"},
      {false, "hello\t\twide www.", "WWW"},
      {false, "x http://", "WW"},
      {false, "x www.a", "WU"},
      {false, "a\n\n b\n", "WNNWN"},
      {false, "", ""},  // -1, nothing written
      {true, "", "BNE"},
      {true, "a b\n", "BWWNE"},
      {true, "a", "BWNE"},
  };
  for (const auto& c : cases) {
    const std::u16string text = Wide(c.text);
    sstring out(c.part ? "replaced" : "");
    std::int32_t state = 0;
    const std::int32_t status = c.part ? SummarizePlainPart(text.data(), text.size(), out)
                                       : SummarizeText(text.data(), text.size(), state, out);
    EXPECT_EQ(status, c.part || !text.empty() ? 0 : -1);
    EXPECT_EQ(Str(out), c.summary) << c.text;
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
  };
  for (const auto& c : cases) {
    ascommon::CArray<sstring> tokens;
    for (const char* token : c.tokens) tokens.Add(token);
    EXPECT_EQ(MatchSummaryTokens(c.summary, tokens), c.covered) << c.summary;
  }
}

// Each allocation failing in turn gives -2 and leaves no block behind, until none fails.
TEST(SummaryAllocationTest, EachFailureReportedWithoutLeak) {
  const std::u16string text = Wide(std::string(3000, 'x') + std::string(3000, '\n'));
  std::string html = "<body>";
  for (int i = 0; i < 3000; ++i) html += "a<!-- -->b ";  // one gap of joined runs
  const std::u16string page = Wide(html + "</body>");
  CHTMLParser2 document;
  ASSERT_EQ(0, document.parse(page.data(), page.size(), false, false));
  const std::function<std::int32_t(sstring&)> calls[] = {
      // each gives B, 3000 W or N, N?, E
      [&](sstring& out) { return SummarizePlainPart(text.data(), text.size(), out); },
      [&](sstring& out) { return SummarizeHtml(document, out); }};
  for (const auto& call : calls) {
    std::int32_t status = -2;
    for (std::uint64_t n = 1; status != 0 && n < 100; ++n) {
      const std::int64_t live = asfn_live_blocks();
      const std::uint64_t allocations = asfn_allocation_count();
      sstring out;
      asfn_fail_at(n, ASFN_FAIL_ONCE);
      status = call(out);
      asfn_fail_at(0, ASFN_FAIL_OFF);
      EXPECT_TRUE(status == -2 || (status == 0 && out.length() == 3003)) << n;
      out.clear();
      EXPECT_LT(asfn_allocation_count() - allocations, 20u);  // the summary grows geometrically
      EXPECT_EQ(live, asfn_live_blocks()) << n;
    }
  }
}

std::string HeaderSignature(const std::vector<const char*>& names) {
  std::vector<nsEmlComponents::CHeaderOther> headers(names.size());
  ascommon::CArray<nsEmlComponents::CHeader*> list;
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
  EXPECT_EQ(HeaderSignature({"received", "X-UNKNOWN", "FOO", "X-MAILER"}), "BOriceOriceXmailE");
  sstring out("untouched");
  EXPECT_TRUE(SummarizeHeaders(nullptr, out) == 0 && Str(out) == "untouched");
}

TEST(HeaderSummaryTest, SplitPatterns) {
  const std::string error = "ASException - MESSAGE: error: Rezumatul unui header ";
  const Row cases[] = {
      // codes joined by blanks, or the exception's message
      {"BRRFConty", "B R R F Conty"},
      {"BConteX", "B Conte X"},
      {"", ""},
      {"BRec", error + "poate avea 1 / 5 caractere: BRec"},
      {"BReE", error + "poate avea 1 / 5 caractere: BReE"},
      {"BContyxE", error + "nu poate avea mai mult de 5 caractere: BContyxE"},
      {"BR2E", error + "contine caractere a..z si A..Z: BR2E"},
  };
  for (const auto& c : cases) {
    ascommon::CArray<sstring> codes;
    std::string got = zztest::WhatOf([&] { SplitSummary(c.in, codes); });
    if (got == "(no exception)") {
      got.clear();
      for (std::uint64_t i = 0; i < codes.GetSize(); ++i) got += (i ? " " : "") + Str(codes[i]);
    }
    EXPECT_EQ(got, c.out) << c.in;
  }
}

// The code table is built on first use; threads that race to that first use all see it whole.
TEST(HeaderSummaryThreadTest, FirstUseFromManyThreads) {
  std::vector<std::string> results(8);
  std::vector<std::jthread> threads;
  for (std::string& r : results)
    threads.emplace_back([&r] { r = HeaderCode("TO") + HeaderSignature({}); });
  threads.clear();  // joins
  for (const std::string& result : results) EXPECT_EQ(result, "TBE");  // no headers: B and E
}

}  // namespace
