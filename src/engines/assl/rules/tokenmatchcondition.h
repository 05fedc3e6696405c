// TokenMatchCondition: `match("(phrase matching)?one|two words|...", Parts::Text...)`: holds
// when any of the phrases occurs as whole word tokens in the message's text bodies. The
// phrases follow the 18-character prefix, separated by "|"; "\|" keeps a "|" inside a
// phrase (the backslash becomes a space); empty pieces are skipped. The lookups are the
// facilitator's (its word-token lists per body), so Evaluate is O(phrases) lookups.
// Parts::ALL is accepted and never holds.
// Owns its phrases; immutable once built: safe for concurrent readers.
#pragma once

#include <cstdint>

#include "common/array.h"
#include "common/ustring.h"
#include "engines/assl/rules/acondition.h"

namespace assl {

class TokenMatchCondition : public ACondition {
 public:
  static constexpr char kPrefix[] = "(phrase matching)?";
  static constexpr std::size_t kPrefixLength = sizeof(kPrefix) - 1;  // 18
  using UPhrase = ascommon::usstring;

  explicit TokenMatchCondition(std::int32_t where) noexcept
      : ACondition(kCondMatch), m_where(where) {}

  // Whether a match text asks for phrase matching (begins with kPrefix).
  static bool IsPhraseText(const char* text) noexcept;
  // Splits the text after kPrefix into phrases; ASException "the match string does not
  // contain any phrase", "could not convert from UTF-8 to UCS - invalid input [%s]",
  // ASMemException "memory problems".
  void SetPhrases(const char* text);

  // "invalid reference to facilitator" when the context has none (every HTTP context).
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

  std::uint64_t PhraseCount() const noexcept { return m_phrases.GetSize(); }
  const UPhrase& Phrase(std::uint64_t index) const { return m_phrases[index]; }

 private:
  void AddPhrase(const ascommon::sstring& piece);

  std::int32_t m_where;
  ascommon::CArray<UPhrase> m_phrases;
};

}  // namespace assl
