// Match, exists, is-empty, size, phrase and KNN conditions on a page and on a message: what
// each where/how pair reads, the load-time and run-time refusals, the observer's stretch,
// the wide searcher against a plain search, and one engine shared by several threads.
#include <random>
#include <thread>

#include "common/strutils.h"
#include "conditions_fixture.h"
#include "engines/assl/rules/matchcondition.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace zztest {
namespace {

using nsEmlComponents::CPartBodyTextHtml;
using nsEmlComponents::CPartBodyTextPlain;

void FillPage(FakeContext& page) {
  page.html = "<b>Casino</b> Night \xC3\xA9t\xC3\xA9";
  page.htmlLower = "<b>casino</b> night \xC3\xA9t\xC3\xA9";
  page.parsed = "Casino Night \xC3\xA9t\xC3\xA9";
  page.parsedLower = "casino night \xC3\xA9t\xC3\xA9";
  page.url = "http://Example.com/Bet365/\xC3\x89t\xC3\xA9";
  page.title = "Poker Room";
  page.SetIntVariable("SCORE", 40);
  page.SetIntVariable("OTHER", 1);
}

// Headers Subject and X-Empty; a text/plain part p1, a text/html part h1 and an empty
// text/plain attachment of 5000 bytes under a container.
void FillMessage(FakeContext& message) {
  message.mail = true;
  message.AddHeader("SUBJECT", u"Cheap Pills");
  message.AddHeader("X-EMPTY", u"");
  auto* root = message.tree.AddNode(nullptr);
  auto* plain = new CPartBodyTextPlain();
  plain->name.assign("p1");
  plain->text.assign(u"hello World");
  message.tree.AddNode(root)->body = plain;
  auto* html = new CPartBodyTextHtml();
  html->name.assign("h1");
  html->raw.assign(u"<a href=x>Buy</a>");
  html->decoded.assign(u"Buy");
  html->decodedUtf8.assign("Buy");
  html->links.Add(usstring(u"http://pills.example/"));
  html->summary.assign("BWNE");
  message.tree.AddNode(root)->body = html;
  auto* attachment = message.tree.AddNode(root);
  attachment->headers.Add(new FakeHeader("Content-Disposition", u"attachment"));
  auto* file = new CPartBodyTextPlain();
  file->name.assign("att");
  file->size = 5000;
  attachment->body = file;
  message.facilitator.totalSize = 6001;
  message.facilitator.phrases = {{52, u"two words"}, {52, u"a |b"}};
  message.knn = assl::CKnnResult{true, "adult", 100.0};
}

struct Row {
  const char* condition;
  double value;
  const char* partName = "(none)";
};

class ConditionsTest : public RulesFixture {
 protected:
  // Loads one rule per row, named by its index, and runs each on a context of its own.
  template <std::size_t N>
  void CheckRows(const Row (&rows)[N], void (*fill)(FakeContext&)) {
    std::string rules;
    for (std::size_t i = 0; i < N; ++i) rules += Rule("R" + std::to_string(i), rows[i].condition);
    Load(rules);
    for (std::size_t i = 0; i < N; ++i) {
      FakeContext context;
      fill(context);
      const Row& row = rows[i];
      EXPECT_EQ(Run(("R" + std::to_string(i)).c_str(), context), row.value) << row.condition;
      EXPECT_EQ(context.Text("PARTNAME"), row.partName) << row.condition;
    }
  }
};

TEST_F(ConditionsTest, PageCodesReadTheirText) {
  const Row rows[] = {
      {"match(\"</\", HTML::Body, REGEX)", 1}, {"match(\"</\", HTML::Body, REGEX, DECODED)", 0},
      {"match(\"CASINO NIGHT \xC3\x89T\xC3\x89\", HTML::Body, REGEX_INSENSITIVE, DECODED)", 1},
      {"match(\"CASINO\", HTML::Body, REGEX)", 0},  {"match(\"Casino\", HTML::Body, EXACT)", 0},
      {"match(\"Poker\", HTML::Title, EXACT)", 0}, {"match(\"example.com\", HTML::Url, EXACT)", 0},
      {"match(\"EXAMPLE.COM/BET365/\xC3\x89T\xC3\x89\", HTML::Url, EXACT_INSENSITIVE)", 1},
      {"match(\"bet[0-9]+/\xC3\xa9t\", HTML::Url, REGEX_INSENSITIVE)", 1},
      {"match(\"^poker\", HTML::Title, REGEX_INSENSITIVE)", 1},
      {"match(\"http\", HTML::Url, OBFUSCATED)", 1},  {"match(\"http\", HTML::Url, IP_RANGE)", 0},
      {"score_greater_than(SCORE, 40)", 1},     {"score_greater_than(SCORE, 41)", 0},
      {"score_greater_than(SCORE, OTHER)", 0},  {"score_greater_than(ABSENT, 0)", 0},
  };
  CheckRows(rows, FillPage);
}

TEST_F(ConditionsTest, MessageCodesReadTheirPartsAndHeaders) {
  const Row rows[] = {
      {"match(\"pills\", Headers::\"subject\", EXACT_INSENSITIVE)", 1},
      {"match(\"Pills\", Headers::\"x-none\", EXACT)", 0},
      {"match(\"^Cheap\", Headers::ALL, REGEX)", 1},
      {"match(\"WORLD\", Parts::TextPlain, EXACT_INSENSITIVE)", 1, "p1"},
      {"match(\"world\", Parts::TextHTML, EXACT_INSENSITIVE)", 0},
      {"match(\"<a\", Parts::TextHTML, EXACT)", 1, "h1"},
      {"match(\"<a\", Parts::Text, EXACT, DECODED)", 0},
      {"match(\"^Buy$\", Parts::Text, REGEX, DECODED)", 1, "h1"},
      {"match(\"pills\\.example\", Urls::ALL, REGEX)", 1},
      {"match(\"BLE\", Parts::TextHTML, REGEX_SUMMARY)", 1, "h1"},
      {"match(\"^BE\", Headers::ALL, REGEX_SUMMARY)", 0},
      {"match(\"ATTACH\", PartHeaders::\"content-disposition\", EXACT_INSENSITIVE)", 1, "att"},
      {"match(\"^ATTACH\", PartHeaders::ALL, REGEX_INSENSITIVE)", 1, "att"},
      {"match(\"(phrase matching)?nothing|two words\", Parts::Text, EXACT)", 1},
      {"match(\"(phrase matching)?nothing|two words\", Parts::TextHTML, EXACT)", 0},
      {"match(\"(phrase matching)?two words\", Parts::ALL, EXACT)", 0},
      {"match(\"(phrase matching)?|a\\|b||\", Parts::TextPlain, EXACT)", 1},
      {"exists(Headers::\"Subject\")", 1},             {"exists(Headers::\"X-None\")", 0},
      {"exists(Parts::TextHTML)", 1},
      {"exists(Headers::Collection, \"x-empty\")", 1},
      {"is_empty(Headers::\"X-Empty\")", 1},           {"is_empty(Headers::\"Subject\")", 0},
      {"is_empty(Parts::TextPlain)", 1},               {"is_empty(Parts::TextHTML)", 0},
      {"size_greater_than(Message::AnyAttachmentSize, 4999)", 1},
      {"size_greater_than(Message::AnyAttachmentSize, 5000)", 0},
      {"is_knn_categ(\"adult\")", 1},  {"is_knn_categ(\"adult\", 101)", 0},
      {"is_knn_categ(\"Adult\", 1)", 0}, {"size_greater_than(Message::TotalSize, 6000)", 1},
  };
  CheckRows(rows, FillMessage);
}

TEST_F(ConditionsTest, MissingContentThrowsAndBadConditionsAreNotLoaded) {
  const struct {
    const char* condition;
    bool mail;
    const char* message;
  } rows[] = {
      {"match(\"x\", Headers::ALL, EXACT)", false, "invalid pointer to headers map"},
      {"match(\"x\", HTML::Url, REGEX)", true, "invalid pointer to url"},
      {"match(\"x\", HTML::Body, REGEX_INSENSITIVE)", true,
       "invalid pointer to html content lower"},
      {"match(\"x\", HTML::Title, REGEX)", true, "invalid pointer to html parser"},
      {"is_knn_categ(\"adult\")", false, "NULL pointer to context"},
      {"size_greater_than(Message::TotalSize, 1)", false,
       "invalid reference to blackbox facilitator"},
      {"match(\"(phrase matching)?x\", Parts::Text, EXACT)", false,
       "invalid reference to facilitator"},
      {"exec(AnyHeuristic)", false, "invalid handle to code heur engine"},
      {"match(\"(phrase matching)?\", Parts::Text, EXACT)", false,
       "the match string does not contain any phrase"},
      {"match(\"x\", Headers::\"S\xC3\xBC\", EXACT)", false, "specific header name not ASCII"},
      {"match(\"(\", HTML::Body, REGEX)", false,
       "FastPCRE:could not initialize regex from string [(]"},
      {"match(\"x\", Parts::ALL, REGEX_SUMMARY)", false,
       "summary queries can only be performed on text parts or all headers"},
  };
  for (const auto& row : rows) {
    TraceCapture trace;
    Load(Rule("R", row.condition));
    FakeContext context;
    if (row.mail) FillMessage(context);
    const std::string what =
        Has("R") ? WhatOf([&] { Run("R", context); }) : trace.Find(row.message);
    EXPECT_NE(what.find(row.message), std::string::npos) << row.condition << ": " << what;
  }
}

TEST_F(ConditionsTest, ObfuscatedFindsDisguisedWordsWithTheDefaultCosts) {
  m_rules.Write("aswfconf.dat",
                ReadBytes(fs::path(ZAZOZOR_SOURCE_DIR) / "data/rules/aswfconf.dat"));
  Load(Rule("Page", "match(\"viagra\", HTML::Body, OBFUSCATED, DECODED)") +
       Rule("Part", "match(\"w0rld\", Parts::TextPlain, OBFUSCATED)"));
  // The last page is studied in overlapping windows; the word straddles the first's end.
  const std::pair<std::string, double> pages[] = {
      {"cheap v1agra here", 1}, {"buy v-i-a-g-r-a now", 1}, {"VIAGRA\xE2\x80\x99s", 1},
      {"vagina", 0},            {"via great deals", 0},     {"viagr", 0},
      {std::string(199997, '.') + "v1agra" + std::string(99, '.'), 1}};
  for (const auto& [text, value] : pages) {
    FakeContext page;
    page.parsed = text;
    EXPECT_EQ(Run("Page", page), value) << text.substr(0, 40);
  }
  FakeContext message;
  FillMessage(message);
  EXPECT_EQ(Run("Part", message), 1.0);
  EXPECT_EQ(message.Text("PARTNAME"), "p1");
}

struct Observer : assl::IMatchObserver {
  std::vector<std::string> seen;
  void OnMatch(const char* rule, std::int32_t where, const char* text, std::size_t n) override {
    seen.push_back(std::string(rule) + " " + std::to_string(where) + " " + std::string(text, n));
  }
  void OnHeuristic(const char*, const char*, double) override {}
};

TEST_F(ConditionsTest, ObserverHearsTheMatchedStretch) {
  Load(Rule("Rx", "match(\"C[a-z]+\", HTML::Body, REGEX)") +
       Rule("Ex", "match(\"bet365/\xC3\xA9T\xC3\xA9\", HTML::Url, EXACT_INSENSITIVE)") +
       Rule("Ob", "match(\"CASINO\", HTML::Body, OBFUSCATED)"));
  FakeContext page;
  FillPage(page);
  Observer observer;
  page.SetObserver(&observer);
  Run("Rx", page);
  Run("Ex", page);
  Run("Ob", page);
  EXPECT_EQ(observer.seen, (std::vector<std::string>{"Rx 280 Casino",
                                                     "Ex 281 Bet365/\xC3\x89t\xC3\xA9",
                                                     "Ob 280 Casino"}));
}

TEST(WideSearcherTest, FindsWhatAPlainFoldedSearchFinds) {
  // 'a', its upper case, letters whose cases differ outside ASCII, and U+0161, whose low
  // byte is 'a': it shares a slot of the shift table.
  const char16_t alphabet[] = {u'a', u'A', u'b', 0xC9, 0xE9, 0x0161, 0x0160};
  std::mt19937 random(7);
  auto text = [&](std::size_t n) {
    std::u16string s;
    while (s.size() < n) s += alphabet[random() % std::size(alphabet)];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const bool fold = round % 2 == 0;
    std::u16string haystack = text(random() % 40), needle = text(1 + random() % 4);
    std::u16string folded = haystack;  // the plain search runs over lower-cased text
    if (fold) ascommon::WideLowerInPlace(needle.data(), needle.size());
    if (fold) ascommon::WideLowerInPlace(folded.data(), folded.size());
    assl::CWideSearcher searcher;
    searcher.Prepare(needle.data(), needle.size(), fold);
    ASSERT_EQ(searcher.Find(haystack.data(), haystack.size()), folded.find(needle));
  }
}

TEST_F(ConditionsTest, OneEngineServesManyThreadsAtOnce) {
  Load(Rule("InBody", "match(\"NIGHT \xC3\x89T\", HTML::Body, REGEX_INSENSITIVE)") +
       Rule("InUrl", "match(\"BET365\", HTML::Url, EXACT_INSENSITIVE)") +
       Rule("Absent", "match(\"absent\", HTML::Body, REGEX)") +
       Rule("Fuzzy", "match(\"casinos\", HTML::Body, OBFUSCATED)") +
       Rule("Both", "InBody && InUrl && Fuzzy && !Absent", "metarule"));
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        FakeContext page;
        FillPage(page);
        wrong += Run("Both", page) != 1.0 || Run("Absent", page) != 0.0;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace zztest
