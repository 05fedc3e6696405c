// TraceCapture: a CATrace that records every formatted line, installed as the current sink
// (receiving every level) for the lifetime of the object. Safe for lines from many threads.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "common/asformat.h"
#include "common/astrace.h"

namespace zztest {

class TraceCapture : public CATrace {
 public:
  struct Line {
    unsigned level;
    std::string text;
  };

  TraceCapture() { m_previous = ascommon::SetTracerForTesting(this); }
  ~TraceCapture() override { ascommon::SetTracerForTesting(m_previous); }

  void SetActive(bool) override {}
  void Write(const char* text) override { Add(99, text); }
  void Printf(const char*, ...) override {}
  void Trace(unsigned level, const char* format, ...) override {
    char buffer[4096];
    std::va_list args;
    va_start(args, format);
    ascommon::FormatV(buffer, sizeof buffer, format, args);
    va_end(args);
    Add(level, buffer);
  }

  std::vector<Line> Lines() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lines;
  }
  // Number of lines containing the fragment.
  int Count(const std::string& fragment) {
    int n = 0;
    for (const Line& line : Lines()) n += line.text.find(fragment) != std::string::npos;
    return n;
  }
  // The first line containing the fragment, or "".
  std::string Find(const std::string& fragment) {
    for (const Line& line : Lines()) {
      if (line.text.find(fragment) != std::string::npos) return line.text;
    }
    return "";
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lines.clear();
  }

 private:
  void Add(unsigned level, const char* text) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lines.push_back({level, text});
  }

  std::mutex m_mutex;
  std::vector<Line> m_lines;
  CATrace* m_previous = nullptr;
};

}  // namespace zztest
