// CParsedRule: one rule as the parser builds it, before the engine turns it into a CRule.
// CParsedItem: one condition, action or metainfo of it, with its keyed values.
// CExprNode: one node of a meta-rule's condition expression.
//
// A parsed rule holds its name, kind (0 simple, 1 meta-rule), at most one condition item,
// its action and metainfo items in the order of their first value, and an arena with the
// token texts, items and expression nodes of its text. An item is a typed descriptor: its
// generic type (key 10 of the item format), its specific type (key 11) and up to eight
// values under the keys of item_codes.h, each a number, a text or an expression node.
// Merge rule: a value for an action or metainfo goes to the first item of that specific
// type, so a rule carries at most one item of each type and a repeated key takes the later
// value.
// Ownership: the rule owns everything it points to; texts given to AddItemValue must be
// registered with the rule (RegisterString), nodes made by NewExprNode. Nothing is ever
// moved, so pointers stay valid for the rule's life. Threads: a rule belongs to one
// parser state at a time; a finished rule is safe for concurrent readers.
// Tested by tests/engines/assl/parser_test.cpp and tests/host/rules_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"
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

struct CItemValue {
  enum Kind : std::uint32_t { kNone = 0, kNumber = 1, kText = 2, kExpression = 3 };
  std::uint32_t key = 0;
  Kind kind = kNone;
  union {  // the member that kind names
    std::int32_t number = 0;
    const char* text;
    const CExprNode* node;
  };

  CItemValue() noexcept = default;
  CItemValue(std::uint32_t k, std::int32_t value) noexcept : key(k), kind(kNumber), number(value) {}
  CItemValue(std::uint32_t k, const char* value) noexcept : key(k), kind(kText), text(value) {}
  CItemValue(std::uint32_t k, const CExprNode* value) noexcept
      : key(k), kind(kExpression), node(value) {}
};

class CParsedItem {
 public:
  static constexpr std::uint32_t kMaxValues = 8;

  CParsedItem(std::int32_t generic, std::int32_t specific) noexcept
      : m_generic(generic), m_specific(specific) {}

  std::int32_t GenericType() const noexcept { return m_generic; }
  std::int32_t SpecificType() const noexcept { return m_specific; }
  std::uint32_t Count() const noexcept { return m_count; }
  // Values in the order their keys were first set.
  const CItemValue& At(std::uint32_t index) const noexcept { return m_values[index]; }
  // The value under key, or null.
  const CItemValue* Find(std::uint32_t key) const noexcept;
  bool Has(std::uint32_t key) const noexcept { return Find(key) != nullptr; }
  // The number under key (0 when absent or not a number); the text (null when absent).
  std::int32_t Number(std::uint32_t key) const noexcept;
  const char* Text(std::uint32_t key) const noexcept;
  const CExprNode* Node(std::uint32_t key) const noexcept;
  // The next item of the same list (actions or metainfo), or null.
  const CParsedItem* Next() const noexcept { return m_next; }

 private:
  friend class CParsedRule;
  // Sets key to value (replacing an earlier value); ASException when all slots are taken.
  void Set(const CItemValue& value);

  std::int32_t m_generic;
  std::int32_t m_specific;
  std::uint32_t m_count = 0;
  CItemValue m_values[kMaxValues];
  CParsedItem* m_next = nullptr;
};

class CParsedRule : public ascommon::CASAllocated {
 public:
  CParsedRule() noexcept = default;
  ~CParsedRule();
  CParsedRule(const CParsedRule&) = delete;
  CParsedRule& operator=(const CParsedRule&) = delete;

  const ascommon::sstring& Name() const noexcept { return m_name; }
  std::int32_t Kind() const noexcept { return m_kind; }
  // The condition, or null when the rule has none yet.
  const CParsedItem* Condition() const noexcept { return m_condition; }
  // The first action / metainfo item (walk on with Next()), or null.
  const CParsedItem* Actions() const noexcept { return m_actions; }
  const CParsedItem* Metainfo() const noexcept { return m_metainfo; }

  // ASMemException "memory problems" when the name cannot be copied.
  void SetName(const char* name);
  void SetKind(std::int32_t kind) noexcept { m_kind = kind; }

  // Adds one value under the merge rule. Throws ASException "unknown generic item type",
  // and ASMemException "memory problems while adding item" when memory runs out.
  void AddItemValue(std::int32_t generic, std::int32_t specific, const CItemValue& value);
  // The same for a number, a text or an expression node under key.
  template <class Value>
  void AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                    Value value) {
    AddItemValue(generic, specific, CItemValue(key, value));
  }

  // Copies length bytes of text (plus a terminator) into the rule's arena; returns the copy,
  // or null when memory runs out.
  const char* RegisterString(const char* text, std::size_t length) noexcept;
  // A new zeroed expression node in the rule's arena, or null when memory runs out.
  CExprNode* NewExprNode() noexcept;

 private:
  struct Block;  // arena block: a link and the bytes handed out
  CParsedItem& ItemFor(std::int32_t generic, std::int32_t specific);
  void* Allocate(std::size_t size, std::size_t alignment) noexcept;

  ascommon::sstring m_name;
  std::int32_t m_kind = 0;
  CParsedItem* m_condition = nullptr;  // in the arena
  CParsedItem* m_actions = nullptr;    // in the arena; a list through Next()
  CParsedItem* m_metainfo = nullptr;   // in the arena; a list through Next()
  Block* m_blocks = nullptr;           // Owned chain, newest first.
  std::size_t m_used = 0;              // bytes used in the newest block
};

}  // namespace assl
