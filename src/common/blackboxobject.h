// CBlackBoxObject: root of every object a blackbox or container can own or hold.
//
// It carries only a virtual destructor, so an owner can destroy any stored object through
// this base. Objects derived from it live on the host allocator's heap.
#pragma once

#include "common/asmemory.h"

namespace ascommon {

class CBlackBoxObject : public CASAllocated {
 public:
  virtual ~CBlackBoxObject() = default;
};

}  // namespace ascommon
