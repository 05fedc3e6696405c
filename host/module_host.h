// CModuleHost: drives one module file the way the host framework does.
//
// Loads the module with the platform loader, resolves its three exports, takes the class
// factory, creates filters through allocators chosen by display name, gives them the
// settings, creates and loads their shared data and opens sessions. Teardown runs in the
// framework's order: per filter (newest first) DestroySessionData for each open session
// with the table entry cleared, DestroySharedData, the filter's virtual destructor; then
// ReleaseClassFactory and the unload. The destructor tears down whatever was built, so a
// failure half-way leaves nothing behind.
//
// Every call into the module goes through Call(), which turns the module's exceptions into
// HostError while the module is still loaded (an exception object of the module must not
// outlive its code). Ownership: the host owns the filters, their shared and session blocks
// (released through the filters) and the library handle; the settings are the caller's and
// must outlive the host. Not thread-safe itself: build and tear down from one thread; once
// sessions are open, Process calls on the filters may run on many threads.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "afilter.h"
#include "asettings.h"
#include "class_factory.h"
#include "zzplat/dynlib.h"

namespace zzhost {

struct ModuleVersion {
  std::uint32_t majorNumber = 0;
  std::uint32_t minorNumber = 0;
  std::uint32_t buildNumber = 0;
  std::string ToString() const;  // "2.8.32"
};

// One filter the host created.
struct HostedFilter {
  std::string name;                      // display name, UTF-8
  std::u16string wideName;               // display name as the factory gives it
  CAFilter* filter = nullptr;            // Owned: destroyed at teardown.
  void* sharedData = nullptr;            // Owned through filter->DestroySharedData.
  struct Session {
    void* data = nullptr;  // Owned through filter->DestroySessionData.
    bool active = false;
  };
  std::map<std::uint32_t, Session> sessions;  // the sessions open on this filter

  bool IsActive(std::uint32_t sessionId) const {
    auto it = sessions.find(sessionId);
    return it != sessions.end() && it->second.active;
  }
};

// Rethrows the exception being handled as HostError "what: text" (HostError and
// UsageError pass through unchanged). Call only inside a catch block.
[[noreturn]] void RethrowAsHostError(const std::string& what);

class CModuleHost {
 public:
  // Loads the module and resolves its exports; HostError naming the path and the loader's
  // error when the file or an export is missing.
  explicit CModuleHost(const std::string& modulePath);
  ~CModuleHost();
  CModuleHost(const CModuleHost&) = delete;
  CModuleHost& operator=(const CModuleHost&) = delete;

  // Runs f (a call into the module) and returns its result; whatever it throws leaves as
  // HostError "what: text" (see RethrowAsHostError). Later commands wrap Process and
  // ProcessCommand calls in it too.
  template <class F>
  static decltype(auto) Call(const std::string& what, F&& f) {
    try {
      return std::forward<F>(f)();
    } catch (...) {
      RethrowAsHostError(what);
    }
  }

  const std::string& ModulePath() const { return m_path; }
  ModuleVersion GetVersion();
  // The module's class factory, taken on the first call.
  CAClassFactory& Factory();
  // The display names of the factory's allocators, in factory order (UTF-8).
  std::vector<std::string> AllocatorNames();

  // Creates a filter through the allocator with exactly this display name, sets its
  // settings, creates its shared data and loads it (ReloadSharedData). HostError when the
  // factory has no such allocator or the module raises.
  HostedFilter& AddFilter(std::u16string_view name, CASettings& settings);
  // One filter per allocator of the factory, in factory order; with enabledFor, only the
  // filters enabled for that session (IsEnabled is asked before any data is loaded); with
  // only given, just the allocators of those display names.
  void AddAllFilters(CASettings& settings,
                     std::optional<std::uint32_t> enabledFor = std::nullopt,
                     const std::u16string_view* only = nullptr, std::size_t count = 0);
  // Opens a session (0 to 999) on every filter created so far: CreateSessionData,
  // IsEnabled and the active byte, ReloadSessionSettings. Opening an open session does
  // nothing.
  void OpenSession(std::uint32_t sessionId);
  // Closes a session on every filter: DestroySessionData, entry and active byte cleared.
  void CloseSession(std::uint32_t sessionId);

  std::size_t FilterCount() const { return m_filters.size(); }
  HostedFilter& FilterAt(std::size_t index) { return m_filters.at(index); }
  // The filter with this display name, or null.
  HostedFilter* FindFilter(std::u16string_view name);
  // Calls f(HostedFilter&) for each filter active for the session, in creation order.
  template <class F>
  void ForEachActiveFilter(std::uint32_t sessionId, F&& f) {
    for (HostedFilter& hosted : m_filters) {
      if (hosted.IsActive(sessionId)) f(hosted);
    }
  }

  // Tears everything down in the framework's order. Every step runs even when an earlier
  // one fails; the first failure is then thrown as HostError. Idempotent.
  void Shutdown();

 private:
  using GetASVersionFn = void (*)(std::uint32_t*, std::uint32_t*, std::uint32_t*);
  using GetClassFactoryFn = CAClassFactory* (*)();
  using ReleaseClassFactoryFn = std::int32_t (*)();

  // Null when enabledFor is given and the filter is not enabled for that session.
  HostedFilter* AddFilterFrom(CBasicAllocator& allocator, CASettings& settings,
                              std::optional<std::uint32_t> enabledFor);
  void CloseSessionOf(HostedFilter& hosted, std::uint32_t sessionId);

  std::string m_path;
  zzplat::LibraryHandle m_library = nullptr;  // Owned.
  GetASVersionFn m_getVersion = nullptr;
  GetClassFactoryFn m_getFactory = nullptr;
  ReleaseClassFactoryFn m_releaseFactory = nullptr;
  CAClassFactory* m_factory = nullptr;  // Owned by the module until ReleaseClassFactory.
  std::deque<HostedFilter> m_filters;  // deque: references stay valid as filters are added
};

}  // namespace zzhost
