#include "module_host.h"

#include <algorithm>
#include <new>

#include "common/asexception.h"
#include "errors.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

std::string Describe(const HostedFilter& hosted, const char* operation) {
  return hosted.name + ": " + operation;
}

}  // namespace

std::string ModuleVersion::ToString() const {
  return std::to_string(majorNumber) + "." + std::to_string(minorNumber) + "." +
         std::to_string(buildNumber);
}

void RethrowAsHostError(const std::string& what) {
  try {
    throw;
  } catch (const HostError&) {
    throw;
  } catch (const UsageError&) {
    throw;
  } catch (const InvalidIndexException&) {
    // The container exceptions carry no message ("unknown exception"): say what they mean.
    throw HostError(what + ": container index out of range (code -301)");
  } catch (const EmptyListException&) {
    throw HostError(what + ": element of an empty list (code -400)");
  } catch (const AException& e) {
    // Messages made by the throw macros carry their code; the container exceptions have
    // only a code.
    std::string text = what + ": " + e.what();
    if (e.GetCode() != 0 && text.find("CODE:") == std::string::npos) {
      text += " (code " + std::to_string(e.GetCode()) + ")";
    }
    throw HostError(text);
  } catch (const std::bad_alloc&) {
    throw HostError(what + ": out of memory");
  } catch (const std::exception& e) {
    throw HostError(what + ": " + e.what());
  } catch (...) {
    throw HostError(what + ": unknown exception");
  }
}

CModuleHost::CModuleHost(const std::string& modulePath) : m_path(modulePath) {
  m_library = zzplat::LoadLibraryLocal(m_path.c_str());
  if (m_library == nullptr) {
    throw HostError("cannot load module '" + m_path + "': " + zzplat::LastLoaderError());
  }
  const auto resolve = [this](const char* name) {
    void* address = zzplat::GetProcAddress(m_library, name);
    if (address == nullptr) {
      const std::string error = zzplat::LastLoaderError();
      zzplat::FreeLibrary(m_library);
      m_library = nullptr;
      throw HostError("module '" + m_path + "' has no export '" + name + "': " + error);
    }
    return address;
  };
  m_getVersion = reinterpret_cast<GetASVersionFn>(resolve("GetASVersion"));
  m_getFactory = reinterpret_cast<GetClassFactoryFn>(resolve("GetClassFactory"));
  m_releaseFactory = reinterpret_cast<ReleaseClassFactoryFn>(resolve("ReleaseClassFactory"));
}

CModuleHost::~CModuleHost() {
  try {
    Shutdown();
  } catch (...) {
    // A destructor cannot report; callers who care call Shutdown themselves.
  }
}

ModuleVersion CModuleHost::GetVersion() {
  ModuleVersion version;
  Call("GetASVersion", [&] { m_getVersion(&version.majorNumber, &version.minorNumber, &version.buildNumber); });
  return version;
}

CAClassFactory& CModuleHost::Factory() {
  if (m_factory == nullptr) {
    m_factory = Call("GetClassFactory", [&] { return m_getFactory(); });
    if (m_factory == nullptr) {
      // The module answers null only when it cannot allocate the factory.
      throw HostError("module '" + m_path + "': GetClassFactory: out of memory");
    }
  }
  return *m_factory;
}

std::vector<std::string> CModuleHost::AllocatorNames() {
  CAClassFactory& factory = Factory();
  std::vector<std::string> names;
  Call("reading the allocators", [&] {
    const std::uint64_t count = factory.GetAllocatorCount();
    for (std::uint64_t i = 0; i < count; ++i) {
      CBasicAllocator* allocator = factory.GetAllocator(i);
      const ascommon::usstring* name = allocator != nullptr ? allocator->GetModuleName() : nullptr;
      names.push_back(name != nullptr ? zzplat::Utf16ToUtf8Lenient(name->c_str()) : std::string());
    }
  });
  return names;
}

HostedFilter& CModuleHost::AddFilter(std::u16string_view name, CASettings& settings) {
  CAClassFactory& factory = Factory();
  // A linear walk with exact comparison, as the framework chooses allocators.
  CBasicAllocator* chosen = Call("reading the allocators", [&]() -> CBasicAllocator* {
    const std::uint64_t count = factory.GetAllocatorCount();
    for (std::uint64_t i = 0; i < count; ++i) {
      CBasicAllocator* allocator = factory.GetAllocator(i);
      const ascommon::usstring* candidate =
          allocator != nullptr ? allocator->GetModuleName() : nullptr;
      if (candidate != nullptr && candidate->c_str() != nullptr &&
          std::u16string_view(candidate->c_str(), candidate->length()) == name) {
        return allocator;
      }
    }
    return nullptr;
  });
  if (chosen == nullptr) {
    throw HostError("the module has no filter named '" +
                    zzplat::Utf16ToUtf8Lenient(std::u16string(name).c_str()) + "'");
  }
  return *AddFilterFrom(*chosen, settings, std::nullopt);
}

void CModuleHost::AddAllFilters(CASettings& settings, std::optional<std::uint32_t> enabledFor,
                                const std::u16string_view* only, std::size_t count) {
  CAClassFactory& factory = Factory();
  const char* what = "reading the allocators";
  const std::uint64_t allocators = Call(what, [&] { return factory.GetAllocatorCount(); });
  for (std::uint64_t i = 0; i < allocators; ++i) {
    CBasicAllocator* allocator = Call(what, [&] { return factory.GetAllocator(i); });
    if (allocator == nullptr) continue;
    if (only != nullptr) {
      const ascommon::usstring* name = allocator->GetModuleName();
      const std::u16string_view text(name != nullptr && name->c_str() != nullptr ? name->c_str()
                                                                                : u"");
      if (std::find(only, only + count, text) == only + count) continue;
    }
    AddFilterFrom(*allocator, settings, enabledFor);
  }
}

