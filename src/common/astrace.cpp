// The process-wide current sink and the tracing library's life cycle.
//
// The current sink is an atomic pointer; until something else is installed it is a
// do-nothing sink that lives in static storage and is never destroyed, so trace calls made
// while the process shuts down stay harmless. Beside it, the highest level the sink keeps,
// which the trace macros read before calling it. Tested by tests/common/astrace_test.cpp.
#include "common/astrace.h"

#include <atomic>
#include <cstring>
#include <new>

#include "zzplat/dynlib.h"

namespace ascommon {

namespace detail {
std::atomic<int> g_traceMaxLevel{-1};
}  // namespace detail

namespace {

constexpr int kAllLevels = 3;

std::atomic<CATrace*> g_current{nullptr};
// The loaded tracing library, its sink and the levels that sink keeps; touched by
// StartTracing/StopTracing only (one thread), read by SetTracerForTesting.
zzplat::LibraryHandle g_library = nullptr;
CATrace* g_librarySink = nullptr;
int g_librarySinkLevel = -1;

void SetMaxLevel(int level) noexcept {
  detail::g_traceMaxLevel.store(level, std::memory_order_relaxed);
}

// The shared do-nothing sink, built once and never destroyed.
CATrace* DummySink() noexcept {
  alignas(CDummyTrace) static unsigned char storage[sizeof(CDummyTrace)];
  static CATrace* const sink = ::new (static_cast<void*>(storage)) CDummyTrace();
  return sink;
}

}  // namespace

CATrace* GetTracer() noexcept {
  CATrace* sink = g_current.load(std::memory_order_acquire);
  if (sink != nullptr) return sink;
  CATrace* expected = nullptr;
  CATrace* dummy = DummySink();
  if (g_current.compare_exchange_strong(expected, dummy, std::memory_order_acq_rel)) {
    return dummy;
  }
  return expected;
}

void StartTracing() noexcept {
  try {
    zzplat::LibraryHandle library = zzplat::LoadLibraryW(u"astracer.dll");
    if (library == nullptr) return;
    auto getTracer =
        reinterpret_cast<GetTracerWProc>(zzplat::GetProcAddress(library, "GetTracerW"));
    CATrace* sink = getTracer != nullptr ? getTracer(u"vi2_debug.log", 1) : nullptr;
    if (sink == nullptr) {
      zzplat::FreeLibrary(library);
      return;
    }
    // Asked once: the sink keeps its levels for its lifetime.
    auto getLevel =
        reinterpret_cast<GetTraceLevelProc>(zzplat::GetProcAddress(library, "GetTraceLevel"));
    int level = getLevel != nullptr ? getLevel(sink) : kAllLevels;
    if (level < 0 || level > kAllLevels) level = kAllLevels;
    g_current.store(sink, std::memory_order_release);
    SetMaxLevel(level);
    g_librarySink = sink;
    g_librarySinkLevel = level;
    // Starting again loads the library again; the newer handle keeps it loaded.
    if (g_library != nullptr) zzplat::FreeLibrary(g_library);
    g_library = library;
  } catch (...) {
    // Tracing failures are silent: the current sink stays in force.
  }
}

void StopTracing() noexcept {
  if (g_library == nullptr) return;
  // The library owns its sink: it is only dropped, then the library is released.
  SetMaxLevel(-1);
  g_current.store(DummySink(), std::memory_order_release);
  g_librarySink = nullptr;
  g_librarySinkLevel = -1;
  zzplat::FreeLibrary(g_library);
  g_library = nullptr;
}

CATrace* SetTracerForTesting(CATrace* sink) noexcept {
  if (sink == nullptr) sink = DummySink();
  CATrace* previous = g_current.exchange(sink, std::memory_order_acq_rel);
  SetMaxLevel(sink == DummySink()       ? -1
              : sink == g_librarySink   ? g_librarySinkLevel
                                        : kAllLevels);
  return previous != nullptr ? previous : DummySink();
}

const char* TraceFileName(const char* path) noexcept {
  if (path == nullptr) return "[no file]";
  const char* slash = std::strrchr(path, '\\');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace ascommon
