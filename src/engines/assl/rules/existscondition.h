// ExistsCondition: `exists(Headers::"name")`, `exists(Headers::Collection, "text")`,
// `exists(Parts::...)`: whether the message has the header, the header named by the text, or
// a text part of the kind. Mail content only: an HTTP context has neither headers nor parts
// and the condition throws. Header lookups are O(1) in the headers map; parts O(nodes).
// Owns its texts; immutable after Init: safe for concurrent readers.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/acondition.h"

namespace assl {

class ExistsCondition : public ACondition {
 public:
  class PartFinder;  // a body of the where code's kind

  explicit ExistsCondition(std::int32_t what) noexcept : ACondition(kCondExists), m_what(what) {}
  // Copies the header name (upper-cased) and the collection text; null for none. 0, or -2
  // when a copy cannot be allocated.
  std::int32_t SetTexts(const char* header, const char* collection);

  // "error: missing extra info with Headers::Collection in exists condition" for a
  // collection test without its text.
  void Init(CEnginesHandle* engines) override;
  // "invalid id to ExistsCondition ( %d )", "invalid pointer to headers map", "invalid
  // pointer to parts tree".
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  std::int32_t m_what;
  ascommon::sstring m_header;      // upper case, what 201
  ascommon::sstring m_collection;  // upper case, what 203
};

// The upper-case (ASCII) copy of name into target; 0 or -2. Shared by the header tests.
std::int32_t AssignUpperName(ascommon::sstring& target, const char* name);

}  // namespace assl
