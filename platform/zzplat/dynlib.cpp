#include "zzplat/dynlib.h"

#include <cstring>
#include <new>

#include "zzplat/paths.h"

#if defined(_WIN32)
#error "The Windows build maps these calls straight to LoadLibraryW/GetProcAddress/FreeLibrary."
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace zzplat {

namespace {

// The folder of the running executable, with a trailing "/"; empty when unknown.
std::string ExecutableFolder() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  std::string exe(path, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

}  // namespace

static LibraryHandle LoadMapped(const char16_t* name);

std::string LocalLibraryName(const char16_t* name) {
  std::string path = LocalPath(name);
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t n = file.size();
  if (n > 4 && (file.compare(n - 4, 4, ".dll") == 0 || file.compare(n - 4, 4, ".DLL") == 0)) {
    file = "lib" + file.substr(0, n - 4) + ".so";
  }
  return folder + file;
}

LibraryHandle LoadLibraryW(const char16_t* name) {
  if (name == nullptr) return nullptr;
  try {
    return LoadMapped(name);
  } catch (const std::bad_alloc&) {
    return nullptr;  // a library that cannot be named cannot be loaded
  }
}

static LibraryHandle LoadMapped(const char16_t* name) {
  const std::string local = LocalLibraryName(name);
  // A bare name is looked for in the application's folder first, as Win32 does; the
  // loader's own search (which depends on the calling object's RUNPATH, and sees the
  // sanitizer runtime as the caller in sanitized builds) comes second.
  if (!local.empty() && local.find('/') == std::string::npos) {
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
      if (LibraryHandle library = LoadLibraryLocal((folder + local).c_str())) return library;
    }
  }
  return LoadLibraryLocal(local.c_str());
}

LibraryHandle LoadLibraryLocal(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

void FreeLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

std::string LastLoaderError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown loader error";
}

}  // namespace zzplat
