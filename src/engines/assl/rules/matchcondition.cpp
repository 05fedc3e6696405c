// Match conditions: Init prepares the pattern once (wide Horspool table, or a compiled fast
// regex); Evaluate picks the texts of the where code and tests each until one hits. Exact
// matching reads the texts in place; only a text held in the other form than the one the
// how code needs (the page URL for exact matching, headers and links for regexes, texts
// without a lower-cased form for REGEX_INSENSITIVE) is converted, into a local copy.
// OBFUSCATED studies each text (in windows of the word finder's limit, characters above
// U+00FF replaced) and matches the wide pattern against it.
// Cost: O(total text) per Evaluate plus the regex engine's own; OBFUSCATED O(text x word).
// Tested by tests/engines/assl/conditions_match_test.cpp.
#include "engines/assl/rules/matchcondition.h"

#include <algorithm>
#include <memory>

#include "common/astrace.h"
#include "common/convert.h"
#include "common/strutils.h"
#include "engines/asregex/regexlib.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/exec_structs.h"
#include "engines/assl/prefilter/prescanindex.h"
#include "engines/assl/prefilter/requiredliteral.h"
#include "engines/assl/rules/existscondition.h"
#include "engines/assl/rules/matchfinders.h"
#include "engines/htmlparser/structs/bbfacilitator.h"
#include "engines/levenshtein/word_finder.h"
#include "engines/summarize/textsummary.h"

