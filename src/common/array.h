// CArray<T, GrowStep>: growable array of copy-assignable elements.
//
// Storage: one block from as_alloc_nt holding `capacity` default-constructed elements, of
// which the first `count` are in use. Capacity grows to (n / GrowStep + 1) * GrowStep, so
// it is always above the requested size; Add grows early so one slot stays spare.
// Ownership: the array owns its elements (a pointer element is just a value; what it points
// to is the caller's). GetData and element references stay valid until the next call that
// changes the capacity (SetSize, Add, InsertAt, RemoveAll).
// Failure: allocation failures return -2 and leave count and elements as they were; an
// element whose copy reports a non-zero status() (sstring, usstring) counts as an allocation
// failure. An index out of range throws InvalidIndexException (-301) without a trace line.
// Threads: no locking; the owner serialises access.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

#include "common/asexception.h"
#include "common/asmemory.h"
#include "common/blackboxobject.h"

namespace ascommon {
namespace container_detail {

// True when an element reports a failed copy: types with a status() (the engine strings)
// record -2 there instead of throwing.
template <class T>
bool CopyFailed(const T& value) noexcept {
  if constexpr (requires {
                  { value.status() } -> std::convertible_to<std::int32_t>;
                }) {
    return value.status() != 0;
  } else {
    return false;
  }
}

// Moves when that cannot throw (and so cannot half-finish), copies otherwise.
template <class T>
void Transfer(T& target, T& source) {
  if constexpr (std::is_nothrow_move_assignable_v<T>) {
    target = std::move(source);
  } else {
    target = source;
  }
}

// Allocates and value-initialises `count` elements; null on allocation failure. A throwing
// constructor destroys what was built, releases the block and rethrows.
template <class T>
T* NewElements(std::uint64_t count) {
  if (count > static_cast<std::uint64_t>(-1) / sizeof(T)) return nullptr;
  T* block = static_cast<T*>(as_alloc_nt(static_cast<std::size_t>(count * sizeof(T))));
  if (block == nullptr) return nullptr;
  std::uint64_t built = 0;
  try {
    for (; built < count; ++built) ::new (static_cast<void*>(block + built)) T();
  } catch (...) {
    while (built > 0) block[--built].~T();
    as_free(block);
    throw;
  }
  return block;
}

template <class T>
void DeleteElements(T* block, std::uint64_t count) noexcept {
  if (block == nullptr) return;
  for (std::uint64_t i = 0; i < count; ++i) block[i].~T();
  as_free(block);
}

}  // namespace container_detail

template <class T, std::uint64_t GrowStep = 64>
class CArray : public CBlackBoxObject {
  static_assert(GrowStep > 0, "grow step must be positive");

 public:
  CArray() noexcept = default;
  ~CArray() override { container_detail::DeleteElements(m_data, m_capacity); }
  CArray(const CArray&) = delete;
  CArray& operator=(const CArray&) = delete;

  // n == 0 releases the buffer. Otherwise reallocates to (n / GrowStep + 1) * GrowStep
  // elements, keeps the first min(count, n), and with bSetCount and n > count makes n the
  // count (the new elements are value-initialised). Returns 0 or -2 (array unchanged).
  std::int32_t SetSize(std::uint64_t n, bool bSetCount) {
    if (n == 0) {
      RemoveAll();
      return 0;
    }
    const std::uint64_t steps = n / GrowStep + 1;
    if (steps > static_cast<std::uint64_t>(-1) / GrowStep) return -2;
    const std::uint64_t capacity = steps * GrowStep;
    T* block = container_detail::NewElements<T>(capacity);
    if (block == nullptr) return -2;
    const std::uint64_t kept = m_count < n ? m_count : n;
    try {
      for (std::uint64_t i = 0; i < kept; ++i) {
        const bool sourceFailed = container_detail::CopyFailed(m_data[i]);
        container_detail::Transfer(block[i], m_data[i]);
        if (!sourceFailed && container_detail::CopyFailed(block[i])) {
          container_detail::DeleteElements(block, capacity);
          return -2;
        }
      }
    } catch (...) {
      container_detail::DeleteElements(block, capacity);
      throw;
    }
    container_detail::DeleteElements(m_data, m_capacity);
    m_data = block;
    m_capacity = capacity;
    m_count = kept;
    if (bSetCount && n > m_count) m_count = n;
    return 0;
  }

  // Appends a copy of value; grows first when count + 1 reaches the capacity. Returns 0 or
  // -2 (count unchanged).
  std::int32_t Add(const T& value) {
    if (m_count + 1 >= m_capacity) {
      if (Holds(&value)) {  // arr.Add(arr[i]): copy before the buffer moves.
        T copy;
        copy = value;
        if (container_detail::CopyFailed(copy) && !container_detail::CopyFailed(value)) return -2;
        return Add(copy);
      }
      const std::int32_t status = SetSize(m_count + 1, false);
      if (status != 0) return status;
    }
    const std::int32_t status = AssignSlot(m_count, value);
    if (status == 0) ++m_count;
    return status;
  }

