#include "common/shared_locker.h"

#include "common/astrace.h"

namespace ascommon {

shared_locker::shared_locker() : event(true), state(0) {}

shared_locker::~shared_locker() { BeginDeletion(); }

// Destruction does not wait for readers: it only warns about them.
void shared_locker::BeginDeletion() {
  state_lock.Enter();
  const std::uint32_t before = state.fetch_or(kDeleting, std::memory_order_acq_rel);
  state_lock.Leave();
  if ((before & kDeleting) == 0 && (before & kReaders) != 0) {
    AS_TRACE(0, "WARNING: Destroying the resource locker without releasing all the Read Only Locks!");
  }
}

void shared_locker::LockReadOnly() {
  if ((state.fetch_add(1, std::memory_order_acquire) & (kWriter | kDeleting)) == 0) return;
  // A writer is inside or waiting, or destruction has begun: take the count back and pass
  // through state_lock, which a writer holds until it leaves.
  LeaveReader();
  state_lock.Enter();
  if ((state.load(std::memory_order_acquire) & kDeleting) != 0) {
    state_lock.Leave();
    AS_RAISE_CODE(ASInternalException, 0,
                  "Unable to lock resource read only because it is being deleted!");
  }
  state.fetch_add(1, std::memory_order_acquire);
  state_lock.Leave();
}

void shared_locker::LeaveReader() noexcept {
  const std::uint32_t before = state.fetch_sub(1, std::memory_order_acq_rel);
  if ((before & kReaders) == 1 && (before & kWriter) != 0) event.Set();
}

void shared_locker::UnlockReadOnly() { LeaveReader(); }

void shared_locker::LockExclusive() {
  state_lock.Enter();
  if ((state.load(std::memory_order_acquire) & kDeleting) != 0) {
    state_lock.Leave();
    AS_THROW_CODE(0, ASInternalException, 0,
                  "Unable to lock resource read only because it is being deleted!");
  }
  // The flag and the count share one word: a reader leaving after the flag was set sees it
  // and sets the event; the event is auto-reset and may carry a stale signal, so the count
  // is checked again after every wake.
  std::uint32_t now = state.fetch_or(kWriter, std::memory_order_acq_rel) | kWriter;
  while ((now & kReaders) != 0) {
    event.Wait();
    now = state.load(std::memory_order_acquire);
  }
}

void shared_locker::UnlockExclusive() {
  state.fetch_and(~kWriter, std::memory_order_release);
  state_lock.Leave();
}

std::int32_t shared_locker::ReaderCount() {
  return static_cast<std::int32_t>(state.load(std::memory_order_acquire) & kReaders);
}

auto_locker::auto_locker(shared_locker* pLocker, std::uint32_t lockMode, bool bLockNow)
    : locked(0), mode(lockMode), locker(pLocker) {
  if (locker == nullptr) {
    AS_THROW_CODE(0, ASInternalException, 0, "Null locker data in auto_locker!");
  }
  if (bLockNow) lock();
}

void auto_locker::lock() {
  if (locked != 0) return;
  if (mode == kReadOnly) {
    locker->LockReadOnly();
  } else if (mode == kExclusive) {
    locker->LockExclusive();
  }
  locked = 1;
}

void auto_locker::unlock() {
  if (locked != 1) return;
  if (mode == kReadOnly) {
    locker->UnlockReadOnly();
  } else if (mode == kExclusive) {
    locker->UnlockExclusive();
  }
  locked = 0;
}

}  // namespace ascommon
