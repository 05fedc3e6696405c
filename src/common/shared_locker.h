// shared_locker: the many-readers / one-writer lock that guards a filter's shared data, and
// auto_locker, its scope guard.
//
// One atomic word holds the readers inside, a writer flag and a deletion flag. A reader
// enters with one atomic add when neither flag is set (every page takes a read lock in
// each filter, so this is on the hot path) and leaves with one atomic subtraction. A writer
// (LockExclusive) keeps state_lock for its whole section, so it excludes other writers; it
// sets the writer flag, which sends arriving readers to wait at state_lock, and then waits
// on an auto-reset event until the readers already inside have left (the last one out sets
// it). Locking after destruction has begun raises ASInternalException (code 0). Neither
// class is copyable; the locker is embedded in the object whose data it guards, the guard
// does not own it. Tested by tests/common/shared_locker_test.cpp (with real threads, also
// under TSan).
#pragma once

#include <atomic>
#include <cstdint>

#include "zzplat/sync.h"

namespace ascommon {

class shared_locker {
 public:
  shared_locker();
  ~shared_locker();
  shared_locker(const shared_locker&) = delete;
  shared_locker& operator=(const shared_locker&) = delete;

  void LockReadOnly();
  void UnlockReadOnly();
  void LockExclusive();
  void UnlockExclusive();

  // Starts destruction: from now on every lock attempt raises ASInternalException. Warns
  // when read-only locks are still held. The destructor calls it; an owner may call it
  // earlier to turn new lockers away before tearing its data down.
  void BeginDeletion();

  // Read-only locks currently held (for diagnostics and tests).
  std::int32_t ReaderCount();

 private:
  static constexpr std::uint32_t kWriter = 1u << 30;    // a writer is inside or waiting
  static constexpr std::uint32_t kDeleting = 1u << 31;  // destruction has begun
  static constexpr std::uint32_t kReaders = kWriter - 1;

  // Takes back a reader's count; wakes a waiting writer when it was the last one.
  void LeaveReader() noexcept;

  zzplat::AutoResetEvent event;  // set when the last reader leaves while a writer waits
  zzplat::CriticalSection state_lock;
  std::atomic<std::uint32_t> state;  // readers inside (kReaders bits) | kWriter | kDeleting
};

class auto_locker {
 public:
  enum : std::uint32_t { kReadOnly = 0, kExclusive = 1 };

  // Throws ASInternalException when pLocker is null. Any mode other than 0 and 1 marks the
  // guard locked but takes nothing.
  auto_locker(shared_locker* pLocker, std::uint32_t mode, bool bLockNow);
  ~auto_locker() { unlock(); }
  auto_locker(const auto_locker&) = delete;
  auto_locker& operator=(const auto_locker&) = delete;

  void lock();
  void unlock();
  bool is_locked() const { return locked != 0; }

 private:
  std::int32_t locked;
  std::uint32_t mode;
  shared_locker* locker;  // Not owned.
};

}  // namespace ascommon
