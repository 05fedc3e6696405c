// TGrowBuffer<T>: a growable array of trivially copyable values for the classifier's bulk
// data (word nodes, counts, the character pool), doubling its capacity so that n appends
// cost O(n) copies in all (CArray grows in fixed steps, which is quadratic at a million
// words).
//
// Ownership: the buffer owns one block from ascommon::as_alloc_nt; element pointers stay
// valid until the next call that grows it. Failure: growth returns false and leaves the
// contents as they were. Threads: none; the owner serialises writers, and concurrent
// readers are safe while nobody writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "common/asmemory.h"

namespace nsEngineBayesClassifier {

template <class T>
class TGrowBuffer {
  static_assert(std::is_trivially_copyable_v<T>, "TGrowBuffer holds plain values only");

 public:
  TGrowBuffer() noexcept = default;
  ~TGrowBuffer() { ascommon::as_free(m_data); }
  TGrowBuffer(const TGrowBuffer&) = delete;
  TGrowBuffer& operator=(const TGrowBuffer&) = delete;

  // Makes room for at least `capacity` elements; false when the block cannot be made.
  bool Reserve(std::size_t capacity) noexcept {
    if (capacity <= m_capacity) return true;
    if (capacity > static_cast<std::size_t>(-1) / sizeof(T)) return false;
    T* block = static_cast<T*>(ascommon::as_alloc_nt(capacity * sizeof(T)));
    if (block == nullptr) return false;
    if (m_size != 0) std::memcpy(block, m_data, m_size * sizeof(T));
    ascommon::as_free(m_data);
    m_data = block;
    m_capacity = capacity;
    return true;
  }

  // Makes room for count more elements, at least doubling the capacity when it grows, so
  // that the next appends of up to count elements cannot fail. Amortised O(1) per element.
  bool EnsureExtra(std::size_t count) noexcept {
    if (count <= m_capacity - m_size) return true;
    if (count > static_cast<std::size_t>(-1) / sizeof(T) - m_size) return false;
    std::size_t wanted = m_capacity < 64 ? 64 : m_capacity * 2;
    if (wanted < m_capacity || wanted - m_size < count) wanted = m_size + count;
    return Reserve(wanted);
  }

  // Appends count elements (uninitialised when values is null) and returns a pointer to
  // the first of them, or null when the buffer cannot grow. Amortised O(count).
  T* Append(const T* values, std::size_t count) noexcept {
    if (!EnsureExtra(count)) return nullptr;
    T* first = m_data + m_size;
    if (values != nullptr && count != 0) std::memcpy(first, values, count * sizeof(T));
    m_size += count;
    return first;
  }
  bool Push(const T& value) noexcept { return Append(&value, 1) != nullptr; }

  // Drops the elements, keeping the block (Release frees it).
  void Clear() noexcept { m_size = 0; }
  void Release() noexcept {
    ascommon::as_free(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
  }
  void Swap(TGrowBuffer& other) noexcept {
    T* data = m_data;
    m_data = other.m_data;
    other.m_data = data;
    const std::size_t size = m_size;
    m_size = other.m_size;
    other.m_size = size;
    const std::size_t capacity = m_capacity;
    m_capacity = other.m_capacity;
    other.m_capacity = capacity;
  }

  T* Data() noexcept { return m_data; }
  const T* Data() const noexcept { return m_data; }
  std::size_t Size() const noexcept { return m_size; }
  T& operator[](std::size_t index) noexcept { return m_data[index]; }
  const T& operator[](std::size_t index) const noexcept { return m_data[index]; }

 private:
  T* m_data = nullptr;  // Owned; m_capacity elements, the first m_size in use.
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

}  // namespace nsEngineBayesClassifier
