// Synchronisation primitives with Win32 semantics, for the engine's locks.
//
// CriticalSection is recursive like a Win32 critical section (the owning thread may enter
// again). AutoResetEvent wakes one waiter per Set and resets itself; a Set with no waiter
// leaves it signalled for the next Wait. Both are safe to use from many threads; neither is
// copyable.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zzplat {

class CriticalSection {
 public:
  void Enter() { m_mutex.lock(); }
  bool TryEnter() { return m_mutex.try_lock(); }
  void Leave() { m_mutex.unlock(); }

 private:
  std::recursive_mutex m_mutex;
};

class AutoResetEvent {
 public:
  explicit AutoResetEvent(bool bInitiallySignalled) : m_signalled(bInitiallySignalled) {}
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Set();
  // Waits until signalled and consumes the signal.
  void Wait();
  // As Wait, giving up after the given milliseconds; true when the signal was consumed.
  bool WaitFor(std::uint32_t milliseconds);

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  std::atomic<bool> m_signalled;  // written under m_mutex; read without it by Set
};

}  // namespace zzplat
