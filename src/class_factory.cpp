#include "class_factory.h"

#include <string>

CAClassFactory::~CAClassFactory() {
  for (std::uint64_t i = 0; i < m_modules.GetSize(); ++i) {
    delete m_modules[i];
  }
  for (std::uint64_t i = 0; i < m_allocators.GetSize(); ++i) {
    delete m_allocators[i];
  }
  m_modules.RemoveAll();
  m_allocators.RemoveAll();
}

CBasicAllocator* CAClassFactory::FindAllocator(const char16_t* name) {
  if (name == nullptr) return nullptr;
  for (std::uint64_t i = 0; i < m_allocators.GetSize(); ++i) {
    const ascommon::usstring* candidate = m_allocators[i]->GetModuleName();
    if (candidate != nullptr && candidate->c_str() != nullptr &&
        std::char_traits<char16_t>::compare(candidate->c_str(), name,
                                            candidate->length() + 1) == 0) {
      return m_allocators[i];
    }
  }
  return nullptr;
}

bool CAClassFactory::AddAllocator(CBasicAllocator* pAllocator) {
  if (pAllocator == nullptr) return false;
  const ascommon::usstring* name = pAllocator->GetModuleName();
  // A nameless allocator could never be found by the host; it is not registered.
  if (name == nullptr || name->status() != 0 || name->length() == 0 ||
      m_allocators.Add(pAllocator) != 0) {
    delete pAllocator;
    return false;
  }
  return true;
}
