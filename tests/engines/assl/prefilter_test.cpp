// Literal pre-scan: the literal read from risky patterns; the multi-literal scan against
// std::string::find; and random rules over random texts and the sample pages giving the
// same results with the pre-scan on and off (a skipped regex never hides a match).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "common/convert.h"
#include "conditions_fixture.h"
#include "engines/assl/prefilter/literalset.h"
#include "engines/assl/prefilter/requiredliteral.h"

namespace zztest {
namespace {

TEST(RequiredLiteralTest, ReadsOnlyWhatEveryMatchHolds) {
  const struct {
    const char* pattern;
    const char* literals;  // joined by '|', "" for none; a leading '~' marks caseless ones
  } cases[] = {
      {"abc", "abc"}, {"ab|cdef", ""}, {"(x|y)abcd", "abcd"}, {"ab{0,2}cde", "cde"},
      {"abc|(?:xyz|d\\w+efg)", "abc|efg|xyz"}, {"(?i)\\b(?:kiwi|(mango)?)\\b", ""},
      {"(?i)\\b(?:PEAR|(mango)+)?x(tea|(oat)|gum)", "~gum|oat|tea"}, {"((a)|bcd)efgh", "efgh"},
      {"xa{2}bcd", "bcd"}, {"abcd+?e", "abcd"}, {"x*abc", "abc"}, {"a\\d+bcd", "bcd"},
      {"[]abc]def", "def"}, {"[^]x]yz", ""}, {"[[:alpha:]]]xyz", "]xyz"}, {"\\.com\\/x", ".com/x"},
      {"\\p{L}abc", "abc"}, {"\\pLabc", "abc"}, {"ab\\12cde", "cde"},
      {"h\xC3\xA9llo", "h\xC3\xA9llo"},
      {"(?s)abc(?m)de", "abc"}, {"(?i)PRINTER", "~printer"}, {"(?i)desk top", "~ top"},
      {"(?i)h\xC3\xA9llo", "~llo"}, {"abc(?i)def", ""}, {"(?i)abc(?-i)def", ""}, {"(?x)abc", ""},
      {"abc\\Qdef\\E", ""}, {"(*UTF)abcd", ""}, {"abc\\x41", ""}, {"xyz\\E?w", ""},
      {"abc{,3}", ""}, {"abc{x", ""},
      {"(?#c)abcd", ""}, {"(a(?x)#)b)abcd", ""}, {"abcd\\", ""}, {"(abc", ""}, {"[abc", ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> literals;
    bool caseless = false;
    const bool found = assl::RequiredLiterals(c.pattern, literals, caseless);
    std::string joined = caseless ? "~" : "";
    for (const std::string& literal : literals) {
      joined += (&literal == &literals[0] ? "" : "|") + literal;
    }
    EXPECT_EQ(joined, c.literals) << c.pattern;
    EXPECT_EQ(found, *c.literals != '\0') << c.pattern;
  }
}

// Pieces of patterns and of texts, chosen to meet the constructs the reader must respect,
// with U+212A and U+017F, which match 'k' and 's' caselessly.
const char* const kAtoms[] = {"abc", "kis", "Sk", "xyz", "\xC3\xA9", "\xE2\x84\xAA",
                              "\xC5\xBF", "q", "\\.", "\\-", "1", " ", "[a-c]", "[]a]",
                              "[^]k]", "[[:alpha:]]", "(ab|k)", "(?:s|x)", "(?=ab)", "(?!k)",
                              "(?<=a)", "(?i:ks)", "(a)", "(?:abc|xyz)", "(kis|q(?:Sk|xyz))",
                              ".", "^", "$", "\\b", "\\d", "\\w", "\\K", "\\E", "|", "(?i)",
                              "(?-i)"};
const char* const kQuantifiers[] = {"", "", "", "", "?", "*", "+", "{2}", "{0,2}", "{1,}",
                                    "+?", "*+"};
const char* const kPrefixes[] = {"", "", "(?i)", "(?s)", "(?is)"};
const char* const kPieces[] = {"a", "b", "c", "k", "K", "s", "S", "x", "y", "z", "q", "1",
                               ".", "-", " ", "\n", "abc", "kis", "xyz", "ABC", "\xC3\xA9",
                               "\xC3\x89", "\xE2\x84\xAA", "\xC5\xBF", "\xFF", "\xC3"};

std::string RandomPattern(std::mt19937& random) {
  std::string pattern = kPrefixes[random() % std::size(kPrefixes)];
  for (int n = 1 + random() % 6; n > 0; --n) {
    pattern += kAtoms[random() % std::size(kAtoms)];
    pattern += kQuantifiers[random() % std::size(kQuantifiers)];
  }
  return pattern;
}

std::string RandomText(std::mt19937& random, std::string text = "") {
  for (int n = random() % 24; n > 0; --n) {
    text.insert(random() % (text.size() + 1), kPieces[random() % std::size(kPieces)]);
  }
  return text;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
  return text;
}

TEST(LiteralSetTest, FindsWhatFindFinds) {
  std::mt19937 random(7);
  for (const bool caseless : {false, true}) {
    assl::CLiteralSet set(caseless);
    std::vector<std::string> literals;
    for (int i = 0; i < 300; ++i) {
      literals.push_back(RandomText(random).substr(0, 1 + random() % 8));
      if (literals.back().empty() || set.Add(literals.back()) != literals.size() - 1) {
        literals.pop_back();  // empty or a repeat
      }
    }
    set.Build();
    for (int t = 0; t < 500; ++t) {
      const std::string text = RandomText(random) + RandomText(random);
      std::vector<std::uint64_t> found(set.Words(), 0);
      set.Scan(text.data(), text.size(), found.data());
      const std::string folded = caseless ? AsciiLower(text) : text;
      for (std::size_t id = 0; id < literals.size(); ++id) {
        const std::string literal = caseless ? AsciiLower(literals[id]) : literals[id];
        ASSERT_EQ((found[id / 64] >> (id % 64) & 1) != 0, folded.find(literal) != std::string::npos)
            << caseless << " '" << literals[id] << "' in '" << text << "'";
      }
    }
  }
}

// Every rule of the engine run on text in a context reused from the previous text: each
// rule's name and + for a hit, - for a miss.
std::string RunAll(RuleEngine& engine, FakeContext& context, const std::string& text) {
  context.url = context.html = context.parsed = context.title = text;
  sstring lower;
  ascommon::Utf8Lower(sstring(text.c_str()), lower);
  context.htmlLower = context.parsedLower = lower.c_str() != nullptr ? lower.c_str() : "";
  context.CopyStateRecords(engine.Engine().GetStateTemplate());
  std::string results;
  for (std::uint32_t r = 0; r < engine.Engine().GetRuleCount(); ++r) {
    const char* name = engine.Engine().RuleAt(r)->Name().c_str();
    results += name;
    results += engine.Run(context, name) ? "+" : "-";
  }
  return results;
}

// Random rules on every pre-scanned text, loaded with the pre-scan on and off, give the
// same results on random texts (each followed by one of the same size in the same buffer)
// and on the sample pages with random insertions; so do four threads on one engine.
TEST(PrescanThreadTest, SkipsOnlyRegexesThatCannotMatch) {
  std::mt19937 random(11);
  const char* const places[] = {"HTML::Body, REGEX", "HTML::Body, REGEX, DECODED",
                                "HTML::Body, REGEX_INSENSITIVE", "HTML::Url, REGEX",
                                "HTML::Title, REGEX", "HTML::Body, REGEX_INSENSITIVE, DECODED"};
  std::string rules;
  for (int i = 0; i < 1500; ++i) {
    rules += Rule("R" + std::to_string(i), "match(\"" + RandomPattern(random) + "\", " +
                                               places[i % std::size(places)] + ")");
  }
  RuleEngine engines[2];
  for (int on = 0; on < 2; ++on) {
    setenv("ZAZOZOR_PRESCAN", on ? "1" : "0", 1);
    engines[on].Write("t.slf", rules);
    engines[on].handle.SetRegexLibrary(usstring(Wide(BinDir()).c_str()));
    engines[on].LoadFiles({"t.slf"});
  }
  unsetenv("ZAZOZOR_PRESCAN");
  std::vector<std::string> texts;
  for (const char* page : {"kids-encyclopedia.html", "pixel-quest.html", "poker-palace.html"}) {
    std::ifstream in(SourceDir() / "data/pages" / page, std::ios::binary);
    texts.push_back(RandomText(random, (std::stringstream() << in.rdbuf()).str()));
  }
  while (texts.size() < 300) {
    texts.push_back(RandomText(random) + RandomText(random));
    texts.emplace_back(texts.back().rbegin(), texts.back().rend());
  }
  std::vector<std::string> expected;
  FakeContext contexts[2];
  for (const std::string& text : texts) {
    expected.push_back(RunAll(engines[0], contexts[0], text));
    ASSERT_EQ(RunAll(engines[1], contexts[1], text), expected.back()) << text.substr(0, 200);
  }
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      FakeContext context;
      for (std::size_t i = t; i < texts.size(); i += 4) {
        wrong += RunAll(engines[1], context, texts[i]) != expected[i];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  std::size_t hits = 0;
  for (const std::string& results : expected) {
    hits += std::count(results.begin(), results.end(), '+');
  }
  EXPECT_GT(hits, texts.size());  // the texts do match many rules
}

}  // namespace
}  // namespace zztest
