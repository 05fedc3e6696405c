// The regular-expression library's five entry points (C linkage, the only exported symbols,
// see asregex.map). None of them throws: a pattern that does not compile or a failed
// allocation gives null.
//
// MakeBuffMap scans the buffer once (O(length)) and keeps one offset per line in a single
// block holding the BuffMap header and the offsets.
#include <cstdlib>
#include <new>

#include "asregex/asregex.h"
#include "asregex/pcre_regex.h"

#define ASREGEX_EXPORT extern "C" __attribute__((visibility("default")))

using asregex::CPcreRegEx;
using asregex::IRegEx;

ASREGEX_EXPORT IRegEx* NewRegEx(const char* pattern, int options, int* errorOffset) {
  if (errorOffset != nullptr) *errorOffset = 0;
  constexpr int kKnown = asregex::kCaseless | asregex::kMultiline | asregex::kDotAll |
                         asregex::kNoJit;
  if (pattern == nullptr || (options & ~kKnown) != 0) return nullptr;
  auto* regex = new (std::nothrow) CPcreRegEx(options);
  if (regex == nullptr) return nullptr;
  if (!regex->Compile(pattern)) {
    if (errorOffset != nullptr) *errorOffset = static_cast<int>(regex->ErrorOffset());
    delete regex;
    return nullptr;
  }
  return regex;
}

ASREGEX_EXPORT IRegEx* NewFastRegEx() { return new (std::nothrow) CPcreRegEx(); }

ASREGEX_EXPORT void DeleteRegEx(IRegEx* regex) {
  // Both constructors make a CPcreRegEx, the only IRegEx of this library.
  delete static_cast<CPcreRegEx*>(regex);
}

ASREGEX_EXPORT void* MakeBuffMap(const char* text, std::size_t length) {
  if (text == nullptr && length != 0) return nullptr;
  std::size_t lines = 1;
  for (std::size_t i = 0; i < length; ++i) lines += text[i] == '\n' && i + 1 < length;
  if (lines > (static_cast<std::size_t>(-1) - sizeof(asregex::BuffMap)) / sizeof(std::size_t)) {
    return nullptr;
  }
  void* block = std::malloc(sizeof(asregex::BuffMap) + lines * sizeof(std::size_t));
  if (block == nullptr) return nullptr;
  auto* starts = reinterpret_cast<std::size_t*>(static_cast<char*>(block) +
                                                sizeof(asregex::BuffMap));
  std::size_t n = 0;
  starts[n++] = 0;
  for (std::size_t i = 0; i + 1 < length; ++i) {
    if (text[i] == '\n') starts[n++] = i + 1;
  }
  return new (block) asregex::BuffMap{n, starts};
}

ASREGEX_EXPORT void DeleteBuffMap(void* map) { std::free(map); }
