// CATrace: the trace sink interface shared by the module and the tracing library.
//
// The module never owns an external sink (the tracing library does); it only calls Trace.
// A sink must accept calls from many threads at once. Format strings follow printf, with
// one addition used in every format of this system: %S takes a zero-terminated UTF-16 text
// (const char16_t*), written out as UTF-8.
#pragma once

class CATrace {
 public:
  virtual ~CATrace() = default;
  // Switches the sink on or off (not used by the module).
  virtual void SetActive(bool bActive) = 0;
  // Writes a finished text as it stands (not used by the module).
  virtual void Write(const char* text) = 0;
  // Formats and writes without a level (not used by the module).
  virtual void Printf(const char* format, ...) = 0;
  // Formats and writes one line at the given level (0 = most important, 3 = details).
  virtual void Trace(unsigned level, const char* format, ...) = 0;
};

// The tracing library's entry point, found by name: returns the library's sink for the
// given log file name, or null.
using GetTracerWProc = CATrace* (*)(const char16_t* logFileName, int flags);
// The tracing library's optional second entry, "GetTraceLevel": the highest level the sink
// keeps (0..3), or -1 when the sink is not one of the library's. A library without it is
// taken to keep every level.
using GetTraceLevelProc = int (*)(const CATrace* sink);
