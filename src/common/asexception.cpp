#include "common/asexception.h"

#include "common/asformat.h"

ASException::ASException(std::int32_t code, const char* format, ...) noexcept : m_code(code) {
  m_message[0] = '\0';
  std::va_list args;
  va_start(args, format);
  FormatMessageV(format, args);
  va_end(args);
}

const char* ASException::what() const noexcept {
  return m_message[0] != '\0' ? m_message : "unknown exception";
}

void ASException::FormatMessageV(const char* format, std::va_list args) noexcept {
  // FormatV always terminates and keeps at most kMaxMessage bytes.
  ascommon::FormatV(m_message, sizeof(m_message), format, args);
}
