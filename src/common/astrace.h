// Module-side tracing: the process-wide current sink and the macros every trace line and
// every throw site goes through.
//
// The current sink starts as a do-nothing sink; StartTracing swaps in the tracing library's
// sink when that library is present and learns once which levels that sink keeps. A trace
// macro compares its level with that before anything else, so a line nobody keeps costs
// one relaxed load and a comparison: its arguments are not evaluated, nothing is formatted
// and the sink is not called. The sink pointer and the level are atomic, so trace calls from
// any thread see either sink whole. StartTracing/StopTracing run on the module's set-up and
// tear-down path only (one thread).
//
// Line format: a 21-character prefix, "FILE:LINE -", the text and a newline. AS_THROW*
// write the exception line first, then throw the exception with the same text.
#pragma once

#include <atomic>

#include "common/asexception.h"
#include "common/catrace.h"

// The sink used while no tracing library is loaded: every operation does nothing.
class CDummyTrace : public CATrace {
 public:
  void SetActive(bool) override {}
  void Write(const char*) override {}
  void Printf(const char*, ...) override {}
  void Trace(unsigned, const char*, ...) override {}
};

namespace ascommon {

// The current sink; never null.
CATrace* GetTracer() noexcept;
// Loads the tracing library and makes its sink current; silent when anything is missing.
void StartTracing() noexcept;
// Makes a do-nothing sink current and releases the tracing library if it was loaded.
void StopTracing() noexcept;
// Makes the given sink current (null restores a do-nothing sink) and returns the previous
// one. For tests and the host's own capture of trace lines; the caller keeps ownership of
// its sink. Such a sink receives every level; restoring the library's sink restores its
// levels.
CATrace* SetTracerForTesting(CATrace* sink) noexcept;
// The part of a source path after its last backslash; the whole path without one;
// "[no file]" for null.
const char* TraceFileName(const char* path) noexcept;

namespace detail {
// The highest level the current sink keeps; -1 while it is a do-nothing sink.
extern std::atomic<int> g_traceMaxLevel;
}  // namespace detail

// True when a line of this level would be kept: the check the trace macros make first.
inline bool TraceOn(unsigned level) noexcept {
  return static_cast<int>(level) <= detail::g_traceMaxLevel.load(std::memory_order_relaxed);
}

}  // namespace ascommon

#if defined(__FILE_NAME__)
#define AS_SOURCE_FILE __FILE_NAME__
#else
#define AS_SOURCE_FILE __FILE__
#endif

#define AS_TRACE_PREFIX "[VEVOZOVI]           %s:%d -"
#define AS_TRACE_EXC_PREFIX "[VEVOZOVI EXCEPTION] %s:%d -"

// One line through the current sink when its level is kept; an expression of type void.
// The arguments are evaluated only when the line is kept.
#define AS_TRACE_LINE(level, prefix, format, ...)                                       \
  (::ascommon::TraceOn(level)                                                           \
       ? ::ascommon::GetTracer()->Trace((level), prefix format "\n",                    \
                                        ::ascommon::TraceFileName(AS_SOURCE_FILE),      \
                                        __LINE__ __VA_OPT__(, ) __VA_ARGS__)            \
       : (void)0)

// An ordinary trace line: AS_TRACE(0, "Creating new module: [%s]", name).
#define AS_TRACE(level, format, ...) \
  AS_TRACE_LINE(level, AS_TRACE_PREFIX, format __VA_OPT__(, ) __VA_ARGS__)

// An exception line without a throw (for the rare sites that trace and go on).
#define AS_TRACE_EXC(level, format, ...) \
  AS_TRACE_LINE(level, AS_TRACE_EXC_PREFIX, format __VA_OPT__(, ) __VA_ARGS__)

// AS_THROW and AS_THROW_CODE trace and throw from a lambda that is never inlined and is
// marked cold: a function that may throw keeps the trace call and the exception's
// construction out of its common path, which then saves fewer registers and stays short
// (the blackbox's setters, called for every page, are such functions).
#if defined(__GNUC__)
#define AS_COLD_THROW_PATH __attribute__((noinline, cold, noreturn))
#else
#define AS_COLD_THROW_PATH
#endif

// Traces and throws Cls with the text "Cls - MESSAGE: ..." and code 0.
#define AS_THROW(level, Cls, format, ...)                                               \
  [&]() AS_COLD_THROW_PATH {                                                            \
    AS_TRACE_EXC(level, #Cls " - MESSAGE: " format __VA_OPT__(, ) __VA_ARGS__);         \
    throw Cls(0, #Cls " - MESSAGE: " format __VA_OPT__(, ) __VA_ARGS__);                \
  }()

// Throws Cls with the text "Cls - CODE: <code> MESSAGE: ..." and that code, without a
// trace line (the few silent throw sites).
#define AS_RAISE_CODE(Cls, code, format, ...)                                           \
  do {                                                                                  \
    const int as_code_ = static_cast<int>(code);                                        \
    throw Cls(as_code_, #Cls " - CODE: %d MESSAGE: " format, as_code_ __VA_OPT__(, )    \
              __VA_ARGS__);                                                             \
  } while (0)

// Traces the exception line, then throws as AS_RAISE_CODE.
#define AS_THROW_CODE(level, Cls, code, format, ...)                                    \
  [&]() AS_COLD_THROW_PATH {                                                            \
    const int as_traced_code_ = static_cast<int>(code);                                 \
    AS_TRACE_EXC(level, #Cls " - CODE: %d MESSAGE: " format,                            \
                 as_traced_code_ __VA_OPT__(, ) __VA_ARGS__);                           \
    AS_RAISE_CODE(Cls, as_traced_code_, format __VA_OPT__(, ) __VA_ARGS__);             \
  }()

// The "Unused param" notice of operations that accept and ignore a parameter.
#define AS_TRACE_UNUSED(operation, param) AS_TRACE(3, "Unused param %s :: %s", operation, param)
