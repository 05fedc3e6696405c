// IsEmptyCondition: `is_empty(Headers::"name")`, `is_empty(Parts::...)`: whether the named
// header is present with an empty value, or some text body of the kind has no text (the
// decoded text of a text/html body). Mail content only. O(1) for a header, O(nodes) for
// parts. Owns its header name; immutable once built: safe for concurrent readers.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/acondition.h"

namespace assl {

class IsEmptyCondition : public ACondition {
 public:
  class PartFinder;  // a body of the where code's kind with empty text

  explicit IsEmptyCondition(std::int32_t what) noexcept
      : ACondition(kCondIsEmpty), m_what(what) {}
  // Copies the header name, upper-cased (null for none); 0 or -2.
  std::int32_t SetHeader(const char* header);

  // An absent header traces "could not find header with name %s" and gives 0.0; "invalid
  // id to IsEmptyCondition ( %d )", "invalid pointer to headers map", "invalid pointer to
  // parts tree".
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  std::int32_t m_what;
  ascommon::sstring m_header;  // upper case, what 201
};

}  // namespace assl
