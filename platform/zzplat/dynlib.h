// Dynamic library loading on wide (UTF-16) names, with Win32 semantics.
//
// Engine code names libraries as the product does on its home platform ("astracer.dll");
// LocalLibraryName maps such a name to this platform's file name in one place
// ("libastracer.so"). A name with a folder part keeps its folder; "\" separators become the
// local separator. Other extensions (the module's ".mdl") are kept. Thread-safe.
#pragma once

#include <string>

namespace zzplat {

using LibraryHandle = void*;

// The local file name (UTF-8) for a library name in the product's form.
std::string LocalLibraryName(const char16_t* name);
// Loads a library by path, or by bare name from the application's folder and then the
// loader's search path; null when it cannot be loaded.
LibraryHandle LoadLibraryW(const char16_t* name);
// Loads by a local UTF-8 path as given, without name mapping; null on failure.
LibraryHandle LoadLibraryLocal(const char* path);
// The address of an exported function, or null.
void* GetProcAddress(LibraryHandle library, const char* name);
void FreeLibrary(LibraryHandle library);
// The loader's last error text (for the host's messages).
std::string LastLoaderError();

}  // namespace zzplat
