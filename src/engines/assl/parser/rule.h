// CParsedRule: one rule as the parser builds it, before the engine turns it into a CRule.
// CExprNode: one node of a meta-rule's condition expression.
//
// A parsed rule holds its name, kind (0 simple, 1 meta-rule), at most one condition
// blackbox, its action and metainfo blackboxes, and an arena with the token texts and
// expression nodes of its text. Every item blackbox holds key 10 (generic type) and key 11
// (specific type) and the value keys of its construct (item_codes.h).
// Merge rule: a value for an action or metainfo goes to the first blackbox of that specific
// type, so a rule carries at most one item of each type and a repeated key takes the later
// value.
// Ownership: the rule owns its blackboxes, texts and nodes; expression nodes are stored in
// the condition as generic objects and live exactly as long as the rule. Registered texts
// and nodes are never moved. Threads: a rule belongs to one parser state at a time.
// Tested by tests/engines/assl/parser_test.cpp and tests/host/rules_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "common/blackbox.h"
#include "common/blackboxobject.h"
#include "common/ustring.h"

namespace assl {

struct CExprNode : public ascommon::CBlackBoxObject {
  enum : std::int32_t { kOperator = 0, kOperand = 1 };
  enum : std::int32_t { kNoSubtype = 0, kBooleanConstant = 1, kRuleName = 2 };

  std::int32_t kind = kOperand;
  std::int32_t subtype = kNoSubtype;  // operands only
  bool boolean = false;               // subtype kBooleanConstant
  const char* name = nullptr;         // subtype kRuleName; a text registered with the rule
  std::int32_t op = 0;                // operators only (OperatorCode)
  CExprNode* parent = nullptr;
  CExprNode* operands[3] = {nullptr, nullptr, nullptr};  // first, second, third
};

class CParsedRule : public ascommon::CASAllocated {
 public:
  using ItemArray = ascommon::CArray<ascommon::CBlackBox*, 4>;

  CParsedRule() noexcept = default;
  ~CParsedRule();
  CParsedRule(const CParsedRule&) = delete;
  CParsedRule& operator=(const CParsedRule&) = delete;

  const ascommon::sstring& Name() const noexcept { return m_name; }
  std::int32_t Kind() const noexcept { return m_kind; }
  // The condition blackbox, or null when the rule has none yet.
  const ascommon::CBlackBox* Condition() const noexcept { return m_condition; }
  const ItemArray& Actions() const noexcept { return m_actions; }
  const ItemArray& Metainfo() const noexcept { return m_metainfo; }

  // ASMemException "memory problems" when the name cannot be copied.
  void SetName(const char* name);
  void SetKind(std::int32_t kind) noexcept { m_kind = kind; }

  // Adds one value under the merge rule. Throws ASException "unknown generic item type",
  // "<kind> missing specific item type!!" for a container without key 11, and
  // ASMemException "memory problems while adding item" when memory runs out.
  void AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                    std::int32_t value);
  void AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                    const char* text);
  void AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                    CExprNode* node);

  // Copies length bytes of text (plus a terminator) into the rule's arena; returns the copy,
  // or null when memory runs out.
  const char* RegisterString(const char* text, std::size_t length) noexcept;
  // A new zeroed expression node in the rule's arena, or null when memory runs out.
  CExprNode* NewExprNode() noexcept;

 private:
  struct Block;  // arena block: a link and the bytes handed out
  ascommon::CBlackBox& ItemFor(std::int32_t generic, std::int32_t specific);
  void* Allocate(std::size_t size, std::size_t alignment) noexcept;

  ascommon::sstring m_name;
  std::int32_t m_kind = 0;
  ascommon::CBlackBox* m_condition = nullptr;  // Owned.
  ItemArray m_actions;                         // Each owned.
  ItemArray m_metainfo;                        // Each owned.
  Block* m_blocks = nullptr;                   // Owned chain, newest first.
  std::size_t m_used = 0;                      // bytes used in the newest block
};

}  // namespace assl
