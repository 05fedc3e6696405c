// The loader of the regular-expression library: loads "asregex.dll" (the platform maps the
// name) from a folder, resolves its five entry points and wraps them so that a failure inside
// the library becomes an empty result. The handle is owned by the engines handle.
// Threads: Load/Free under the caller's exclusive lock; the other calls from any thread.
#pragma once

#include "asregex/asregex.h"
#include "common/ustring.h"

namespace asregex {

struct CRegexLib;

// The library loaded from directory, or null (traced: "Trying to load the lib %S", "cannot
// load the Regex library (%S): %s", the "WARNING: ..." lines for a missing entry point).
CRegexLib* LoadRegexLib(const ascommon::usstring& directory);
// A new fast regex, or null when the handle or the entry point is missing or it failed.
IRegEx* NewFastRegex(CRegexLib* lib) noexcept;
IRegEx* NewRegex(CRegexLib* lib, const char* pattern, int options, int* errorOffset) noexcept;
void DeleteRegex(CRegexLib* lib, IRegEx* regex) noexcept;
// Unloads the library and releases the handle (null accepted).
void FreeRegexLib(CRegexLib* lib) noexcept;

}  // namespace asregex
