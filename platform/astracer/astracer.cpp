// The tracing library: hands out one buffered file sink per log file name.
//
// GetTracerW(name, flags) returns the library's sink for that name, creating it at the first
// call; the library owns every sink until it is unloaded. A sink reads its settings once,
// when it is created:
//   ZAZOZOR_TRACE_LEVEL      0..3: keep Trace lines at or below it; unset, "off" or anything
//                            else: no sink at all (tracing is off unless asked for)
//   ZAZOZOR_TRACE_DIR        the log's folder (default: the working folder)
//   ZAZOZOR_TRACE_MAX_BYTES  the cap of one log file (default 32 MiB; see trace_file.h)
//   ZAZOZOR_TRACE_FLUSH_MS   how long a line may wait in memory (default 1000; 0 writes
//                            every line at once)
// A line is formatted into a 4096-byte buffer (a cut line still ends with a newline) outside
// any lock, then appended whole to the sink's memory buffer under its mutex. The buffer goes
// to the file when it holds 64 KiB, when the library's flusher thread finds it older than
// the interval, and when the library is unloaded or the process exits. GetTraceLevel(sink)
// tells the module which levels the sink keeps, so it can skip the others without a call.
// Failures to open or write are silent. Tested by tests/common/astracer_test.cpp.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "common/asformat.h"
#include "common/catrace.h"
#include "trace_file.h"
#include "zzplat/paths.h"

namespace {

using Clock = std::chrono::steady_clock;
using zzastracer::CTraceFile;

constexpr std::size_t kLineBuffer = 4096;
constexpr std::size_t kFlushBytes = 64 * 1024;
constexpr std::size_t kDefaultCap = 32u << 20;
constexpr long kDefaultFlushMs = 1000;
constexpr long kMaxFlushMs = 3600 * 1000;

// The level asked for in the environment, or -1 for no tracing.
int LevelFromEnvironment() {
  const char* text = std::getenv("ZAZOZOR_TRACE_LEVEL");
  if (text == nullptr || text[0] < '0' || text[0] > '3' || text[1] != '\0') return -1;
  return text[0] - '0';
}

// A decimal number from the environment; fallback when unset or not a plain number.
unsigned long long NumberFromEnvironment(const char* name, unsigned long long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text < '0' || *text > '9') return fallback;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return *end == '\0' && errno == 0 ? value : fallback;
}

// The log's path, fixed when the sink is made: a relative folder or name is taken from the
// working folder of that moment, since the file is opened only when the first lines go out.
std::string PathFor(const char16_t* logFileName) {
  std::string name = zzplat::LocalPath(logFileName);
  if (!name.empty() && name[0] == '/') return name;
  const char* dir = std::getenv("ZAZOZOR_TRACE_DIR");
  std::string path = dir != nullptr ? dir : "";
  if (path.empty() || path[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) != nullptr) path = path.empty() ? cwd : cwd + ("/" + path);
  }
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name;
}

class CFileTrace final : public CATrace {
 public:
  CFileTrace(std::string path, unsigned maxLevel, std::size_t cap, long flushMs)
      : m_file(std::move(path), cap), m_maxLevel(maxLevel),
        m_interval(std::chrono::milliseconds(flushMs)), m_nextFlush(Clock::now() + m_interval) {
    m_buffer.reserve(kFlushBytes + kLineBuffer);
    m_spare.reserve(kFlushBytes + kLineBuffer);
  }
  CFileTrace(const CFileTrace&) = delete;
  CFileTrace& operator=(const CFileTrace&) = delete;
  ~CFileTrace() override { Flush(); }

  unsigned MaxLevel() const { return m_maxLevel; }

  void SetActive(bool bActive) override { m_active.store(bActive, std::memory_order_relaxed); }

  void Write(const char* text) override {
    if (text == nullptr || !m_active.load(std::memory_order_relaxed)) return;
    Append(text, std::strlen(text));
  }

  void Printf(const char* format, ...) override {
    std::va_list args;
    va_start(args, format);
    FormatAndAppend(format, args, false);
    va_end(args);
  }

  void Trace(unsigned level, const char* format, ...) override {
    if (level > m_maxLevel) return;
    std::va_list args;
    va_start(args, format);
    FormatAndAppend(format, args, true);
    va_end(args);
  }

  // Writes what the buffer holds to the file.
  void Flush() {
    std::lock_guard<std::mutex> fileGuard(m_fileMutex);
    {
      std::lock_guard<std::mutex> guard(m_bufferMutex);
      m_buffer.swap(m_spare);
      m_nextFlush = Clock::now() + m_interval;
    }
    // Threads keep appending to the other buffer while this one is written.
    m_file.Append(m_spare.data(), m_spare.size());
    m_spare.clear();
  }

  // Flushes when the interval has passed; returns when the next flush is due.
  Clock::time_point FlushIfDue(Clock::time_point now) {
    {
      std::lock_guard<std::mutex> guard(m_bufferMutex);
      if (now < m_nextFlush) return m_nextFlush;
    }
    Flush();
    return now + m_interval;
  }

