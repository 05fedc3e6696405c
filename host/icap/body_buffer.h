// CBodyBuffer: the body of one ICAP response on its way through the service.
//
// It starts collecting: every byte is kept so the page can be judged and then sent back
// unchanged or replaced. When the body grows past `limit` it is full (Full()): the bytes
// kept so far are judged as the page's first part, and the buffer then either streams or is
// replaced. Streaming, it sends what it kept first, and from then on holds at most about
// `window` bytes received but not yet sent: Accept takes less (down to nothing) while that
// much waits, which is how the server is told to wait. Replaced, it sends the new body and
// drops every byte still received. So memory stays below limit + one received block.
//
// Ownership: owns its bytes. Not thread-safe: one ICAP request, one thread at a time.
// Tested by host/icap/tests/icap_test.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zzhost {

class CBodyBuffer {
 public:
  CBodyBuffer(std::size_t limit, std::size_t window) : m_limit(limit), m_window(window) {}

  // Takes bytes received; returns how many were taken (all of them while collecting).
  std::size_t Accept(const char* data, std::size_t length);
  // The last byte has been received.
  void MarkEnd() { m_ended = true; }
  // Replaces the whole body (before anything was sent) and ends it: bytes received later are
  // taken and dropped.
  void Replace(std::string body);

  // Copies up to `capacity` bytes to send into out and returns their count; 0 when none is
  // waiting yet, -1 once the body has ended and every byte was handed out.
  long Drain(char* out, std::size_t capacity);

  // More than `limit` bytes arrived: the body no longer waits whole for its end.
  bool Full() const { return m_full; }
  bool Ended() const { return m_ended; }
  // The collected body (while collecting, the whole body received so far).
  std::string_view Content() const { return std::string_view(m_bytes).substr(m_sent); }
  std::size_t Pending() const { return m_bytes.size() - m_sent; }

 private:
  std::size_t m_limit;
  std::size_t m_window;
  std::string m_bytes;
  std::size_t m_sent = 0;  // bytes of m_bytes already handed to Drain's callers
  bool m_full = false;
  bool m_replaced = false;
  bool m_ended = false;
};

}  // namespace zzhost