HostedFilter* CModuleHost::AddFilterFrom(CBasicAllocator& allocator, CASettings& settings,
                                         std::optional<std::uint32_t> enabledFor) {
  const ascommon::usstring* wideName = allocator.GetModuleName();
  const char16_t* nameText =
      wideName != nullptr && wideName->c_str() != nullptr ? wideName->c_str() : u"";
  const std::string name8 = zzplat::Utf16ToUtf8Lenient(nameText);

  CAModule* module = Call(name8 + ": CreateModule", [&] { return allocator.CreateModule(); });
  if (module == nullptr) throw HostError(name8 + ": CreateModule returned no module");
  // Every module this factory builds is a filter (module kind 1); the framework treats it
  // as a CAFilter without a run-time check, and so does this host.
  HostedFilter& hosted = m_filters.emplace_back();
  hosted.name = name8;
  hosted.wideName = nameText;
  hosted.filter = static_cast<CAFilter*>(module);

  CAFilter* filter = hosted.filter;
  filter->SetSettings(&settings);
  // A filter the session does not use is not kept: its data files need not exist.
  if (enabledFor.has_value() &&
      !Call(Describe(hosted, "IsEnabled"), [&] { return filter->IsEnabled(*enabledFor); })) {
    Call(Describe(hosted, "destructor"), [&] { delete filter; });
    m_filters.pop_back();
    return nullptr;
  }
  hosted.sharedData = Call(Describe(hosted, "CreateSharedData"),
                           [&] { return filter->CreateSharedData(); });
  if (hosted.sharedData == nullptr) {
    throw HostError(Describe(hosted, "CreateSharedData") + ": out of memory");
  }
  filter->SetSharedData(hosted.sharedData);
  Call(Describe(hosted, "ReloadSharedData"), [&] { filter->ReloadSharedData(); });
  return &hosted;
}

void CModuleHost::OpenSession(std::uint32_t sessionId) {
  if (sessionId >= CNotifiableObject::kMaxSessions) {
    throw HostError("session " + std::to_string(sessionId) + " out of range (0 to 999)");
  }
  for (HostedFilter& hosted : m_filters) {
    if (hosted.sessions.count(sessionId) != 0) continue;
    CAFilter* filter = hosted.filter;
    void* block = Call(Describe(hosted, "CreateSessionData"),
                       [&] { return filter->CreateSessionData(); });
    if (block == nullptr) {
      throw HostError(Describe(hosted, "CreateSessionData") + ": out of memory");
    }
    filter->SetSessionData(sessionId, block);
    HostedFilter::Session& session = hosted.sessions[sessionId];
    session.data = block;  // recorded at once, so teardown frees the block
    session.active =
        Call(Describe(hosted, "IsEnabled"), [&] { return filter->IsEnabled(sessionId); });
    filter->SetSessionActive(sessionId, session.active ? 1 : 0);
    Call(Describe(hosted, "ReloadSessionSettings"),
         [&] { filter->ReloadSessionSettings(sessionId); });
  }
}

void CModuleHost::CloseSessionOf(HostedFilter& hosted, std::uint32_t sessionId) {
  auto it = hosted.sessions.find(sessionId);
  if (it == hosted.sessions.end()) return;
  void* block = it->second.data;
  hosted.sessions.erase(it);
  CAFilter* filter = hosted.filter;
  // The framework's order: the session stops taking items, its block is destroyed, then its
  // table entry is cleared (also when the destruction raised).
  filter->SetSessionActive(sessionId, 0);
  try {
    Call(Describe(hosted, "DestroySessionData"), [&] { filter->DestroySessionData(block); });
  } catch (...) {
    filter->SetSessionData(sessionId, nullptr);
    throw;
  }
  filter->SetSessionData(sessionId, nullptr);
}

void CModuleHost::CloseSession(std::uint32_t sessionId) {
  for (HostedFilter& hosted : m_filters) CloseSessionOf(hosted, sessionId);
}

HostedFilter* CModuleHost::FindFilter(std::u16string_view name) {
  for (HostedFilter& hosted : m_filters) {
    if (hosted.wideName == name) return &hosted;
  }
  return nullptr;
}

void CModuleHost::Shutdown() {
  std::string firstError;
  const auto step = [&firstError](const std::string& what, auto&& action) {
    try {
      Call(what, action);
    } catch (const std::exception& e) {
      if (firstError.empty()) firstError = e.what();
    }
  };

  while (!m_filters.empty()) {
    HostedFilter& hosted = m_filters.back();
    while (!hosted.sessions.empty()) {
      const std::uint32_t sessionId = hosted.sessions.begin()->first;
      step(Describe(hosted, "DestroySessionData"), [&] { CloseSessionOf(hosted, sessionId); });
    }
    CAFilter* filter = hosted.filter;
    step(Describe(hosted, "DestroySharedData"), [&] {
      void* shared = hosted.sharedData;
      hosted.sharedData = nullptr;
      filter->SetSharedData(nullptr);
      filter->DestroySharedData(shared);
    });
    delete filter;  // the filter's virtual destructor (it cannot raise)
    m_filters.pop_back();
  }
  if (m_factory != nullptr) {
    m_factory = nullptr;
    step("ReleaseClassFactory", [&] { m_releaseFactory(); });
  }
  if (m_library != nullptr) {
    zzplat::FreeLibrary(m_library);
    m_library = nullptr;
  }
  if (!firstError.empty()) throw HostError(firstError);
}

}  // namespace zzhost
