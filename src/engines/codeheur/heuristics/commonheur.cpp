// The message heuristics of CCodeHeurEngine: counts and forms read from the mail context's
// headers map (one hash probe per header) and from the text parts of its parts tree (one walk
// over the nodes). The layout heuristics read the message summary: the text parts' summaries
// joined and cut to kMaxSummary symbols. Tested by tests/engines/codeheur/codeheur_test.cpp.
#include <algorithm>
#include <cstring>

#include "common/strutils.h"
#include "engines/codeheur/codeheurengine.h"
#include "engines/codeheur/heuristics/heurhelpers.h"
#include "engines/emlcomponents/partstree.h"

using ascommon::sstring;
using ascommon::usstring;
using codeheur_detail::FindHeader;
using codeheur_detail::FindValue;
using codeheur_detail::StoreInt;
using codeheur_detail::StoreString;
using nsEmlComponents::CPartBody;

namespace {

// The longest message summary kept; a longer one ends in the cut marker 's'.
constexpr std::size_t kMaxSummary = 100;
// The outside mail-filtering service whose relay the received count stops at.
constexpr const char kFilteringServiceDomain[] = "mailfilter.zazozor.net";

bool IsTextPart(const CPartBody* body) noexcept {
  return body != nullptr && (body->GetType() == nsEmlComponents::kBodyTextPlain ||
                             body->GetType() == nsEmlComponents::kBodyTextHtml);
}

// The wide text of a text part: the plain text, or the decoded text of an HTML part.
const usstring& PartText(const CPartBody& body) noexcept {
  if (body.GetType() == nsEmlComponents::kBodyTextPlain)
    return static_cast<const nsEmlComponents::CPartBodyTextPlain&>(body).text;
  return static_cast<const nsEmlComponents::CPartBodyTextHtml&>(body).decoded;
}

// Calls visit(body) for every text part of the context's parts tree.
template <class Fn>
void ForEachTextPart(assl::ContextInterface* context, Fn visit) {
  class CPartsListener : public nsEmlComponents::CAPartsTreeListenerR {
   public:
    explicit CPartsListener(Fn& visit) : m_visit(visit) {}
    void Visit(const nsEmlComponents::CPartsTreeNode& node) override {
      if (IsTextPart(node.body)) m_visit(*node.body);
    }

   private:
    Fn& m_visit;
  };
  const nsEmlComponents::CPartsTree* tree = context->GetPartsTree();
  if (tree == nullptr) return;
  CPartsListener listener(visit);
  tree->Visit(listener);
}

bool IsAlphanumeric(char16_t unit) noexcept {
  return (unit >= u'0' && unit <= u'9') || ascommon::IsLetter(unit);
}

// The text parts' summaries joined in visiting order, cut to kMaxSummary symbols with 's'
// last when longer. Only kMaxSummary + 1 symbols are ever copied.
sstring MessageSummary(assl::ContextInterface* context) {
  sstring summary("");
  ForEachTextPart(context, [&summary](const CPartBody& body) {
    const std::size_t room = kMaxSummary + 1 - summary.length();
    if (room == 0 || body.summary.empty()) return;
    const std::size_t take = body.summary.length() < room ? body.summary.length() : room;
    if (summary.append(body.summary.c_str(), take) != 0)
      AS_THROW(0, ASMemException, "memory problems");
  });
  if (summary.length() > kMaxSummary) {
    summary.set_length(kMaxSummary);
    summary.data()[kMaxSummary - 1] = 's';
    AS_TRACE(3, "Trunked summary to %s", summary.c_str());
  }
  return summary;
}

usstring Widen(const sstring& text) {
  usstring wide;
  if (wide.fill(text.length() + 1, 0) != 0) AS_THROW(0, ASMemException, "memory problems");
  for (std::size_t i = 0; i < text.length(); ++i)
    wide.data()[i] = static_cast<unsigned char>(text.c_str()[i]);
  wide.set_length(text.length());
  return wide;
}

std::int64_t CountSymbol(const sstring& text, char symbol) noexcept {
  std::int64_t count = 0;
  for (std::size_t i = 0; i < text.length(); ++i) count += text.c_str()[i] == symbol;
  return count;
}

// The heuristics that count something in the message summary: count(symbols, length) is
// stored in the feature (an integer feature) and returned.
template <class Count>
double CountInSummary(assl::ContextInterface* context, CAFeature* feature, Count count) {
  const sstring summary = MessageSummary(context);
  const std::int64_t value = count(summary.c_str(), summary.length());
  StoreInt(feature, value, "CAFeature cast error");
  return static_cast<double>(value);
}

}  // namespace

