#include "common/shared_locker.h"

#include "common/astrace.h"

namespace ascommon {

shared_locker::shared_locker() : event(true), readers(0), deleting(false) {}

shared_locker::~shared_locker() { BeginDeletion(); }

// Destruction does not wait for readers: it only warns about them.
void shared_locker::BeginDeletion() {
  state_lock.Enter();
  const bool first = !deleting;
  deleting = true;
  state_lock.Leave();
  count_lock.Enter();
  const bool readersLeft = readers > 0;
  count_lock.Leave();
  if (first && readersLeft) {
    AS_TRACE(0, "WARNING: Destroying the resource locker without releasing all the Read Only Locks!");
  }
}

void shared_locker::LockReadOnly() {
  state_lock.Enter();
  if (deleting) {
    state_lock.Leave();
    AS_RAISE_CODE(ASInternalException, 0,
                  "Unable to lock resource read only because it is being deleted!");
  }
  state_lock.Leave();
  count_lock.Enter();
  ++readers;
  count_lock.Leave();
}

void shared_locker::UnlockReadOnly() {
  count_lock.Enter();
  if (--readers == 0) event.Set();
  count_lock.Leave();
}

void shared_locker::LockExclusive() {
  state_lock.Enter();
  if (deleting) {
    state_lock.Leave();
    AS_THROW_CODE(0, ASInternalException, 0,
                  "Unable to lock resource read only because it is being deleted!");
  }
  count_lock.Enter();
  // The event is auto-reset and may carry a stale signal: re-check the count after waking.
  while (readers != 0) {
    count_lock.Leave();
    event.Wait();
    count_lock.Enter();
  }
}

void shared_locker::UnlockExclusive() {
  count_lock.Leave();
  state_lock.Leave();
}

std::int32_t shared_locker::ReaderCount() {
  count_lock.Enter();
  std::int32_t n = readers;
  count_lock.Leave();
  return n;
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
