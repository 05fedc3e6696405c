#include "zzplat/sync.h"

#include <chrono>

namespace zzplat {

void AutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_signalled = true;
  }
  m_cond.notify_one();
}

void AutoResetEvent::Wait() {
  std::unique_lock<std::mutex> guard(m_mutex);
  m_cond.wait(guard, [this] { return m_signalled; });
  m_signalled = false;
}

bool AutoResetEvent::WaitFor(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> guard(m_mutex);
  if (!m_cond.wait_for(guard, std::chrono::milliseconds(milliseconds),
                       [this] { return m_signalled; })) {
    return false;
  }
  m_signalled = false;
  return true;
}

}  // namespace zzplat
