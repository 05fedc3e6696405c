// TPodVector: growable array of trivially copyable records on the engine heap, for the token
// sequence and element lists of the HTML parser.
//
// The capacity doubles (from 16), so n appends cost O(n) copies in total: a page with
// millions of tags never pays for regrowth step by step. Push reports allocation failure
// by returning false (the vector is unchanged). Owns its block; not copyable. No locking.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "common/asmemory.h"

namespace html_detail {

template <class T>
class TPodVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "TPodVector keeps plain records only");

 public:
  TPodVector() noexcept = default;
  ~TPodVector() { ascommon::as_free(m_data); }
  TPodVector(const TPodVector&) = delete;
  TPodVector& operator=(const TPodVector&) = delete;

  bool Push(const T& value) noexcept {
    if (m_count == m_capacity && !Grow()) return false;
    std::memcpy(static_cast<void*>(m_data + m_count), &value, sizeof(T));
    ++m_count;
    return true;
  }

  // Appends an uninitialised record for the caller to fill; null when the vector cannot grow.
  T* Append() noexcept {
    if (m_count == m_capacity && !Grow()) return nullptr;
    return m_data + m_count++;
  }

  std::size_t Size() const noexcept { return m_count; }
  // Unchecked element access (index < Size()).
  const T& operator[](std::size_t index) const noexcept { return m_data[index]; }
  T& operator[](std::size_t index) noexcept { return m_data[index]; }
  // Checked access: null when index >= Size().
  const T* At(std::size_t index) const noexcept {
    return index < m_count ? m_data + index : nullptr;
  }

 private:
  bool Grow() noexcept {
    const std::size_t capacity = m_capacity == 0 ? 16 : m_capacity * 2;
    if (capacity > static_cast<std::size_t>(-1) / 2 / sizeof(T)) return false;
    T* block = ascommon::as_alloc_array_nt<T>(capacity);
    if (block == nullptr) return false;
    if (m_count != 0) std::memcpy(static_cast<void*>(block), m_data, m_count * sizeof(T));
    ascommon::as_free(m_data);
    m_data = block;
    m_capacity = capacity;
    return true;
  }

  T* m_data = nullptr;  // Owned; m_capacity records, the first m_count in use.
  std::size_t m_count = 0;
  std::size_t m_capacity = 0;
};

}  // namespace html_detail
