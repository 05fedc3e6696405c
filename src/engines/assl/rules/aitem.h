// AItem: the root of the executable rule items (conditions, actions, metainfo), built from
// a parsed rule's item blackboxes by one factory per base class. An item is a plain value
// once built; safe for concurrent readers.
#pragma once

#include <cstdint>

#include "common/asmemory.h"

namespace assl {

class AItem : public ascommon::CASAllocated {
 public:
  AItem(std::int32_t generic, std::int32_t specific) noexcept
      : m_genericType(generic), m_specificType(specific) {}
  virtual ~AItem() = default;
  AItem(const AItem&) = delete;
  AItem& operator=(const AItem&) = delete;

  std::int32_t GenericType() const noexcept { return m_genericType; }
  std::int32_t SpecificType() const noexcept { return m_specificType; }

 private:
  std::int32_t m_genericType;
  std::int32_t m_specificType;
};

}  // namespace assl
