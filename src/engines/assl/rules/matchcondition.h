// MatchCondition: `match("pattern", WHERE, HOW[, PART MODE])`: whether the pattern occurs in
// the chosen text of the item: the page (body, URL, element texts) of an HTTP context; the
// headers, text parts, part headers, link targets or layout summaries of a mail context.
//
// EXACT / EXACT_INSENSITIVE search the wide form of the texts with a Horspool searcher
// prepared once in Init over the wide pattern (lower-cased for EXACT_INSENSITIVE, the text
// then folded unit by unit). REGEX / REGEX_INSENSITIVE / REGEX_SUMMARY run a fast regex
// compiled once in Init over the UTF-8 form; REGEX_INSENSITIVE compiles the lower-cased
// pattern and runs over lower-cased text (the page's own lower-cased forms, or a lower-cased
// copy of texts the context holds only as they are). OBFUSCATED reads the texts exact matching
// reads (and, on pages, those the regex forms read) and looks for the pattern as one word
// with the engines' fuzzy word finder, within kObfuscatedTolerance. The IP forms never hold;
// neither does exact matching on the HTML element codes.
//
// Ownership: owns its texts and its compiled regex, deleted through the library it was made
// with (the engines handle keeps that library loaded while this engine lives). The word
// finder is the engines handle's, which outlives the engine.
// Threads: Init once; Evaluate is const and keeps nothing in the object, so any number of
// threads may evaluate one condition on their own contexts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ustring.h"
#include "engines/assl/rules/acondition.h"

namespace asregex {
class IRegEx;
struct CRegexLib;
}  // namespace asregex
class CWordFinder;

namespace assl {

class CPrescanIndex;

// Substring search of a wide pattern, optionally ignoring case (the text is folded through
// WideToLower; the pattern must already be lower-cased). Horspool over the low byte of each
// unit: O(n / m) typical, O(n * m) worst case, no allocation. The pattern is not owned and
// must outlive the searcher.
class CWideSearcher {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  void Prepare(const char16_t* pattern, std::size_t length, bool foldCase) noexcept;
  // The first position of the pattern in text[0..length), or npos.
  std::size_t Find(const char16_t* text, std::size_t length) const noexcept;
  std::size_t PatternLength() const noexcept { return m_length; }

 private:
  const char16_t* m_pattern = nullptr;
  std::size_t m_length = 0;
  bool m_fold = false;
  std::uint32_t m_shift[256] = {};  // rule patterns are far below 4 GiB
};

// One text offered to a match: its wide form, its UTF-8 form, or both (null when absent).
// lowered says the UTF-8 form is already lower-cased.
struct CMatchText {
  const char16_t* wide = nullptr;
  std::size_t wideSize = 0;
  const char* utf8 = nullptr;
  std::size_t utf8Size = 0;
  bool lowered = false;
};

class MatchCondition : public ACondition {
 public:
  // OBFUSCATED's tolerance: the cost a match may have per word character (halved by the
  // word finder for words under 5 characters). The default cost file prices a look-alike
  // ("1" for "i") or a skipped filler ("-", ".", " ") at 0.1 and every other edit at 1.0,
  // so a 6-letter word allows 0.9: "v1agra", "v-i-a-g-r-a" and "VIAGRA" hold for "viagra",
  // while one real edit ("via great", 1.1) or more ("vagina") does not. From 7 letters on
  // one real edit passes.
  static constexpr float kObfuscatedTolerance = 0.15f;
  // Characters above U+00FF of a text are matched as this one (SUB): the word finder then
  // compares the rest of the text instead of giving up on it. Its costs are the cost file's.
  static constexpr char16_t kWideStandIn = 0x1A;
  // Texts longer than the word finder studies at once are searched in windows that overlap
  // by this many characters (a match spanning more may be missed at a window's edge).
  static constexpr std::size_t kWindowOverlap = 1000;

  // The visitors over the message parts tree (matchfinders.h).
  class PartFinder;        // text bodies (exact and regex)
  class PartHeaderFinder;  // part headers, all or by name
  class URLFinder;         // link targets of text/html bodies
  class SummaryFinder;     // layout summaries of text bodies (REGEX_SUMMARY)

  MatchCondition(std::int32_t where, std::int32_t how, std::int32_t partMode) noexcept
      : ACondition(kCondMatch), m_where(where), m_how(how), m_partMode(partMode) {}
  ~MatchCondition() override;

  // Copies the pattern and the header name (upper-cased; null for none). 0, or -2 when a
  // copy cannot be allocated.
  std::int32_t SetTexts(const char* pattern, const char* header);

  // Prepares the searcher, asks the engines for the word finder (OBFUSCATED) or compiles the
  // regex; ASException "could not obtain fast regex from handle", "FastPCRE:could not initialize regex from string [%s]" (and its summary
  // forms), "summary queries can only be performed on text parts or all headers", or a
  // conversion error of the pattern.
  void Init(CEnginesHandle* engines) override;
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

  std::int32_t Where() const noexcept { return m_where; }
  std::int32_t How() const noexcept { return m_how; }
  std::int32_t PartMode() const noexcept { return m_partMode; }
  const ascommon::sstring& HeaderName() const noexcept { return m_header; }

  // Whether the pattern occurs in text; on a hit reports the matched stretch to the
  // context's observer, when there is one. Converts between the forms only when the one
  // needed is absent.
  bool Test(const CMatchText& text, ContextInterface* context) const;

  // The literals one of which every match contains (RequiredLiterals of the pattern
  // compiled), found by Init; empty when none.
  const std::vector<std::string>& RequiredTexts() const noexcept { return m_literals; }
  bool RequiredTextsCaseless() const noexcept { return m_literalsCaseless; }
  // Makes the page texts' regex test ask index first (slot of RequiredTexts); null: never.
  void SetPrescan(const CPrescanIndex* index, std::uint32_t slot) noexcept {
    m_prescan = index;
    m_prescanSlot = slot;
  }

 private:
  enum RegexKind { kPlainRegex, kSummaryRegex, kHeaderSummaryRegex };
  void PrepareExact();
  void Compile(CEnginesHandle* engines, const char* pattern, RegexKind kind);
  double EvaluateHtml(ContextInterface* context) const;
  double EvaluateHeaders(ContextInterface* context) const;
  double EvaluateParts(ContextInterface* context) const;
  bool TestExact(const CMatchText& text, ContextInterface* context) const;
  bool TestRegex(const CMatchText& text, ContextInterface* context) const;
  bool TestObfuscated(const CMatchText& text, ContextInterface* context) const;
  // Tells the context's observer the matched stretch of a wide text.
  void ReportWide(ContextInterface* context, const char16_t* stretch, std::size_t length) const;

  std::int32_t m_where;
  std::int32_t m_how;
  std::int32_t m_partMode;
  ascommon::sstring m_pattern;
  ascommon::sstring m_header;         // upper-case name, where 201 and 261
  ascommon::usstring m_widePattern;   // exact forms (lower-cased when insensitive), OBFUSCATED
  CWordFinder* m_finder = nullptr;    // Not owned: the engines handle's (OBFUSCATED).
  CWideSearcher m_searcher;           // over m_widePattern
  asregex::IRegEx* m_regex = nullptr;     // Owned, deleted through m_lib.
  asregex::CRegexLib* m_lib = nullptr;    // Not owned.
  std::vector<std::string> m_literals;
  bool m_literalsCaseless = false;
  const CPrescanIndex* m_prescan = nullptr;  // Not owned: the engine's, which owns this.
  std::uint32_t m_prescanSlot = 0;
};

}  // namespace assl