  bool Buffered() const { return m_interval.count() > 0; }

 private:
  // Formats into a bounded line; a Trace line, and any line that was cut, ends with "\n".
  void FormatAndAppend(const char* format, std::va_list args, bool bLine) {
    if (format == nullptr || !m_active.load(std::memory_order_relaxed)) return;
    char line[kLineBuffer];
    // One byte stays free for the newline of a cut line.
    std::size_t n = ascommon::FormatV(line, sizeof(line) - 1, format, args);
    const bool bCut = n == sizeof(line) - 2;
    if ((bLine || bCut) && (n == 0 || line[n - 1] != '\n')) line[n++] = '\n';
    Append(line, n);
  }

  void Append(const char* data, std::size_t n) {
    if (n == 0) return;
    if (!Buffered()) {
      std::lock_guard<std::mutex> fileGuard(m_fileMutex);
      m_file.Append(data, n);
      return;
    }
    bool bFull;
    {
      std::lock_guard<std::mutex> guard(m_bufferMutex);
      m_buffer.append(data, n);
      bFull = m_buffer.size() >= kFlushBytes;
    }
    if (bFull) Flush();
  }

  std::mutex m_fileMutex;  // held while writing; guards m_file and m_spare, orders flushes
  CTraceFile m_file;
  std::string m_spare;  // the buffer being written
  const unsigned m_maxLevel;
  const Clock::duration m_interval;
  std::mutex m_bufferMutex;  // guards m_buffer and m_nextFlush
  std::string m_buffer;  // lines not yet written, in the order they were traced
  Clock::time_point m_nextFlush;
  std::atomic<bool> m_active{true};
};

// The sinks handed out so far, by log file name, and the thread that flushes them on time.
// Destroyed when the library is unloaded or the process exits: the thread stops, then every
// sink writes what it holds.
class CSinkRegistry {
 public:
  CSinkRegistry() = default;
  CSinkRegistry(const CSinkRegistry&) = delete;
  CSinkRegistry& operator=(const CSinkRegistry&) = delete;
  ~CSinkRegistry() {
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_bStop = true;
    }
    m_wake.notify_all();
    if (m_flusher.joinable()) m_flusher.join();
    m_sinks.clear();  // each sink flushes as it goes
  }

  CFileTrace* Get(const char16_t* logFileName) {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::unique_ptr<CFileTrace>& sink = m_sinks[std::u16string(logFileName)];
    if (!sink) {
      const int level = LevelFromEnvironment();
      if (level < 0) {
        m_sinks.erase(std::u16string(logFileName));
        return nullptr;
      }
      sink = std::make_unique<CFileTrace>(
          PathFor(logFileName), static_cast<unsigned>(level),
          static_cast<std::size_t>(NumberFromEnvironment("ZAZOZOR_TRACE_MAX_BYTES", kDefaultCap)),
          static_cast<long>(std::min<unsigned long long>(
              NumberFromEnvironment("ZAZOZOR_TRACE_FLUSH_MS", kDefaultFlushMs), kMaxFlushMs)));
      if (sink->Buffered()) {
        // Without the thread (it could not start) lines still go out every 64 KiB and at
        // the end.
        try {
          if (!m_flusher.joinable()) m_flusher = std::thread([this] { RunFlusher(); });
        } catch (const std::system_error&) {
        }
        m_wake.notify_all();  // the new sink may be due before the others
      }
    }
    return sink.get();
  }

  // The highest level the sink keeps, or -1 when it is none of this library's sinks.
  int LevelOf(const CATrace* sink) {
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& entry : m_sinks) {
      if (entry.second.get() == sink) return static_cast<int>(entry.second->MaxLevel());
    }
    return -1;
  }

 private:
  void RunFlusher() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bStop) {
      Clock::time_point next = Clock::now() + std::chrono::hours(1);
      for (const auto& entry : m_sinks) {
        if (entry.second->Buffered()) next = std::min(next, entry.second->FlushIfDue(Clock::now()));
      }
      m_wake.wait_until(lock, next);
    }
  }

  std::mutex m_mutex;  // guards m_sinks and m_bStop
  std::condition_variable m_wake;
  std::map<std::u16string, std::unique_ptr<CFileTrace>> m_sinks;
  bool m_bStop = false;
  std::thread m_flusher;  // started with the first buffered sink
};

CSinkRegistry& Registry() {
  static CSinkRegistry registry;
  return registry;
}

}  // namespace

// flags is accepted for compatibility and not used. Null when tracing is off.
extern "C" __attribute__((visibility("default"))) CATrace* GetTracerW(
    const char16_t* logFileName, int /*flags*/) {
  if (logFileName == nullptr || *logFileName == 0) return nullptr;
  try {
    return Registry().Get(logFileName);
  } catch (...) {
    return nullptr;
  }
}

extern "C" __attribute__((visibility("default"))) int GetTraceLevel(const CATrace* sink) {
  if (sink == nullptr) return -1;
  try {
    return Registry().LevelOf(sink);
  } catch (...) {
    return -1;
  }
}
