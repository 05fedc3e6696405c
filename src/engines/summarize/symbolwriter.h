// CSymbolWriter: appends summary symbols to an sstring, growing its block geometrically.
// sstring::append allocates a block of exactly the new length on every call, which makes
// symbol-at-a-time writing quadratic; the writer keeps spare capacity instead (the string's
// capacity may then exceed its length + 1, which sstring allows), so a summary of n symbols
// costs O(n) time and O(log n) allocations.
// Ownership: the writer refers to a string it does not own; the string must outlive it.
// Threads: one writer and its string belong to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/ustring.h"

namespace summarize::summary_detail {

class CSymbolWriter {
 public:
  explicit CSymbolWriter(ascommon::sstring& out) noexcept : m_out(out) {}

  // Empties the string, keeping its block for reuse.
  void Reset() noexcept { m_out.set_length(0); }

  // Appends count copies of symbol / length bytes of text. False when memory runs out: the
  // string keeps what it had, its status becomes -2 and the writer refuses further symbols.
  bool Put(char symbol, std::size_t count = 1) noexcept {
    if (!Reserve(count)) return false;
    const std::size_t length = m_out.length();
    std::memset(m_out.data() + length, symbol, count);
    m_out.set_length(length + count);
    return true;
  }
  bool Put(const char* text, std::size_t length) noexcept {
    if (!Reserve(length)) return false;
    const std::size_t used = m_out.length();
    std::memcpy(m_out.data() + used, text, length);
    m_out.set_length(used + length);
    return true;
  }

  bool Failed() const noexcept { return m_failed; }
  std::int32_t Status() const noexcept { return m_failed ? -2 : 0; }

 private:
  // Room for extra more bytes and the terminator.
  bool Reserve(std::size_t extra) noexcept {
    if (m_failed) return false;
    const std::size_t length = m_out.length();
    if (extra > kMaxLength - length) return Fail();
    const std::size_t needed = length + extra + 1;
    if (!m_out.is_null() && needed <= m_out.capacity()) return true;
    std::size_t capacity = m_out.capacity() < kMaxLength / 2 ? m_out.capacity() * 2 : needed;
    if (capacity < kMinCapacity) capacity = kMinCapacity;
    if (capacity < needed) capacity = needed;
    ascommon::sstring grown;
    if (grown.fill(capacity, '\0') != 0) return Fail();
    if (length > 0) std::memcpy(grown.data(), m_out.c_str(), length);
    grown.set_length(length);
    m_out = std::move(grown);
    return true;
  }
  bool Fail() noexcept {
    m_failed = true;
    m_out.set_status(-2);
    return false;
  }

  static constexpr std::size_t kMinCapacity = 64;
  static constexpr std::size_t kMaxLength = static_cast<std::size_t>(-1) / 4;

  ascommon::sstring& m_out;  // Not owned.
  bool m_failed = false;
};

}  // namespace summarize::summary_detail
