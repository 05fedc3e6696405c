// CList<T>: singly linked list with head and tail pointers (O(1) append and head removal).
//
// Ownership: the list owns its nodes and the element copies in them; references from
// GetHead/GetTail stay valid until that element is removed or the list destroyed.
// Failure: AddTail returns -2 when the node cannot be made (or the element's copy reports a
// non-zero status()), list unchanged; GetHead/GetTail/RemoveHead on an empty list throw
// EmptyListException (-400) without a trace line.
// Threads: no locking; the owner serialises access.
#pragma once

#include <cstdint>
#include <new>

#include "common/array.h"
#include "common/asexception.h"
#include "common/asmemory.h"
#include "common/blackboxobject.h"

namespace ascommon {

template <class T>
class CList : public CBlackBoxObject {
  struct Node {
    T value{};
    Node* next = nullptr;
  };

 public:
  // Opaque iteration cursor; nullptr marks the end.
  using Position = const void*;

  CList() noexcept = default;
  ~CList() override { RemoveAll(); }
  CList(const CList&) = delete;
  CList& operator=(const CList&) = delete;

  // Appends a copy of value. Returns 0 or -2.
  std::int32_t AddTail(const T& value) {
    void* block = as_alloc_nt(sizeof(Node));
    if (block == nullptr) return -2;
    Node* node = nullptr;
    try {
      node = ::new (block) Node();
      node->value = value;
    } catch (...) {
      if (node != nullptr) node->~Node();
      as_free(block);
      throw;
    }
    if (!container_detail::CopyFailed(value) && container_detail::CopyFailed(node->value)) {
      node->~Node();
      as_free(block);
      return -2;
    }
    if (m_tail == nullptr) {
      m_head = node;
    } else {
      m_tail->next = node;
    }
    m_tail = node;
    ++m_count;
    return 0;
  }

  T& GetHead() {
    if (m_head == nullptr) throw EmptyListException();
    return m_head->value;
  }
  const T& GetHead() const {
    if (m_head == nullptr) throw EmptyListException();
    return m_head->value;
  }
  T& GetTail() {
    if (m_tail == nullptr) throw EmptyListException();
    return m_tail->value;
  }
  const T& GetTail() const {
    if (m_tail == nullptr) throw EmptyListException();
    return m_tail->value;
  }

  // Destroys the first element.
  void RemoveHead() {
    if (m_head == nullptr) throw EmptyListException();
    Node* node = m_head;
    m_head = node->next;
    if (m_head == nullptr) m_tail = nullptr;
    DestroyNode(node);
    --m_count;
  }

  void RemoveAll() noexcept {
    while (m_head != nullptr) {
      Node* next = m_head->next;
      DestroyNode(m_head);
      m_head = next;
    }
    m_tail = nullptr;
    m_count = 0;
  }

  std::uint64_t GetCount() const noexcept { return m_count; }
  bool IsEmpty() const noexcept { return m_count == 0; }

  // Iteration from head to tail:
  //   for (auto pos = list.GetHeadPosition(); pos != nullptr;) { T& v = list.GetNext(pos); }
  Position GetHeadPosition() const noexcept { return m_head; }
  T& GetNext(Position& pos) noexcept {
    Node* node = static_cast<Node*>(const_cast<void*>(pos));
    pos = node->next;
    return node->value;
  }
  const T& GetNext(Position& pos) const noexcept { return const_cast<CList*>(this)->GetNext(pos); }

 private:
  static void DestroyNode(Node* node) noexcept {
    node->~Node();
    as_free(node);
  }

  Node* m_head = nullptr;  // Owned chain.
  Node* m_tail = nullptr;  // Last node of the chain (not separately owned).
  std::uint64_t m_count = 0;
};

}  // namespace ascommon
