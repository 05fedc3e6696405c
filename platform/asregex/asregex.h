// The regular-expression library's interface: the objects that NewRegEx and NewFastRegEx
// create and the five entry points the rule engine loads by name (C linkage). The library
// (libasregex.so here) compiles UTF-8 patterns with a Perl-compatible engine and JIT.
//
// Objects: compile once, then match from any number of threads at once (each call uses its
// own per-thread match data and JIT stack). Subjects are UTF-8 text with a byte length;
// invalid UTF-8 in a subject never crashes, it simply does not match where it is invalid.
// Objects are deleted with DeleteRegEx by the code that created them.
#pragma once

#include <cstddef>

namespace asregex {

class IRegEx {
 public:
  // Compiles pattern (UTF-8, zero-terminated); false when it does not compile or a pattern
  // was already compiled.
  virtual bool Compile(const char* pattern) = 0;
  // Whether the compiled pattern matches text[0..length); flags are 0. False when nothing
  // is compiled.
  virtual bool Match(const char* text, std::size_t length, int flags) const = 0;
  // The first match: sets [*start, *end) in bytes and returns true; false when none.
  virtual bool Find(const char* text, std::size_t length, std::size_t* start,
                    std::size_t* end) const = 0;

 protected:
  ~IRegEx() = default;  // deleted through DeleteRegEx only
};

// Option bits of NewRegEx. kNoJit keeps the pattern on the interpreter (for comparisons
// and for hosts where executable memory is not allowed).
enum RegExOptions : int { kCaseless = 1, kMultiline = 2, kDotAll = 4, kNoJit = 8 };

// What MakeBuffMap returns: the byte offset where each line of the buffer starts, in
// increasing order (starts[0] is 0; a line ends after "\n"). One block, owned by the library
// until DeleteBuffMap.
struct BuffMap {
  std::size_t count;
  const std::size_t* starts;
};

}  // namespace asregex

extern "C" {
// A compiled regex (pattern UTF-8, options RegExOptions); null when it does not compile, with
// the byte offset of the problem in *errorOffset when errorOffset is not null.
using PFN_NewRegEx = asregex::IRegEx* (*)(const char* pattern, int options, int* errorOffset);
// An empty fast regex, compiled with Compile.
using PFN_NewFastRegEx = asregex::IRegEx* (*)();
using PFN_DeleteRegEx = void (*)(asregex::IRegEx* regex);
// A map of a buffer's lines (an asregex::BuffMap), for callers that report line numbers;
// null when out of memory.
using PFN_MakeBuffMap = void* (*)(const char* text, std::size_t length);
using PFN_DeleteBuffMap = void (*)(void* map);
}
