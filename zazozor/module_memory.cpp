// Routes every C++ allocation made inside the module (standard containers included) to the
// host's allocator library. The library hands out malloc blocks, so a block crossing into or
// out of the C++ runtime is still released correctly. These definitions are local to the
// module: the version script exports nothing but the three entry points.
#include <cstddef>
#include <new>

#include "asfn/asfn.h"

void* operator new(std::size_t size) { return as_new_2_7(size); }
void* operator new[](std::size_t size) { return as_new_2_7(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return as_new_nt_2_7(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return as_new_nt_2_7(size);
}
void operator delete(void* block) noexcept { as_delete_2_7(block); }
void operator delete[](void* block) noexcept { as_delete_2_7(block); }
void operator delete(void* block, std::size_t) noexcept { as_delete_2_7(block); }
void operator delete[](void* block, std::size_t) noexcept { as_delete_2_7(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { as_delete_nt_2_7(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { as_delete_nt_2_7(block); }
