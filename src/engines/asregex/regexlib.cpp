// Loading the regular-expression library and calling through its entry points.
//
// The handle holds the loaded module and the five entries; it is made only when all five
// are present, so the wrappers need check only the handle. Each wrapper runs the library
// call inside a catch-all guard: whatever the library throws becomes an empty result.
// Tested by tests/engines/asregex/asregex_test.cpp.
#include "engines/asregex/regexlib.h"

#include <string>

#include "common/asmemory.h"
#include "common/astrace.h"
#include "zzplat/dynlib.h"

namespace asregex {

struct CRegexLib : ascommon::CASAllocated {
  zzplat::LibraryHandle module = nullptr;  // Owned; released by FreeRegexLib.
  PFN_NewRegEx newRegEx = nullptr;
  PFN_NewFastRegEx newFastRegEx = nullptr;
  PFN_DeleteRegEx deleteRegEx = nullptr;
  PFN_MakeBuffMap makeBuffMap = nullptr;
  PFN_DeleteBuffMap deleteBuffMap = nullptr;
};

namespace {

template <class Fn>
Fn Entry(zzplat::LibraryHandle module, const char* name) {
  return reinterpret_cast<Fn>(zzplat::GetProcAddress(module, name));
}

void TraceLoadFailure(const char16_t* path) {
  try {
    AS_TRACE(0, "cannot load the Regex library (%S): %s", path,
             zzplat::LastLoaderError().c_str());
  } catch (...) {
    // Without memory for the loader's text the line is dropped; the result is the same.
  }
}

}  // namespace

CRegexLib* LoadRegexLib(const ascommon::usstring& directory) {
  if (directory.empty()) return nullptr;
  ascommon::usstring path(directory);
  if (path.status() != 0 ||
      (directory.c_str()[directory.length() - 1] != u'\\' && path.append(u"\\") != 0) ||
      path.append(u"asregex.dll") != 0) {
    return nullptr;
  }
  AS_TRACE(3, "Trying to load the lib %S", path.c_str());
  zzplat::LibraryHandle module = zzplat::LoadLibraryW(path.c_str());
  if (module == nullptr) {
    TraceLoadFailure(path.c_str());
    return nullptr;
  }
  CRegexLib entries;
  entries.newRegEx = Entry<PFN_NewRegEx>(module, "NewRegEx");
  entries.newFastRegEx = Entry<PFN_NewFastRegEx>(module, "NewFastRegEx");
  entries.deleteRegEx = Entry<PFN_DeleteRegEx>(module, "DeleteRegEx");
  entries.makeBuffMap = Entry<PFN_MakeBuffMap>(module, "MakeBuffMap");
  entries.deleteBuffMap = Entry<PFN_DeleteBuffMap>(module, "DeleteBuffMap");
  const char* warning = nullptr;
  if (entries.newRegEx == nullptr || entries.newFastRegEx == nullptr ||
      entries.deleteRegEx == nullptr) {
    warning = "invalid Regex DLL library ! The product will run, but with a lot less "
              "functionality.";
  } else if (entries.makeBuffMap == nullptr) {
    warning = "could not obtain fctor_makebuffmap - cannot supply fast regex";
  } else if (entries.deleteBuffMap == nullptr) {
    warning = "could not obtain fctor_deletebuffmap - cannot supply fast regex";
  }
  if (warning != nullptr) {
    AS_TRACE(0, "WARNING: %s", warning);
    zzplat::FreeLibrary(module);
    return nullptr;
  }
  auto* lib = new (std::nothrow) CRegexLib(entries);
  if (lib == nullptr) {
    zzplat::FreeLibrary(module);
    return nullptr;
  }
  lib->module = module;
  return lib;
}

IRegEx* NewFastRegex(CRegexLib* lib) noexcept {
  if (lib == nullptr) return nullptr;
  try {
    return lib->newFastRegEx();
  } catch (...) {
    return nullptr;
  }
}

IRegEx* NewRegex(CRegexLib* lib, const char* pattern, int options, int* errorOffset) noexcept {
  if (lib == nullptr) return nullptr;
  try {
    return lib->newRegEx(pattern, options, errorOffset);
  } catch (...) {
    return nullptr;
  }
}

void DeleteRegex(CRegexLib* lib, IRegEx* regex) noexcept {
  if (lib == nullptr || regex == nullptr) return;
  try {
    lib->deleteRegEx(regex);
  } catch (...) {
    // The object is lost to the library; the caller goes on without it.
  }
}

void FreeRegexLib(CRegexLib* lib) noexcept {
  if (lib == nullptr) return;
  zzplat::FreeLibrary(lib->module);
  delete lib;
}

}  // namespace asregex