double CCodeHeurEngine::pfMailSize(assl::CEnginesHandle*, assl::ContextInterface* context,
                                   CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  std::int64_t size = 0;
  ForEachTextPart(context, [&size](const CPartBody& body) { size += PartText(body).length(); });
  StoreInt(feature, size);
  return static_cast<double>(size);
}

double CCodeHeurEngine::pfMailLinesCount(assl::CEnginesHandle*, assl::ContextInterface* context,
                                         CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  std::int64_t lines = 0;
  ForEachTextPart(context,
                  [&lines](const CPartBody& body) { lines += CountSymbol(body.summary, 'N'); });
  StoreInt(feature, lines);
  return static_cast<double>(lines);
}

double CCodeHeurEngine::pfMailHeadersCount(assl::CEnginesHandle*, assl::ContextInterface* context,
                                           CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  std::int64_t count = 0;
  if (const nsEmlComponents::CHeadersMap* headers = context->GetHeaders()) {
    headers->ForEach([&count](const sstring& name, nsEmlComponents::CHeader* const&) {
      const char* text = name.c_str() != nullptr ? name.c_str() : "";
      if (std::strcmp(text, "RECEIVED") == 0) return;
      if (std::strncmp(text, "X-", 2) == 0 && std::strcmp(text, "X-MAILER") != 0) return;
      ++count;
    });
  }
  StoreInt(feature, count);
  return static_cast<double>(count);
}

double CCodeHeurEngine::pfMailMessageIDLength(assl::CEnginesHandle*,
                                              assl::ContextInterface* context,
                                              CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  std::int64_t length = 0;
  if (const usstring* value = FindValue(context, "MESSAGE-ID")) {
    const char16_t* text = value->c_str();
    const std::size_t size = value->length();
    std::size_t at = 0;
    while (at < size && (text[at] == u' ' || text[at] == u'\t')) ++at;
    if (at < size && text[at] == u'<') ++at;
    const std::size_t start = at;
    while (at < size && text[at] != u'@') ++at;
    length = at < size ? static_cast<std::int64_t>(at - start) : static_cast<std::int64_t>(size);
  }
  StoreInt(feature, length);
  return static_cast<double>(length);
}

double CCodeHeurEngine::pfMailSubjectLength(assl::CEnginesHandle*, assl::ContextInterface* context,
                                            CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const usstring* value = FindValue(context, "SUBJECT");
  const std::int64_t length = value != nullptr ? static_cast<std::int64_t>(value->length()) : 0;
  StoreInt(feature, length);
  return static_cast<double>(length);
}

double CCodeHeurEngine::pfMailSubjectSeparatorsCount(assl::CEnginesHandle*,
                                                     assl::ContextInterface* context,
                                                     CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  std::int64_t separators = 0;
  if (const usstring* value = FindValue(context, "SUBJECT")) {
    for (std::size_t i = 0; i < value->length(); ++i)
      separators += !IsAlphanumeric(value->c_str()[i]);
  }
  StoreInt(feature, separators, "CAFeature Cast Failed");
  return static_cast<double>(separators);
}

