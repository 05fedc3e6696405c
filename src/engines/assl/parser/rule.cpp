// The parsed rule: items under the merge rule, and an arena for token texts, items and
// expression nodes. Finding an item walks the rule's few items and setting a value its at
// most eight values (both O(1) in practice). The arena hands out bytes from blocks that
// start at 1 KB and double up to 4 KB (most rules need one block; a text larger than the
// next block gets a block of its own). Tested by tests/engines/assl/parser_test.cpp.
#include "engines/assl/parser/rule.h"

#include <cstring>
#include <new>

#include "common/astrace.h"
#include "engines/assl/parser/item_codes.h"

namespace assl {

struct CParsedRule::Block {
  Block* next;
  std::size_t size;  // bytes after the header
  unsigned char* Bytes() { return reinterpret_cast<unsigned char*>(this + 1); }
};

namespace {
constexpr std::size_t kFirstBlockBytes = 1024;
constexpr std::size_t kMaxBlockBytes = 4096;
}  // namespace

const CItemValue* CParsedItem::Find(std::uint32_t key) const noexcept {
  for (std::uint32_t i = 0; i < m_count; ++i) {
    if (m_values[i].key == key) return &m_values[i];
  }
  return nullptr;
}

std::int32_t CParsedItem::Number(std::uint32_t key) const noexcept {
  const CItemValue* value = Find(key);
  return value != nullptr && value->kind == CItemValue::kNumber ? value->number : 0;
}

const char* CParsedItem::Text(std::uint32_t key) const noexcept {
  const CItemValue* value = Find(key);
  return value != nullptr && value->kind == CItemValue::kText ? value->text : nullptr;
}

const CExprNode* CParsedItem::Node(std::uint32_t key) const noexcept {
  const CItemValue* value = Find(key);
  return value != nullptr && value->kind == CItemValue::kExpression ? value->node : nullptr;
}

void CParsedItem::Set(const CItemValue& value) {
  for (std::uint32_t i = 0; i < m_count; ++i) {
    if (m_values[i].key == value.key) {
      m_values[i] = value;
      return;
    }
  }
  if (m_count == kMaxValues) AS_THROW(0, ASException, "too many values in one item");
  m_values[m_count++] = value;
}

CParsedRule::~CParsedRule() {
  while (m_blocks != nullptr) {
    Block* next = m_blocks->next;
    ascommon::as_free(m_blocks);
    m_blocks = next;
  }
}

void CParsedRule::SetName(const char* name) {
  if (m_name.assign(name) != 0) AS_THROW(0, ASMemException, "memory problems");
}

CParsedItem& CParsedRule::ItemFor(std::int32_t generic, std::int32_t specific) {
  CParsedItem** slot = nullptr;
  switch (generic) {
    case kGenericCondition:
      if (m_condition != nullptr) return *m_condition;
      slot = &m_condition;
      break;
    case kGenericAction:
    case kGenericMetainfo:
      slot = generic == kGenericAction ? &m_actions : &m_metainfo;
      for (; *slot != nullptr; slot = &(*slot)->m_next) {
        if ((*slot)->m_specific == specific) return **slot;
      }
      break;
    default:
      AS_THROW(0, ASException, "unknown generic item type");
  }
  void* place = Allocate(sizeof(CParsedItem), alignof(CParsedItem));
  if (place == nullptr) AS_THROW(0, ASMemException, "memory problems while adding item");
  *slot = ::new (place) CParsedItem(generic, specific);
  return **slot;
}

void CParsedRule::AddItemValue(std::int32_t generic, std::int32_t specific,
                               const CItemValue& value) {
  ItemFor(generic, specific).Set(value);
}

void* CParsedRule::Allocate(std::size_t size, std::size_t alignment) noexcept {
  std::size_t offset = (m_used + alignment - 1) & ~(alignment - 1);
  if (m_blocks == nullptr || offset + size > m_blocks->size) {
    std::size_t next = m_blocks == nullptr ? kFirstBlockBytes : m_blocks->size * 2;
    if (next > kMaxBlockBytes) next = kMaxBlockBytes;
    const bool own = size > next;  // an oversized text gets a block of its own
    const std::size_t bytes = own ? size : next;
    auto* block = static_cast<Block*>(ascommon::as_alloc_nt(sizeof(Block) + bytes));
    if (block == nullptr) return nullptr;
    block->size = bytes;
    if (own && m_blocks != nullptr) {
      // Behind the current block, which stays open for the texts that follow.
      block->next = m_blocks->next;
      m_blocks->next = block;
      return block->Bytes();
    }
    block->next = m_blocks;
    m_blocks = block;
    offset = 0;
  }
  m_used = offset + size;
  return m_blocks->Bytes() + offset;
}

const char* CParsedRule::RegisterString(const char* text, std::size_t length) noexcept {
  if (length + 1 < length) return nullptr;
  auto* copy = static_cast<char*>(Allocate(length + 1, 1));
  if (copy == nullptr) return nullptr;
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

CExprNode* CParsedRule::NewExprNode() noexcept {
  void* place = Allocate(sizeof(CExprNode), alignof(CExprNode));
  return place == nullptr ? nullptr : ::new (place) CExprNode();
}

}  // namespace assl
