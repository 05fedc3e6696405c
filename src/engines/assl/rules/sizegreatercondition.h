// SizeGreaterCondition: `size_greater_than(Message::TotalSize, N)` holds when the message is
// larger than N bytes; `size_greater_than(Message::AnyAttachmentSize, N)` when some part
// with a "CONTENT-DISPOSITION" header is larger than N bytes (both strict). Mail content
// only (the facilitator). O(1) / O(nodes). Immutable: safe for concurrent readers.
#pragma once

#include <cstdint>

#include "engines/assl/rules/acondition.h"

namespace assl {

class SizeGreaterCondition : public ACondition {
 public:
  class CAPartsSizeChecker;  // the attachment visitor

  SizeGreaterCondition(std::int32_t ofWhat, std::int32_t size) noexcept
      : ACondition(kCondSizeGreater), m_ofWhat(ofWhat), m_size(size) {}

  // "Invalid OfWhat" / "Invalid SizeValue" for bad fields, "invalid reference to blackbox
  // facilitator" when the context has none (every HTTP context).
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  std::int32_t m_ofWhat;  // 270 total size, 271 any attachment
  std::int32_t m_size;
};

}  // namespace assl
