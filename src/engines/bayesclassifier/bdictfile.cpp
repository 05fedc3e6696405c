// Buffered streams of the dictionary files. Tested through the dictionary's file tests
// (tests/engines/bayesclassifier/bdictionary_test.cpp).
#include "engines/bayesclassifier/bdictfile.h"

#include <cstring>

namespace nsEngineBayesClassifier {

namespace {
constexpr std::size_t kBlockSize = 64 * 1024;
}

CDictReader::~CDictReader() { Close(); }

int CDictReader::Open(const char16_t* pPath, const char16_t* pMode) noexcept {
  Close();
  const int error = m_file.Open(pPath, pMode);
  if (error != 0) return error;
  m_pBuffer = static_cast<std::uint8_t*>(ascommon::as_alloc_nt(kBlockSize));
  return 0;
}

void CDictReader::Close() noexcept {
  m_file.Close();
  ascommon::as_free(m_pBuffer);
  m_pBuffer = nullptr;
  m_pos = m_end = 0;
}

bool CDictReader::Fill() noexcept {
  m_pos = 0;
  m_end = m_file.Read(m_pBuffer, kBlockSize);
  return m_end != 0;
}

std::size_t CDictReader::ReadSome(void* pBuffer, std::size_t size) noexcept {
  if (!m_file.IsOpen()) return 0;
  if (m_pBuffer == nullptr) return m_file.Read(pBuffer, size);
  auto* target = static_cast<std::uint8_t*>(pBuffer);
  std::size_t done = 0;
  while (done < size) {
    if (m_pos == m_end) {
      // Large transfers bypass the block once it is drained.
      if (size - done >= kBlockSize) return done + m_file.Read(target + done, size - done);
      if (!Fill()) break;
    }
    std::size_t step = m_end - m_pos;
    if (step > size - done) step = size - done;
    std::memcpy(target + done, m_pBuffer + m_pos, step);
    m_pos += step;
    done += step;
  }
  return done;
}

char* CDictReader::Gets(char* pBuffer, std::size_t size) noexcept {
  if (pBuffer == nullptr || size < 1) return nullptr;
  std::size_t length = 0;
  while (length + 1 < size) {
    char ch;
    if (ReadSome(&ch, 1) != 1) break;
    pBuffer[length++] = ch;
    if (ch == '\n') break;
  }
  pBuffer[length] = '\0';
  return length == 0 ? nullptr : pBuffer;
}

CDictWriter::~CDictWriter() { Finish(); }

int CDictWriter::Open(const char16_t* pPath, const char16_t* pMode) noexcept {
  Finish();
  m_failed = false;
  const int error = m_file.Open(pPath, pMode);
  if (error != 0) return error;
  m_pBuffer = static_cast<std::uint8_t*>(ascommon::as_alloc_nt(kBlockSize));
  return 0;
}

bool CDictWriter::Flush() noexcept {
  if (m_length == 0) return !m_failed;
  const std::size_t pending = m_length;
  m_length = 0;
  if (m_file.Write(m_pBuffer, pending) != pending) m_failed = true;
  return !m_failed;
}

bool CDictWriter::Write(const void* pBuffer, std::size_t size) noexcept {
  if (m_failed || !m_file.IsOpen()) return false;
  if (size == 0) return true;
  if (m_pBuffer != nullptr && size <= kBlockSize - m_length) {
    std::memcpy(m_pBuffer + m_length, pBuffer, size);
    m_length += size;
    return true;
  }
  if (!Flush()) return false;
  if (m_pBuffer != nullptr && size < kBlockSize) {
    std::memcpy(m_pBuffer, pBuffer, size);
    m_length = size;
    return true;
  }
  if (m_file.Write(pBuffer, size) != size) m_failed = true;
  return !m_failed;
}

bool CDictWriter::WriteU32(std::uint32_t value) noexcept {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return Write(bytes, 4);
}

bool CDictWriter::Finish() noexcept {
  if (!m_file.IsOpen()) return !m_failed;
  Flush();
  if (m_file.Close() != 0) m_failed = true;
  ascommon::as_free(m_pBuffer);
  m_pBuffer = nullptr;
  return !m_failed;
}

}  // namespace nsEngineBayesClassifier