namespace assl {

namespace {

constexpr const char kPartName[] = "PARTNAME";

bool IsExact(std::int32_t how) noexcept { return how == kExact || how == kExactInsensitive; }

// The text of a string, "" for a null one.
const char* Str(const ascommon::sstring& text) noexcept {
  return text.c_str() != nullptr ? text.c_str() : "";
}

void ThrowMemory() { AS_THROW(0, ASMemException, "memory problems"); }

// The text as wide units: its own, or its UTF-8 converted into converted (an invalid sequence
// keeps the text converted before it). False when the text has neither form.
bool WideText(const CMatchText& text, ascommon::usstring& converted, const char16_t*& wide,
              std::size_t& size) {
  wide = text.wide;
  size = text.wideSize;
  if (wide != nullptr) return true;
  if (text.utf8 == nullptr) return false;
  if (ascommon::Utf8ToUsstring(text.utf8, text.utf8Size, converted) == -2) ThrowMemory();
  wide = converted.c_str() != nullptr ? converted.c_str() : u"";
  size = converted.length();
  return true;
}

void Report(ContextInterface* context, std::int32_t where, const char* text, std::size_t size) {
  context->GetObserver()->OnMatch(context->GetCurrentRuleName(), where, text, size);
}

}  // namespace

void CWideSearcher::Prepare(const char16_t* pattern, std::size_t length, bool foldCase) noexcept {
  m_pattern = pattern;
  m_length = length;
  m_fold = foldCase;
  for (std::uint32_t& shift : m_shift) shift = static_cast<std::uint32_t>(length);
  for (std::size_t i = 0; i + 1 < length; ++i) {
    m_shift[pattern[i] & 0xFF] = static_cast<std::uint32_t>(length - 1 - i);
  }
}

std::size_t CWideSearcher::Find(const char16_t* text, std::size_t length) const noexcept {
  if (m_length == 0) return 0;
  if (text == nullptr || length < m_length) return npos;
  auto unit = [this, text](std::size_t at) {
    return m_fold ? ascommon::WideToLower(text[at]) : text[at];
  };
  const std::size_t last = m_length - 1;
  for (std::size_t pos = 0; pos + m_length <= length;) {
    const char16_t tail = unit(pos + last);
    if (tail == m_pattern[last]) {
      std::size_t j = last;
      while (j > 0 && unit(pos + j - 1) == m_pattern[j - 1]) --j;
      if (j == 0) return pos;
    }
    pos += m_shift[tail & 0xFF];
  }
  return npos;
}

MatchCondition::~MatchCondition() {
  if (m_regex != nullptr) asregex::DeleteRegex(m_lib, m_regex);
}

std::int32_t MatchCondition::SetTexts(const char* pattern, const char* header) {
  const std::int32_t status = m_pattern.assign(pattern);
  return status != 0 ? status : AssignUpperName(m_header, header);
}

void MatchCondition::Init(CEnginesHandle* engines) {
  switch (m_how) {
    case kExact:
    case kExactInsensitive:
      PrepareExact();
      return;
    case kRegex:
      Compile(engines, Str(m_pattern), kPlainRegex);
      return;
    case kRegexInsensitive: {
      ascommon::usstring wide;
      ascommon::sstring lower;
      if (ascommon::Utf8ToUsstring(m_pattern, wide) != 0) {
        AS_THROW(0, ASException, "could not convert from UTF-8 to UCS - invalid input");
      }
      ascommon::WideLowerInPlace(wide.data(), wide.length());
      if (ascommon::UsstringToUtf8(wide, lower) != 0) {
        AS_THROW(0, ASException, "could not convert from UCS to UTF-8 - invalid input");
      }
      AS_TRACE(3, "[ before ] normal    = '%s'", Str(m_pattern));
      AS_TRACE(3, "[ after  ] lowercase = '%s'", Str(lower));
      Compile(engines, Str(lower), kPlainRegex);
      return;
    }
    case kRegexSummary:
      if (m_where == kPartsText || m_where == kPartsTextPlain || m_where == kPartsTextHtml) {
        Compile(engines, Str(m_pattern), kSummaryRegex);
      } else if (m_where == kHeadersAll) {
        Compile(engines, Str(m_pattern), kHeaderSummaryRegex);
      } else {
        AS_TRACE(0, "summary queries are possible on: Parts::Text, Parts::TextPlain, "
                    "Parts::TextHTML, Headers::All");
        AS_THROW(0, ASException,
                 "summary queries can only be performed on text parts or all headers");
      }
      return;
    case kObfuscated:
      PrepareExact();
      if (engines != nullptr) m_finder = engines->GetWordFinder();
      return;
    default:  // the IP forms need nothing
      return;
  }
}

void MatchCondition::PrepareExact() {
  if (ascommon::Utf8ToUsstring(m_pattern, m_widePattern) != 0) {
    AS_THROW(0, ASException, "could not convert from UTF-8 to UCS - invalid input");
  }
  if (m_how == kExactInsensitive) {
    ascommon::WideLowerInPlace(m_widePattern.data(), m_widePattern.length());
  }
  m_searcher.Prepare(m_widePattern.c_str(), m_widePattern.length(), m_how == kExactInsensitive);
}

void MatchCondition::Compile(CEnginesHandle* engines, const char* pattern, RegexKind kind) {
  if (m_regex != nullptr) return;  // compiled by an earlier Init
  asregex::CRegexLib* lib = engines != nullptr ? engines->GetRegexLib() : nullptr;
  asregex::IRegEx* regex = asregex::NewFastRegex(lib);
  if (regex == nullptr) AS_THROW(0, ASException, "could not obtain fast regex from handle");
  m_regex = regex;
  m_lib = lib;
  bool compiled = false;
  try {
    // A layout pattern's B, L, X and E stand for the start, a line, a line with a link and
    // the end of a part's summary; the rest is regular-expression syntax.
    ascommon::sstring layout;
    if (kind == kSummaryRegex && summarize::PatternToRegex(m_pattern, layout) != 0) ThrowMemory();
    compiled = regex->Compile(kind == kSummaryRegex ? Str(layout) : pattern);
  } catch (const ASMemException&) {
    throw;
  } catch (...) {
    compiled = false;
  }
  if (compiled) {
    if (kind == kPlainRegex) RequiredLiterals(pattern, m_literals, m_literalsCaseless);
    return;
  }
  switch (kind) {
    case kPlainRegex:
      AS_THROW(0, ASException, "FastPCRE:could not initialize regex from string [%s]", pattern);
    case kSummaryRegex:
      AS_THROW(0, ASException, "FastPCRE: could not initialize summary regex from string [%s]",
               pattern);
    case kHeaderSummaryRegex:
      AS_THROW(0, ASException,
               "FastPCRE: could not initialize header summary regex from string [%s]", pattern);
  }
}

bool MatchCondition::Test(const CMatchText& text, ContextInterface* context) const {
  if (m_how == kObfuscated) return TestObfuscated(text, context);
  return IsExact(m_how) ? TestExact(text, context) : TestRegex(text, context);
}

bool MatchCondition::TestExact(const CMatchText& text, ContextInterface* context) const {
  const char16_t* wide = nullptr;
  std::size_t size = 0;
  ascommon::usstring converted;
  if (!WideText(text, converted, wide, size)) return false;
  const std::size_t at = m_searcher.Find(wide, size);
  if (at == CWideSearcher::npos) return false;
  if (context->GetObserver() != nullptr) ReportWide(context, wide + at, m_searcher.PatternLength());
  return true;
}

void MatchCondition::ReportWide(ContextInterface* context, const char16_t* stretch,
                                std::size_t length) const {
  ascommon::sstring utf8;
  if (ascommon::UsstringToUtf8(ascommon::usstring(stretch, length), utf8) == -2) ThrowMemory();
  Report(context, m_where, Str(utf8), utf8.length());
}

bool MatchCondition::TestRegex(const CMatchText& text, ContextInterface* context) const {
  const char* utf8 = text.utf8;
  std::size_t size = text.utf8Size;
  ascommon::sstring copy;
  if (utf8 == nullptr) {
    if (text.wide == nullptr) return false;
    if (ascommon::UsstringToUtf8(ascommon::usstring(text.wide, text.wideSize), copy) == -2) {
      ThrowMemory();
    }
    utf8 = Str(copy);
    size = copy.length();
  }
  if (m_how == kRegexInsensitive && !text.lowered) {
    if (copy.is_null() && copy.assign(utf8, size) != 0) ThrowMemory();
    // An invalid text is matched as it is.
    if (ascommon::Utf8Lower(copy, copy) == -2) ThrowMemory();
    utf8 = Str(copy);
    size = copy.length();
  }
  if (context->GetObserver() == nullptr) return m_regex->Match(utf8, size, 0);
  std::size_t start = 0;
  std::size_t end = 0;
  if (!m_regex->Find(utf8, size, &start, &end)) return false;
  Report(context, m_where, utf8 + start, end - start);
  return true;
}

bool MatchCondition::TestObfuscated(const CMatchText& text, ContextInterface* context) const {
  const char16_t* wide = nullptr;
  std::size_t size = 0;
  ascommon::usstring converted;
  if (!WideText(text, converted, wide, size)) return false;
  if (size == 0 || m_widePattern.length() == 0) return false;
  const std::size_t window = std::min(size, CWordFinder::kMaxTextLength);
  auto release = [](char16_t* block) { ascommon::as_free(block); };
  std::unique_ptr<char16_t, decltype(release)> buffer(
      ascommon::as_alloc_array_nt<char16_t>(window), release);
  if (buffer == nullptr) ThrowMemory();
  const bool observed = context->GetObserver() != nullptr;
  for (std::size_t begin = 0;; begin += window - kWindowOverlap) {
    const std::size_t length = std::min(window, size - begin);
    for (std::size_t i = 0; i < length; ++i) {
      const char16_t unit = wide[begin + i];
      buffer.get()[i] = unit > 0xFF ? kWideStandIn : unit;
    }
    std::unique_ptr<CWordFinder::CStudy> study = m_finder->Study(buffer.get(), length);
    study->tolerance = kObfuscatedTolerance;
    study->detail = observed ? CWordFinder::kPositions : CWordFinder::kExistence;
    std::unique_ptr<CWordFinder::CMatchInfo> found =
        m_finder->Match(m_widePattern.c_str(), length, study.get());
    if (found != nullptr && found->found != 0) {
      if (observed && found->positions.GetSize() > 0) {
        const std::uint32_t start = found->starts[0];
        ReportWide(context, wide + begin + start, found->positions[0] - start);
      }
      return true;
    }
    if (begin + length >= size) return false;
  }
}

double MatchCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  switch (m_how) {
    case kExact:
    case kExactInsensitive:
      break;
    case kRegex:
    case kRegexInsensitive:
      if (m_regex == nullptr) AS_THROW(0, ASException, "invalid fast regex - maybe init failed");
      break;
    case kRegexSummary:
      if (m_regex == nullptr) {
        AS_THROW(0, ASException, "invalid reference to regular expression (invalid regex maybe?)");
      }
      break;
    case kObfuscated:
      if (m_finder == nullptr) AS_THROW(0, ASException, "invalid reference to word finder");
      break;
    default:  // IP_RANGE, IP_CLASS, IP_MASK
      return 0.0;
  }
  if (m_where >= kHtmlBody && m_where <= kHtmlScript) return EvaluateHtml(context);
  if (m_where == kHeadersAll || m_where == kHeadersNamed) return EvaluateHeaders(context);
  return EvaluateParts(context);
}

