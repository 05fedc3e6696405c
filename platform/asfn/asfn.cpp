#include "asfn/asfn.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

std::atomic<std::uint64_t> g_requests{0};   // allocation requests so far
std::atomic<std::int64_t> g_live{0};        // blocks handed out, not yet released
std::atomic<std::uint64_t> g_fail_at{0};    // request number that fails; 0 = none
std::atomic<int> g_fail_mode{ASFN_FAIL_OFF};

// Reads the failure schedule from the environment when the library is loaded.
struct EnvSchedule {
  EnvSchedule() {
    const char* n = std::getenv("ZAZOZOR_ALLOC_FAIL");
    if (n == nullptr || *n == '\0') return;
    char* end = nullptr;
    unsigned long long v = std::strtoull(n, &end, 10);
    if (end == n || *end != '\0' || v == 0) return;
    const char* mode = std::getenv("ZAZOZOR_ALLOC_FAIL_MODE");
    asfn_fail_at(v, mode != nullptr && std::strcmp(mode, "after") == 0 ? ASFN_FAIL_FROM
                                                                         : ASFN_FAIL_ONCE);
  }
} g_env_schedule;

bool ShouldFail() noexcept {
  std::uint64_t request = g_requests.fetch_add(1, std::memory_order_relaxed) + 1;
  int mode = g_fail_mode.load(std::memory_order_acquire);
  if (mode == ASFN_FAIL_OFF) return false;
  std::uint64_t at = g_fail_at.load(std::memory_order_relaxed);
  return mode == ASFN_FAIL_ONCE ? request == at : request >= at;
}

#if defined(__linux__)
// Blocks from 4 MB up (the tables of large lists, read at random addresses on every page)
// start on a 2 MB boundary, take whole 2 MB units and are marked for the kernel's huge
// pages: one TLB entry then covers 512 times the memory, and a lookup that misses the
// cache no longer also walks the page tables. aligned_alloc's blocks go back to free like
// any other. Elsewhere large blocks come from malloc like the rest.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLargeBlock = std::size_t{4} << 20;

void* AllocateBlock(std::size_t size) noexcept {
  if (size < kLargeBlock) return std::malloc(size == 0 ? 1 : size);
  const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
  if (rounded < size) return nullptr;
  void* block = std::aligned_alloc(kHugePage, rounded);
  if (block != nullptr) madvise(block, rounded, MADV_HUGEPAGE);  // a hint: failure is harmless
  return block;
}
#else
void* AllocateBlock(std::size_t size) noexcept { return std::malloc(size == 0 ? 1 : size); }
#endif

void* Allocate(std::size_t size) noexcept {
  if (ShouldFail()) return nullptr;
  void* block = AllocateBlock(size);
  if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void Release(void* block) noexcept {
  if (block == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

}  // namespace

extern "C" {

void* as_new_2_7(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* as_new_nt_2_7(std::size_t size) noexcept { return Allocate(size); }

void as_delete_2_7(void* block) noexcept { Release(block); }

void as_delete_nt_2_7(void* block) noexcept { Release(block); }

void asfn_fail_at(std::uint64_t n, int mode) noexcept {
  if (mode == ASFN_FAIL_OFF || n == 0) {
    g_fail_mode.store(ASFN_FAIL_OFF, std::memory_order_release);
    return;
  }
  g_fail_at.store(g_requests.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
  g_fail_mode.store(mode, std::memory_order_release);
}

std::int64_t asfn_live_blocks() noexcept { return g_live.load(std::memory_order_relaxed); }

std::uint64_t asfn_allocation_count() noexcept {
  return g_requests.load(std::memory_order_relaxed);
}
}
