// CTraceFile: the tracing library's log file, capped in size and rotated.
//
// Appends text to PATH (opened with O_APPEND at the first append). When the next piece of
// whole lines would take PATH past the cap, PATH is renamed to PATH.1 (replacing the older
// one) and a new PATH is started, so the two files hold at most twice the cap and always the
// newest lines. Before each append the file's size is read again and a PATH renamed away by
// another process is reopened, so processes sharing one log keep to the cap too. Failures
// to open or write are silent (the text is lost).
//
// Not thread-safe: the sink that owns it serialises every call.
#pragma once

#include <cstddef>
#include <string>

namespace zzastracer {

class CTraceFile {
 public:
  // maxBytes: the cap of one file; a cap below kMinCap is raised to it, so that every line
  // the sink writes fits in an empty file.
  static constexpr std::size_t kMinCap = 4096;
  CTraceFile(std::string path, std::size_t maxBytes);
  CTraceFile(const CTraceFile&) = delete;
  CTraceFile& operator=(const CTraceFile&) = delete;
  ~CTraceFile();

  // Writes n bytes. Rotation happens between lines only (a text without newline longer than
  // the room left is cut where the room ends).
  void Append(const char* data, std::size_t n);

 private:
  bool Ready();   // opens PATH when needed and reads its size; false when it cannot be opened
  void Rotate();  // PATH -> PATH.1, then a new PATH
  void WriteAll(const char* data, std::size_t n);

  const std::string m_path;
  const std::string m_rotatedPath;  // PATH.1
  const std::size_t m_cap;
  int m_fd = -1;
  std::size_t m_size = 0;  // PATH's size as last read or written
  bool m_bFailed = false;  // the file could not be opened: stop trying
};

}  // namespace zzastracer
