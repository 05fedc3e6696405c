// The capped, rotating log file of the tracing library (see trace_file.h). Each append
// costs two status calls and one write per piece; the sink calls it once per buffer.
// Tested by tests/common/astracer_test.cpp.
#include "trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zzastracer {

CTraceFile::CTraceFile(std::string path, std::size_t maxBytes)
    : m_path(std::move(path)), m_rotatedPath(m_path + ".1"),
      m_cap(maxBytes < kMinCap ? kMinCap : maxBytes) {}

CTraceFile::~CTraceFile() {
  if (m_fd >= 0) ::close(m_fd);
}

bool CTraceFile::Ready() {
  if (m_bFailed) return false;
  struct stat own {};
  if (m_fd >= 0) {
    struct stat named {};
    if (::fstat(m_fd, &own) == 0 && ::stat(m_path.c_str(), &named) == 0 &&
        named.st_ino == own.st_ino && named.st_dev == own.st_dev) {
      m_size = static_cast<std::size_t>(own.st_size);
      return true;
    }
    // PATH was renamed or removed behind this process (another one rotated it): start
    // on the PATH that stands there now.
    ::close(m_fd);
    m_fd = -1;
  }
  m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (m_fd < 0) {
    m_bFailed = true;
    return false;
  }
  m_size = ::fstat(m_fd, &own) == 0 ? static_cast<std::size_t>(own.st_size) : 0;
  return true;
}

void CTraceFile::Rotate() {
  // When PATH cannot be renamed it is emptied instead: the cap holds either way.
  if (std::rename(m_path.c_str(), m_rotatedPath.c_str()) != 0 && ::ftruncate(m_fd, 0) != 0) {
    m_bFailed = true;
  }
  ::close(m_fd);
  m_fd = -1;
}

void CTraceFile::Append(const char* data, std::size_t n) {
  while (n > 0 && Ready()) {
    const std::size_t room = m_cap > m_size ? m_cap - m_size : 0;
    std::size_t take = n;
    if (n > room) {
      // The whole lines that still fit; none: a new file, unless this one is empty.
      const void* newline = room > 0 ? ::memrchr(data, '\n', room) : nullptr;
      take = newline != nullptr ? static_cast<const char*>(newline) - data + 1 : 0;
      if (take == 0) {
        if (m_size > 0) {
          Rotate();
          continue;
        }
        take = room;
      }
    }
    WriteAll(data, take);
    data += take;
    n -= take;
  }
}

void CTraceFile::WriteAll(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t written = ::write(m_fd, data, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    n -= static_cast<std::size_t>(written);
    m_size += static_cast<std::size_t>(written);
  }
}

}  // namespace zzastracer