double MatchCondition::EvaluateHtml(ContextInterface* context) const {
  if (IsExact(m_how) && m_where != kHtmlUrl) return 0.0;
  CTextView view;
  bool lowered = false;
  if (m_where == kHtmlUrl) {
    view = context->GetUrl();
    if (!view.IsPresent()) AS_THROW(0, ASException, "invalid pointer to url");
  } else if (m_where == kHtmlBody) {
    lowered = m_how == kRegexInsensitive;
    if (m_partMode == kPartRaw) {
      view = context->GetHtmlContent(lowered);
      if (!view.IsPresent()) {
        if (lowered) AS_THROW(0, ASException, "invalid pointer to html content lower");
        AS_THROW(0, ASException, "invalid pointer to html content");
      }
    } else {
      view = context->GetParsedContent(lowered);
      if (!view.IsPresent()) {
        if (lowered) AS_THROW(0, ASException, "invalid pointer to parsed content lower");
        AS_THROW(0, ASException, "invalid pointer to parsed content");
      }
    }
  } else {
    if (context->GetHtmlParser() == nullptr) {
      AS_THROW(0, ASException, "invalid pointer to html parser");
    }
    view = context->GetElementText(m_where);
    if (!view.IsPresent()) return 0.0;
  }
  // A text without any of the pattern's literals cannot match: skip the regex.
  if (m_prescan != nullptr && !m_prescan->MayOccur(context, m_prescanSlot, view.data, view.size)) {
    return 0.0;
  }
  CMatchText text;
  text.utf8 = view.data;
  text.utf8Size = view.size;
  text.lowered = lowered;
  return Test(text, context) ? 1.0 : 0.0;
}

