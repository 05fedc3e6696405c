// The tracing library: hands out one file sink per log file name.
//
// GetTracerW(name, flags) returns the library's sink for that name, creating it at the first
// call; the library owns every sink until it is unloaded. A sink writes to
// $ZAZOZOR_TRACE_DIR/<name> (the working folder when unset), keeps Trace lines whose level
// is <= $ZAZOZOR_TRACE_LEVEL (0..3, default and fallback 3; "off" hands out no sink at
// all), and reads both variables once,
// when it is created. Each line is formatted into a 4096-byte buffer (a cut line still ends
// with a newline) and written by one write() under the sink's mutex to a file opened with
// O_APPEND at the first line, so lines of concurrent threads never mix. Failures to open or
// write are silent. Tested by tests/platform/astracer_test.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/asformat.h"
#include "common/catrace.h"
#include "zzplat/paths.h"

namespace {

constexpr std::size_t kLineBuffer = 4096;
constexpr unsigned kDefaultLevel = 3;

unsigned LevelFromEnvironment() {
  const char* text = std::getenv("ZAZOZOR_TRACE_LEVEL");
  if (text == nullptr || text[0] < '0' || text[0] > '3' || text[1] != '\0') {
    return kDefaultLevel;
  }
  return static_cast<unsigned>(text[0] - '0');
}

std::string PathFor(const char16_t* logFileName) {
  std::string name = zzplat::LocalPath(logFileName);
  if (!name.empty() && name[0] == '/') return name;
  const char* dir = std::getenv("ZAZOZOR_TRACE_DIR");
  if (dir == nullptr || *dir == '\0') return name;
  std::string path = dir;
  if (path.back() != '/') path += '/';
  return path + name;
}

class CFileTrace final : public CATrace {
 public:
  CFileTrace(std::string path, unsigned maxLevel) : m_path(std::move(path)), m_maxLevel(maxLevel) {}
  CFileTrace(const CFileTrace&) = delete;
  CFileTrace& operator=(const CFileTrace&) = delete;
  ~CFileTrace() override {
    if (m_fd >= 0) ::close(m_fd);
  }

  void SetActive(bool bActive) override { m_active.store(bActive, std::memory_order_relaxed); }

  void Write(const char* text) override {
    if (text == nullptr || !m_active.load(std::memory_order_relaxed)) return;
    WriteBytes(text, std::strlen(text));
  }

  void Printf(const char* format, ...) override {
    std::va_list args;
    va_start(args, format);
    FormatAndWrite(format, args, false);
    va_end(args);
  }

  void Trace(unsigned level, const char* format, ...) override {
    if (level > m_maxLevel) return;
    std::va_list args;
    va_start(args, format);
    FormatAndWrite(format, args, true);
    va_end(args);
  }

 private:
  // Formats into a bounded line; a Trace line, and any line that was cut, ends with "\n".
  void FormatAndWrite(const char* format, std::va_list args, bool bLine) {
    if (format == nullptr || !m_active.load(std::memory_order_relaxed)) return;
    char line[kLineBuffer];
    // One byte stays free for the newline of a cut line.
    std::size_t n = ascommon::FormatV(line, sizeof(line) - 1, format, args);
    const bool bCut = n == sizeof(line) - 2;
    if ((bLine || bCut) && (n == 0 || line[n - 1] != '\n')) line[n++] = '\n';
    WriteBytes(line, n);
  }

  void WriteBytes(const char* data, std::size_t n) {
    if (n == 0) return;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_fd < 0) {
      if (m_bOpenFailed) return;
      m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (m_fd < 0) {
        m_bOpenFailed = true;
        return;
      }
    }
    while (n > 0) {
      ssize_t written = ::write(m_fd, data, n);
      if (written < 0) {
        if (errno == EINTR) continue;
        return;
      }
      data += written;
      n -= static_cast<std::size_t>(written);
    }
  }

  const std::string m_path;
  const unsigned m_maxLevel;
  std::atomic<bool> m_active{true};
  std::mutex m_mutex;  // guards m_fd, m_bOpenFailed and the order of writes
  int m_fd = -1;
  bool m_bOpenFailed = false;
};

// The sinks handed out so far, by log file name; destroyed when the library is unloaded.
struct SinkRegistry {
  std::mutex mutex;
  std::map<std::u16string, std::unique_ptr<CFileTrace>> sinks;
};

SinkRegistry& Registry() {
  static SinkRegistry registry;
  return registry;
}

}  // namespace

// flags is accepted for compatibility and not used.
extern "C" __attribute__((visibility("default"))) CATrace* GetTracerW(
    const char16_t* logFileName, int /*flags*/) {
  if (logFileName == nullptr || *logFileName == 0) return nullptr;
  // ZAZOZOR_TRACE_LEVEL=off: no sink at all, so the module keeps its do-nothing sink and
  // pays nothing for its trace calls.
  const char* level = std::getenv("ZAZOZOR_TRACE_LEVEL");
  if (level != nullptr && std::strcmp(level, "off") == 0) return nullptr;
  try {
    SinkRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    std::unique_ptr<CFileTrace>& sink = registry.sinks[std::u16string(logFileName)];
    if (!sink) {
      sink = std::make_unique<CFileTrace>(PathFor(logFileName), LevelFromEnvironment());
    }
    return sink.get();
  } catch (...) {
    return nullptr;
  }
}