  // Inserts a copy of value before position index (index == count appends). Returns 0 or
  // -2 (array unchanged); index above count throws InvalidIndexException.
  std::int32_t InsertAt(std::uint64_t index, const T& value) {
    if (index > m_count) throw InvalidIndexException();
    if (index == m_count) return Add(value);
    // Copy first: value may refer to an element of this array.
    T copy;
    copy = value;
    if (container_detail::CopyFailed(copy) && !container_detail::CopyFailed(value)) return -2;
    if (m_count + 1 >= m_capacity) {
      const std::int32_t status = SetSize(m_count + 1, false);
      if (status != 0) return status;
    }
    for (std::uint64_t i = m_count; i > index; --i)
      container_detail::Transfer(m_data[i], m_data[i - 1]);
    ++m_count;
    container_detail::Transfer(m_data[index], copy);
    return 0;
  }

  // Removes the element at index, moving the later ones down; the freed slot is reset to a
  // value-initialised element. Throws InvalidIndexException when index >= count.
  void RemoveAt(std::uint64_t index) {
    if (index >= m_count) throw InvalidIndexException();
    for (std::uint64_t i = index + 1; i < m_count; ++i)
      container_detail::Transfer(m_data[i - 1], m_data[i]);
    --m_count;
    ResetSlot(m_count);
  }

  // Replaces the element at index with a copy of value. Returns 0 or -2 (a string whose
  // copy failed keeps its old content); throws InvalidIndexException when index >= count.
  std::int32_t SetAt(std::uint64_t index, const T& value) {
    if (index >= m_count) throw InvalidIndexException();
    return AssignSlot(index, value);
  }

  // Element access, index below count; otherwise InvalidIndexException. O(1).
  T& GetAt(std::uint64_t index) {
    if (index >= m_count) throw InvalidIndexException();
    return m_data[index];
  }
  const T& GetAt(std::uint64_t index) const {
    if (index >= m_count) throw InvalidIndexException();
    return m_data[index];
  }
  T& operator[](std::uint64_t index) { return GetAt(index); }
  const T& operator[](std::uint64_t index) const { return GetAt(index); }

  // Replaces the contents with copies of other's elements. Returns 0 or -2 (unchanged).
  std::int32_t Copy(const CArray& other) {
    if (&other == this) return 0;
    CArray fresh;
    if (other.m_count != 0) {
      const std::int32_t status = fresh.SetSize(other.m_count, false);
      if (status != 0) return status;
      for (std::uint64_t i = 0; i < other.m_count; ++i) {
        const std::int32_t added = fresh.Add(other.m_data[i]);
        if (added != 0) return added;
      }
    }
    Swap(fresh);
    return 0;
  }

  void Swap(CArray& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_count, other.m_count);
    std::swap(m_capacity, other.m_capacity);
  }

  // Destroys every element and releases the buffer.
  void RemoveAll() noexcept {
    container_detail::DeleteElements(m_data, m_capacity);
    m_data = nullptr;
    m_count = 0;
    m_capacity = 0;
  }

  std::uint64_t GetSize() const noexcept { return m_count; }
  std::uint64_t GetCapacity() const noexcept { return m_capacity; }
  std::uint64_t GetGrowStep() const noexcept { return m_growStep; }
  bool IsEmpty() const noexcept { return m_count == 0; }
  // The elements (null while the capacity is 0).
  T* GetData() noexcept { return m_data; }
  const T* GetData() const noexcept { return m_data; }

 private:
  // Copies value into slot index (index < capacity). A copy that fails (status -2 on a
  // string whose source was sound) returns -2; a slot beyond the count is then reset.
  std::int32_t AssignSlot(std::uint64_t index, const T& value) {
    const bool sourceFailed = container_detail::CopyFailed(value);
    m_data[index] = value;
    if (!sourceFailed && container_detail::CopyFailed(m_data[index])) {
      if (index >= m_count) ResetSlot(index);
      return -2;
    }
    return 0;
  }

  bool Holds(const T* element) const noexcept {
    std::less<const T*> below;  // Total order, also for pointers into other blocks.
    return m_data != nullptr && !below(element, m_data) && below(element, m_data + m_capacity);
  }

  void ResetSlot(std::uint64_t index) noexcept {
    if constexpr (std::is_nothrow_default_constructible_v<T> &&
                  std::is_nothrow_move_assignable_v<T>) {
      m_data[index] = T();
    }
  }

  T* m_data = nullptr;  // Owned; `m_capacity` constructed elements.
  std::uint64_t m_count = 0;
  std::uint64_t m_capacity = 0;
  std::uint64_t m_growStep = GrowStep;
};

}  // namespace ascommon
