// A stand-in regular-expression library for the loader's test: all five entries, the
// constructors throwing; the build renames one entry per copy to leave it out.
#include <stdexcept>

#define ZZ_EXPORT extern "C" __attribute__((visibility("default")))
ZZ_EXPORT void* NewRegEx(const char*, int, int*) { throw std::runtime_error("regex"); }
ZZ_EXPORT void* NewFastRegEx() { throw std::runtime_error("fast regex"); }
ZZ_EXPORT void DeleteRegEx(void*) {}
ZZ_EXPORT void* MakeBuffMap(const char*, unsigned long) { return nullptr; }
ZZ_EXPORT void DeleteBuffMap(void*) {}