double MatchCondition::EvaluateHeaders(ContextInterface* context) const {
  nsEmlComponents::CHeadersMap* headers = context->GetHeaders();
  if (headers == nullptr) AS_THROW(0, ASException, "invalid pointer to headers map");
  if (m_how == kRegexSummary) {
    const CBBFacilitator* facilitator = context->GetFacilitator();
    const ascommon::sstring* summary =
        facilitator != nullptr ? facilitator->GetHeaderSummary() : nullptr;
    if (summary == nullptr || summary->length() == 0) {
      AS_TRACE(2, "header summary has length 0");
      return 0.0;
    }
    CMatchText text;
    text.utf8 = summary->c_str();
    text.utf8Size = summary->length();
    return TestRegex(text, context) ? 1.0 : 0.0;
  }
  auto test = [this, context](const nsEmlComponents::CHeader* header) {
    const ascommon::usstring& value = header->GetValue();
    CMatchText text;
    text.wide = value.c_str() != nullptr ? value.c_str() : u"";
    text.wideSize = value.length();
    return Test(text, context);
  };
  if (m_where == kHeadersNamed) {
    nsEmlComponents::CHeader** header = headers->Lookup(m_header);
    if (header == nullptr || *header == nullptr) {
      AS_TRACE(2, "could not find header with name %s", Str(m_header));
      return 0.0;
    }
    return test(*header) ? 1.0 : 0.0;
  }
  auto pos = headers->GetStartPosition();
  while (pos) {
    const ascommon::sstring* name = nullptr;
    nsEmlComponents::CHeader** header = nullptr;
    headers->GetNextAssoc(pos, name, header);
    if (*header != nullptr && test(*header)) return 1.0;
  }
  return 0.0;
}

double MatchCondition::EvaluateParts(ContextInterface* context) const {
  const nsEmlComponents::CPartsTree* tree = context->GetPartsTree();
  if (tree == nullptr) AS_THROW(0, ASException, "invalid pointer to parts tree");
  auto run = [tree, context](CMatchFinder&& finder, bool storesName) {
    tree->Visit(finder);
    if (!finder.Found()) return 0.0;
    if (storesName) {
      const ascommon::sstring* name = finder.PartName();
      context->SetStringVariable(kPartName, name != nullptr ? Str(*name) : "");
    }
    return 1.0;
  };
  switch (m_where) {
    case kPartsAll:
    case kPartsText:
    case kPartsTextPlain:
    case kPartsTextHtml:
      if (m_how == kRegexSummary) return run(SummaryFinder(*this, context), true);
      return run(PartFinder(*this, context), true);
    case kUrlsAll:
      return run(URLFinder(*this, context), false);
    case kPartHeadersAll:
    case kPartHeadersNamed:
      return run(PartHeaderFinder(*this, context), true);
    default:
      return 0.0;
  }
}

}  // namespace assl