double CCodeHeurEngine::pfMailSubjectMaxLenWord(assl::CEnginesHandle*,
                                                assl::ContextInterface* context,
                                                CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  std::int64_t longest = 0;
  if (const usstring* value = FindValue(context, "SUBJECT")) {
    std::int64_t run = 0;
    for (std::size_t i = 0; i < value->length(); ++i) {
      run = IsAlphanumeric(value->c_str()[i]) ? run + 1 : 0;
      if (run > longest) longest = run;
    }
  }
  StoreInt(feature, longest, "CAFeature Cast Failed");
  return static_cast<double>(longest);
}

double CCodeHeurEngine::pfMailPartsCount(assl::CEnginesHandle*, assl::ContextInterface* context,
                                         CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const nsEmlComponents::CPartsTree* tree = context->GetPartsTree();
  const std::int64_t parts = tree != nullptr ? tree->CountFromRoot() : 0;
  StoreInt(feature, parts);
  return static_cast<double>(parts);
}

double CCodeHeurEngine::pfMailIsMultipart(assl::CEnginesHandle* engines,
                                          assl::ContextInterface* context,
                                          CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const double parts = pfMailPartsCount(engines, context, feature);
  StoreInt(feature, static_cast<std::int64_t>(parts) - 1);
  return parts > 1 ? 1.0 : 0.0;
}

double CCodeHeurEngine::pfMailIsFromEqualWithReplayto(assl::CEnginesHandle*,
                                                      assl::ContextInterface* context,
                                                      CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const usstring* from = FindValue(context, "FROM");
  const usstring* replyTo = FindValue(context, "REPLY-TO");
  const bool equal = from != nullptr && replyTo != nullptr && from->length() == replyTo->length() &&
                     ascommon::CompareUnits(from->c_str(), from->length(), replyTo->c_str(),
                                            replyTo->length()) == 0;
  StoreInt(feature, equal ? 1 : 0);
  return equal ? 1.0 : 0.0;
}

double CCodeHeurEngine::pfMailHeaderFromHasAName(assl::CEnginesHandle*,
                                                 assl::ContextInterface* context,
                                                 CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  bool named = false;
  const usstring* from = FindValue(context, "FROM");
  std::size_t at = 0;
  if (from != nullptr && !from->is_null() && from->find(u'@', at)) {
    std::size_t blank = 0, tab = 0, angle = 0;
    const bool hasBlank = from->find(u' ', blank);
    const bool hasTab = from->find(u'\t', tab);
    const bool hasAngle = from->find(u'<', angle);
    if (hasBlank || hasTab) {
      named = (!hasBlank || blank < at) && (!hasTab || tab < at) && (!hasAngle || angle < at);
    } else {
      named = hasAngle && angle < at;
    }
  }
  StoreInt(feature, named ? 1 : 0);
  return named ? 1.0 : 0.0;
}

double CCodeHeurEngine::pfMailHeaderReceivedCount(assl::CEnginesHandle*,
                                                  assl::ContextInterface* context,
                                                  CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  // The lines above the first one that names the filtering service; 0 when none does.
  std::int64_t lines = 0;
  const nsEmlComponents::CHeader* received = FindHeader(context, "RECEIVED");
  std::size_t at = 0;
  if (received != nullptr && received->GetRaw().find(kFilteringServiceDomain, at)) {
    const char* raw = received->GetRaw().c_str();
    for (std::size_t i = 0; i < at; ++i) lines += raw[i] == '\n';
  }
  StoreInt(feature, lines);
  return static_cast<double>(lines);
}

double CCodeHeurEngine::pfMailGetDataFormat(assl::CEnginesHandle*,
                                            assl::ContextInterface* context,
                                            CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  usstring form;
  const usstring* date = FindValue(context, "DATE");
  const std::size_t length = date != nullptr ? date->length() : 0;
  if (form.fill(length + 1, 0) != 0) AS_THROW(0, ASException, "Memory problems");
  std::size_t kept = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t unit = date->c_str()[i];
    const bool letterOrDigit = (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') ||
                               (unit >= u'A' && unit <= u'Z');
    if (unit < 128 && !letterOrDigit) form.data()[kept++] = unit;
  }
  form.set_length(kept);
  StoreString(feature, form, "CAFeature Cast Failed");
  return static_cast<double>(kept);
}

