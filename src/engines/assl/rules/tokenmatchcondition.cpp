#include "engines/assl/rules/tokenmatchcondition.h"

#include <cstring>

#include "common/astrace.h"
#include "common/convert.h"
#include "engines/assl/acontextif.h"
#include "engines/htmlparser/structs/bbfacilitator.h"

namespace assl {

bool TokenMatchCondition::IsPhraseText(const char* text) noexcept {
  return text != nullptr && std::strncmp(text, kPrefix, kPrefixLength) == 0;
}

void TokenMatchCondition::SetPhrases(const char* text) {
  const char* at = IsPhraseText(text) ? text + kPrefixLength : "";
  ascommon::sstring piece;
  for (; *at != '\0'; ++at) {
    std::int32_t status = 0;
    if (at[0] == '\\' && at[1] == '|') {
      status = piece.append(" |", 2);
      ++at;
    } else if (*at == '|') {
      if (!piece.empty()) AddPhrase(piece);
      piece.clear();
    } else {
      status = piece.append(at, 1);
    }
    if (status != 0) AS_THROW(0, ASMemException, "memory problems");
  }
  if (!piece.empty()) AddPhrase(piece);
  if (m_phrases.GetSize() == 0) {
    AS_THROW(0, ASException, "the match string does not contain any phrase");
  }
}

void TokenMatchCondition::AddPhrase(const ascommon::sstring& piece) {
  ascommon::usstring phrase;
  const std::int32_t status = ascommon::Utf8ToUsstring(piece, phrase);
  if (status == -2) AS_THROW(0, ASMemException, "memory problems");
  if (status != 0) {
    AS_THROW(0, ASException, "could not convert from UTF-8 to UCS - invalid input [%s]",
             piece.c_str());
  }
  if (m_phrases.Add(phrase) != 0) AS_THROW(0, ASMemException, "memory problems");
}

double TokenMatchCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  if (m_where == kPartsAll) return 0.0;
  CBBFacilitator* facilitator = context->GetFacilitator();
  if (facilitator == nullptr) AS_THROW(0, ASException, "invalid reference to facilitator");
  const bool plain = m_where == kPartsText || m_where == kPartsTextPlain;
  const bool html = m_where == kPartsText || m_where == kPartsTextHtml;
  for (std::uint64_t i = 0; i < m_phrases.GetSize(); ++i) {
    const UPhrase& phrase = m_phrases[i];
    if ((plain && facilitator->BodiesHavePhrase(nsEmlComponents::kBodyTextPlain, phrase)) ||
        (html && facilitator->BodiesHavePhrase(nsEmlComponents::kBodyTextHtml, phrase))) {
      if (context->GetObserver() != nullptr) {
        ascommon::sstring text;
        if (ascommon::UsstringToUtf8(phrase, text) == -2) {
          AS_THROW(0, ASMemException, "memory problems");
        }
        context->GetObserver()->OnMatch(context->GetCurrentRuleName(), m_where,
                                        text.c_str() != nullptr ? text.c_str() : "",
                                        text.length());
      }
      return 1.0;
    }
  }
  return 0.0;
}

}  // namespace assl
