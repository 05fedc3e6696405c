// The parsed rule: item blackboxes under the merge rule, and an arena for token texts and
// expression nodes. Finding an item's blackbox walks the rule's few items (O(items));
// the arena hands out bytes from 4 KB blocks (one allocation per block, texts larger than
// a block get a block of their own). Tested by tests/engines/assl/parser_test.cpp.
#include "engines/assl/parser/rule.h"

#include <cstring>
#include <new>

#include "common/astrace.h"
#include "engines/assl/parser/item_codes.h"

namespace assl {

using ascommon::CBlackBox;

struct CParsedRule::Block {
  Block* next;
  std::size_t size;  // bytes after the header
  unsigned char* Bytes() { return reinterpret_cast<unsigned char*>(this + 1); }
};

namespace {

constexpr std::size_t kBlockBytes = 4096;
// Item tables are small: a rule item has at most eight keys.
constexpr std::uint32_t kItemBuckets = 8;

CBlackBox* NewItem(std::int32_t generic, std::int32_t specific) {
  CBlackBox* box = nullptr;
  try {
    box = new CBlackBox(kItemBuckets);
    box->SetInt(generic, kKeyGenericType, true);
    box->SetInt(specific, kKeySpecificType, true);
  } catch (...) {
    delete box;
    AS_THROW(0, ASMemException, "memory problems while adding item");
  }
  return box;
}

// The first box of that specific type in the array, or a new one appended.
CBlackBox& FindOrAppend(CParsedRule::ItemArray& items, std::int32_t generic,
                        std::int32_t specific, const char* missingTypeMessage) {
  for (std::uint64_t i = 0; i < items.GetSize(); ++i) {
    CBlackBox* box = items[i];
    if (box->GetKind(kKeySpecificType) != CBlackBox::kScalar) {
      AS_THROW(0, ASException, "%s", missingTypeMessage);
    }
    if (box->GetInt(kKeySpecificType) == specific) return *box;
  }
  CBlackBox* box = NewItem(generic, specific);
  if (items.Add(box) != 0) {
    delete box;
    AS_THROW(0, ASMemException, "memory problems while adding item");
  }
  return *box;
}

template <class Store>
void StoreValue(Store&& store) {
  try {
    store();
  } catch (const ASException& e) {
    if (e.GetCode() != -2) throw;
    AS_THROW(0, ASMemException, "memory problems while adding item");
  }
}

}  // namespace

CParsedRule::~CParsedRule() {
  delete m_condition;
  for (std::uint64_t i = 0; i < m_actions.GetSize(); ++i) delete m_actions[i];
  for (std::uint64_t i = 0; i < m_metainfo.GetSize(); ++i) delete m_metainfo[i];
  while (m_blocks != nullptr) {
    Block* next = m_blocks->next;
    ascommon::as_free(m_blocks);
    m_blocks = next;
  }
}

void CParsedRule::SetName(const char* name) {
  if (m_name.assign(name) != 0) AS_THROW(0, ASMemException, "memory problems");
}

CBlackBox& CParsedRule::ItemFor(std::int32_t generic, std::int32_t specific) {
  switch (generic) {
    case kGenericCondition:
      if (m_condition == nullptr) {
        m_condition = NewItem(generic, specific);
      } else if (m_condition->GetKind(kKeySpecificType) != CBlackBox::kScalar) {
        AS_THROW(0, ASException, "condition missing specific item type!!");
      }
      return *m_condition;
    case kGenericAction:
      return FindOrAppend(m_actions, generic, specific, "action missing specific item type!!");
    case kGenericMetainfo:
      return FindOrAppend(m_metainfo, generic, specific,
                          "metainfo missing specific item type!!");
    default:
      AS_THROW(0, ASException, "unknown generic item type");
  }
}

void CParsedRule::AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                               std::int32_t value) {
  CBlackBox& box = ItemFor(generic, specific);
  StoreValue([&] { box.SetInt(value, key, true); });
}

void CParsedRule::AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                               const char* text) {
  CBlackBox& box = ItemFor(generic, specific);
  StoreValue([&] { box.SetCharBuf(text, key, true); });
}

void CParsedRule::AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                               CExprNode* node) {
  CBlackBox& box = ItemFor(generic, specific);
  // A generic object cannot replace a value of another kind in place.
  if (box.GetKind(key) != CBlackBox::kNone) box.RemoveObject(key);
  if (box.SetGenericObject(key, node) != 0) {
    AS_THROW(0, ASMemException, "memory problems while adding item");
  }
}

void* CParsedRule::Allocate(std::size_t size, std::size_t alignment) noexcept {
  std::size_t offset = (m_used + alignment - 1) & ~(alignment - 1);
  if (m_blocks == nullptr || offset + size > m_blocks->size) {
    const std::size_t bytes = size > kBlockBytes ? size : kBlockBytes;
    auto* block = static_cast<Block*>(ascommon::as_alloc_nt(sizeof(Block) + bytes));
    if (block == nullptr) return nullptr;
    block->size = bytes;
    if (m_blocks != nullptr && size > kBlockBytes) {
      // An oversized text gets its own block behind the current one, which stays open.
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
