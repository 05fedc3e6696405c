// The page heuristics of CCodeHeurEngine. FewWordsHeur counts the words of the page as
// received, split at blanks, line ends and sentence punctuation, and stops at the 20th: it
// reads the page in place (the text ends at its size or at a zero byte, whichever is first),
// O(bytes up to the 20th word), no copy. Tested by tests/engines/codeheur/codeheur_test.cpp.
#include <cstring>

#include "engines/codeheur/codeheurengine.h"
#include "engines/codeheur/heuristics/heurhelpers.h"

namespace {

// A page of fewer words than this has "few words".
constexpr int kFewWordsLimit = 20;
// A page of at least this many bytes is long.
constexpr std::int32_t kLongSize = 204800;
constexpr const char kWordDelimiters[] = "\t\r\n.,;! ?";

void CheckHandles(assl::CEnginesHandle* engines, assl::ContextInterface* context) {
  AS_TRACE(3, "");
  if (engines == nullptr) AS_THROW(0, ASException, "invalid engines handle");
  if (context == nullptr) AS_THROW(0, ASException, "invalid context handle");
}

bool IsDelimiter(char ch) noexcept {
  return std::memchr(kWordDelimiters, ch, sizeof kWordDelimiters - 1) != nullptr;
}

}  // namespace

double CCodeHeurEngine::FewWordsHeur(assl::CEnginesHandle* engines,
                                     assl::ContextInterface* context, CAFeature*) const {
  CheckHandles(engines, context);
  const assl::CTextView html = context->GetHtmlContent(false);
  if (!html.IsPresent()) {
    AS_TRACE(0, "Probleme cu htmlBuf!");
    return 0.0;
  }
  const std::size_t size = ::strnlen(html.data, html.size);
  int words = 0;
  std::size_t firstWordEnd = size;  // what a tokeniser working on a copy leaves readable
  for (std::size_t i = 0; i < size;) {
    while (i < size && IsDelimiter(html.data[i])) ++i;
    if (i == size) break;
    while (i < size && !IsDelimiter(html.data[i])) ++i;
    if (++words == 1) firstWordEnd = i;
    if (words == kFewWordsLimit) return 0.0;
  }
  AS_TRACE(3, "La sf am strHtmlBuf: %.*s", static_cast<int>(firstWordEnd), html.data);
  return 1.0;
}

double CCodeHeurEngine::LongSizeHeur(assl::CEnginesHandle* engines,
                                     assl::ContextInterface* context, CAFeature*) const {
  CheckHandles(engines, context);
  return context->GetContentSize() >= kLongSize ? 1.0 : 0.0;
}
