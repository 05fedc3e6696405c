// Heap memory of the engine: every block comes from the host's allocator library.
//
// as_alloc throws std::bad_alloc (the library's exception), as_alloc_nt returns null;
// as_free releases either. CASAllocated gives a class operator new/delete on top of them,
// so `new T` and `new (std::nothrow) T` of such a class use the library too. Safe from any
// thread.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include "asfn/asfn.h"

namespace ascommon {

inline void* as_alloc(std::size_t size) { return as_new_2_7(size); }
inline void* as_alloc_nt(std::size_t size) noexcept { return as_new_nt_2_7(size); }
inline void as_free(void* block) noexcept { as_delete_2_7(block); }

// Typed array allocation without construction (trivial element types only).
template <class T>
T* as_alloc_array_nt(std::size_t count) noexcept {
  if (count > static_cast<std::size_t>(-1) / sizeof(T)) return nullptr;
  return static_cast<T*>(as_alloc_nt(count * sizeof(T)));
}

// Base for classes whose objects live on the host allocator's heap.
struct CASAllocated {
  static void* operator new(std::size_t size) { return as_alloc(size); }
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return as_alloc_nt(size);
  }
  static void operator delete(void* block) noexcept { as_free(block); }
  static void operator delete(void* block, const std::nothrow_t&) noexcept { as_free(block); }
};

// Constructs a T on the host heap without throwing on allocation failure (a throwing
// constructor still throws, and the block is released).
template <class T, class... Args>
T* as_new_object_nt(Args&&... args) {
  void* block = as_alloc_nt(sizeof(T));
  if (block == nullptr) return nullptr;
  try {
    return ::new (block) T(std::forward<Args>(args)...);
  } catch (...) {
    as_free(block);
    throw;
  }
}

template <class T>
void as_delete_object(T* object) noexcept {
  if (object == nullptr) return;
  object->~T();
  as_free(object);
}

}  // namespace ascommon
