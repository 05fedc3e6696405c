// Host allocator library: the four allocation entry points every module takes its heap
// memory from, plus a control interface that lets tests make allocations fail.
//
// Blocks come from malloc (large ones from aligned_alloc, backed by huge pages where the
// system has them) and go back to free, so a block is released correctly whichever of the
// two release entry points sees it. All entry points are safe to call from many
// threads; the failure schedule and the counters are atomics.
//
// Failure injection: the environment variable ZAZOZOR_ALLOC_FAIL=N, read when the library
// is loaded, makes the Nth allocation after load fail (counting from 1); with
// ZAZOZOR_ALLOC_FAIL_MODE=after that one and every later one fail, with "once" (the
// default) only the Nth. Tests can set the same schedule with asfn_fail_at.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ASFN_API __declspec(dllexport)
#else
#define ASFN_API __attribute__((visibility("default")))
#endif

extern "C" {

// Throwing allocation: raises std::bad_alloc when the block cannot be provided.
ASFN_API void* as_new_2_7(std::size_t size);
// Non-throwing allocation: null when the block cannot be provided.
ASFN_API void* as_new_nt_2_7(std::size_t size) noexcept;
// Release of a block from either allocation; null is accepted.
ASFN_API void as_delete_2_7(void* block) noexcept;
ASFN_API void as_delete_nt_2_7(void* block) noexcept;

enum asfn_fail_mode { ASFN_FAIL_OFF = 0, ASFN_FAIL_ONCE = 1, ASFN_FAIL_FROM = 2 };

// Schedules failure of the nth allocation counted from this call (n >= 1); with
// ASFN_FAIL_FROM that allocation and all later ones fail. ASFN_FAIL_OFF clears the schedule.
ASFN_API void asfn_fail_at(std::uint64_t n, int mode) noexcept;
// Blocks handed out and not yet released through this library.
ASFN_API std::int64_t asfn_live_blocks() noexcept;
// Allocation requests seen since load (failed ones included).
ASFN_API std::uint64_t asfn_allocation_count() noexcept;
}
