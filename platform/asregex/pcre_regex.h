// CPcreRegEx: the library's one IRegEx, a PCRE2 (8-bit) pattern compiled for UTF-8 and,
// where the machine allows it, for the JIT.
//
// Owns its compiled code. Compile runs once, before the object is shared; after that Match
// and Find are safe from any number of threads at once: the code is read-only, and every
// call takes the calling thread's own match data, match context and JIT stack (created on
// the thread's first match, freed when the thread ends).
//
// Bounds, so that a hostile page cannot hang a filter thread: a match gives up after
// kMatchLimit steps, kDepthLimit nested backtracks or kHeapLimitKiB of backtracking memory
// (interpreter), or once the JIT stack has grown to kMaxJitStack; a match that gives up
// counts as no match. Subjects may hold invalid UTF-8: such bytes never match anything, and
// nothing is read outside [text, text + length).
#pragma once

#include <cstddef>
#include <cstdint>

#include "asregex/asregex.h"

struct pcre2_real_code_8;

namespace asregex {

class CPcreRegEx final : public IRegEx {
 public:
  static constexpr std::uint32_t kMatchLimit = 5000000;
  static constexpr std::uint32_t kDepthLimit = 1000000;
  static constexpr std::uint32_t kHeapLimitKiB = 64 * 1024;
  static constexpr std::size_t kFirstJitStack = 32 * 1024;
  static constexpr std::size_t kMaxJitStack = 8 * 1024 * 1024;

  // options: RegExOptions bits that Compile uses.
  explicit CPcreRegEx(int options = 0) noexcept : m_options(options) {}
  ~CPcreRegEx();
  CPcreRegEx(const CPcreRegEx&) = delete;
  CPcreRegEx& operator=(const CPcreRegEx&) = delete;

  bool Compile(const char* pattern) override;
  bool Match(const char* text, std::size_t length, int flags) const override;
  bool Find(const char* text, std::size_t length, std::size_t* start,
            std::size_t* end) const override;

  // The byte offset in the pattern where the last Compile failed (0 when unknown).
  std::size_t ErrorOffset() const noexcept { return m_errorOffset; }
  // Whether the compiled pattern runs on the JIT.
  bool UsesJit() const noexcept { return m_jit; }

 private:
  // The first match in text: [*start, *end) when the pointers are given.
  bool Search(const char* text, std::size_t length, std::size_t* start,
              std::size_t* end) const noexcept;

  pcre2_real_code_8* m_code = nullptr;  // Owned.
  int m_options;
  std::size_t m_errorOffset = 0;
  bool m_jit = false;
};

}  // namespace asregex
