// The class factory the host obtains from a module, and its allocators.
//
// CAClassFactory owns every allocator in its allocator list and every module in its module
// list (the host may place modules there; this module never does) and destroys them with
// itself. CBasicAllocator builds one filter class; TAllocator<T> is the allocator for T and
// owns its display name. Not thread-safe: the host builds and releases the factory from one
// thread.
#pragma once

#include <cstdint>

#include "amodule.h"
#include "common/array.h"
#include "common/asexport.h"
#include "common/astrace.h"
#include "common/convert.h"
#include "common/ustring.h"

class AS_VISIBLE CBasicAllocator : public ascommon::CASAllocated {
 public:
  // A new module object that the caller owns.
  virtual CAModule* CreateModule() = 0;
  // The allocator's display name (owned by the allocator).
  virtual const ascommon::usstring* GetModuleName() = 0;
  virtual ~CBasicAllocator() = default;
};

template <class T>
class TAllocator : public CBasicAllocator {
 public:
  explicit TAllocator(const ascommon::usstring& name) : m_name(name) {}

  CAModule* CreateModule() override {
    ascommon::sstring name8 = m_name.to_sstring();
    AS_TRACE(0, "VI2FW: Creating new module: [%s]", name8.c_str());
    return new T(m_name);  // throwing allocation through T's class operator new
  }
  const ascommon::usstring* GetModuleName() override { return &m_name; }

 private:
  ascommon::usstring m_name;
};

class AS_VISIBLE CAClassFactory : public ascommon::CASAllocated {
 public:
  using AllocatorList = ascommon::CArray<CBasicAllocator*, 64>;
  using ModuleList = ascommon::CArray<CAModule*, 64>;

  CAClassFactory() = default;
  virtual ~CAClassFactory();
  CAClassFactory(const CAClassFactory&) = delete;
  CAClassFactory& operator=(const CAClassFactory&) = delete;

  std::uint64_t GetAllocatorCount() const { return m_allocators.GetSize(); }
  CBasicAllocator* GetAllocator(std::uint64_t index) { return m_allocators.GetAt(index); }
  // The allocator whose display name equals name exactly, or null.
  CBasicAllocator* FindAllocator(const char16_t* name);
  // The host's list of modules it wants destroyed together with the factory.
  ModuleList& GetModuleList() { return m_modules; }

 protected:
  // Appends an allocator the factory then owns. An allocator whose display name could not be
  // copied (no memory) or when the list cannot grow is destroyed and false returned; the
  // factory goes on without it, and a factory built later registers it again.
  bool AddAllocator(CBasicAllocator* pAllocator);

  AllocatorList m_allocators;
  ModuleList m_modules;
};
