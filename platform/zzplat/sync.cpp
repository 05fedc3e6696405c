#include "zzplat/sync.h"

#include <chrono>

namespace zzplat {

void AutoResetEvent::Set() {
  // Already signalled: a second Set before a Wait consumes the first one changes nothing,
  // so it costs no lock (the read-only unlock of every filter call sets the event).
  if (m_signalled.load(std::memory_order_acquire)) return;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_signalled = true;
  }
  m_cond.notify_one();
}

void AutoResetEvent::Wait() {
  std::unique_lock<std::mutex> guard(m_mutex);
  m_cond.wait(guard, [this] { return m_signalled.load(); });
  m_signalled = false;
}

bool AutoResetEvent::WaitFor(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> guard(m_mutex);
  if (!m_cond.wait_for(guard, std::chrono::milliseconds(milliseconds),
                       [this] { return m_signalled.load(); })) {
    return false;
  }
  m_signalled = false;
  return true;
}

}  // namespace zzplat