double CCodeHeurEngine::pfMailSummary(assl::CEnginesHandle*, assl::ContextInterface* context,
                                      CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const sstring summary = MessageSummary(context);
  if (feature != nullptr) StoreString(feature, Widen(summary), "CAFeature Cast Failed!");
  return static_cast<double>(summary.length());
}

double CCodeHeurEngine::pfMailLinksCount(assl::CEnginesHandle*, assl::ContextInterface* context,
                                         CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  return CountInSummary(context, feature, [](const char* s, std::size_t length) {
    return static_cast<std::int64_t>(std::count(s, s + length, 'U'));
  });
}

double CCodeHeurEngine::pfMailVoidLinesCount(assl::CEnginesHandle*,
                                             assl::ContextInterface* context,
                                             CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  return CountInSummary(context, feature, [](const char* s, std::size_t length) {
    std::int64_t count = 0;
    for (std::size_t k = 1; k < length; ++k) count += s[k - 1] == 'N' && s[k] == 'N';
    return count;
  });
}

double CCodeHeurEngine::pfMailMaxCountVoidLineConsec(assl::CEnginesHandle*,
                                                     assl::ContextInterface* context,
                                                     CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  return CountInSummary(context, feature, [](const char* s, std::size_t length) {
    std::int64_t longest = 0, run = 0;
    for (std::size_t k = 1; k < length; ++k) {
      run = s[k - 1] == 'N' && s[k] == 'N' ? run + 1 : 0;
      if (run > longest) longest = run;
    }
    return longest;
  });
}

double CCodeHeurEngine::pfMailVoidLinesCountAtEnd(assl::CEnginesHandle*,
                                                  assl::ContextInterface* context,
                                                  CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  return CountInSummary(context, feature, [](const char* s, std::size_t length) {
    std::int64_t count = 0;
    if (length >= 3 && s[length - 2] == 'E' && s[length - 3] == 'N') {
      for (std::size_t k = length - 2; k > 0 && s[k - 1] == 'N'; --k) ++count;
    }
    return count;
  });
}

double CCodeHeurEngine::pfMailLinesCountWith1Link(assl::CEnginesHandle*,
                                                  assl::ContextInterface* context,
                                                  CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  return CountInSummary(context, feature, [](const char* s, std::size_t length) {
    std::int64_t count = 0;
    // Groups overlap ("NUNUN" is two lines of one link each).
    for (std::size_t k = 0; k + 3 <= length; ++k) {
      const bool opens = s[k] == 'B' || s[k] == 'N';
      const bool closes = s[k + 2] == 'E' || s[k + 2] == 'N';
      count += opens && s[k + 1] == 'U' && closes;
    }
    return count;
  });
}

double CCodeHeurEngine::pfMailHeaderNonASCIIChars(assl::CEnginesHandle*,
                                                  assl::ContextInterface* context,
                                                  CAFeature* feature) const {
  ZZ_HEUR_ENTER_MAIL(context);
  bool found = false;
  if (const nsEmlComponents::CHeadersMap* headers = context->GetHeaders()) {
    headers->ForEach([&found](const sstring&, nsEmlComponents::CHeader* const& header) {
      if (found || header == nullptr) return;
      const sstring& raw = header->GetRaw();
      for (std::size_t i = 0; i < raw.length() && !found; ++i)
        found = (static_cast<unsigned char>(raw.c_str()[i]) & 0x80) != 0;
    });
  }
  StoreInt(feature, found ? 1 : 0, "CAFeature cast failed - CIntFeature required");
  return found ? 1.0 : 0.0;
}
