// The body buffer keeps one string and the count of bytes already sent. Once full,
// sent bytes are dropped from its front once they are at least half of it, so each byte is
// moved O(1) times on average; memory stays below limit + one block (see body_buffer.h).
#include "body_buffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zzhost {

std::size_t CBodyBuffer::Accept(const char* data, std::size_t length) {
  if (m_replaced) return length;
  if (!m_full) {
    // The block that passes the limit is taken whole; the buffer is full from then on.
    m_full = m_bytes.size() + length > m_limit;
    m_bytes.append(data, length);
    return length;
  }
  const std::size_t waiting = Pending();
  if (waiting >= m_window) return 0;
  const std::size_t taken = std::min(length, m_window - waiting);
  m_bytes.append(data, taken);
  return taken;
}

void CBodyBuffer::Replace(std::string body) {
  m_bytes = std::move(body);
  m_sent = 0;
  m_replaced = true;
  m_ended = true;
}

long CBodyBuffer::Drain(char* out, std::size_t capacity) {
  const std::size_t count = std::min(capacity, Pending());
  if (count == 0) return m_ended ? -1 : 0;
  std::memcpy(out, m_bytes.data() + m_sent, count);
  m_sent += count;
  if (m_sent == m_bytes.size()) {
    m_bytes.clear();
    m_sent = 0;
  } else if (m_full && m_sent >= m_bytes.size() / 2) {
    m_bytes.erase(0, m_sent);
    m_sent = 0;
  }
  return static_cast<long>(count);
}

}  // namespace zzhost
