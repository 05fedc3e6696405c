// CRule: one executable rule: its name and UID, kind (simple or meta-rule), the enabled and
// initialisation flags, its condition, at most three actions and its metainfo items, built
// from a parsed rule. Also the per-context state record (StateInfo) and the engine's
// signature and relevance entries (SignatureInfo, NNetRuleInfo).
//
// Ownership: a rule owns its items; the engine owns its rules. A rule is immutable once
// initialised: Execute keeps all per-item state in the context, so any number of threads may
// execute one rule on their own contexts.
#pragma once

#include <cstdint>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/ustring.h"
#include "engines/assl/parser/rule.h"

namespace assl {

class ACondition;
class AAction;
class AMetainfo;
class ContextInterface;
class CEnginesHandle;

class CRule : public ascommon::CASAllocated {
 public:
  static constexpr std::uint32_t kMaxActions = 3;

  // Per-context state of one rule; all zero when the context is created.
  struct StateInfo {
    std::uint8_t running = 0;
    std::uint8_t overridden = 0;
    std::uint8_t evaluated = 0;
    double result = 0.0;
    std::uint8_t done[kMaxActions] = {0, 0, 0};
  };
  // A rule with a priority metainfo, in the engine's execution order.
  struct SignatureInfo {
    const char* name = nullptr;  // the rule's name text
    std::uint32_t uid = 0;
    std::uint64_t priority = 0;
  };
  // A rule with a relevance metainfo, in creation order.
  struct NNetRuleInfo {
    const char* name = nullptr;
    std::uint32_t uid = 0;
    std::int32_t relevance = 0;
  };

  // Builds the rule a parsed rule describes; traces the reason and returns null on failure.
  static CRule* Create(const CParsedRule& parsed);
  // The first four bytes of the MD5 digest of name, little-endian; 0 for an empty name.
  static std::uint32_t ComputeUid(const char* name) noexcept;

  ~CRule();
  CRule(const CRule&) = delete;
  CRule& operator=(const CRule&) = delete;

  // Initialises the condition and the actions once; "Cyclic initialization of rule %s" when
  // re-entered. A failing item leaves the rule uninitialised (traced, not thrown).
  void Init(CEnginesHandle* engines);
  // Runs the rule on the context: its condition once per context, then its pending actions.
  double Execute(CEnginesHandle* engines, ContextInterface* context) const;
  // Runs the rule as if its condition had given value.
  double ExecutePreset(CEnginesHandle* engines, ContextInterface* context, double value) const;

  // Metainfo values: 2000 the enabled flag, 2001 relevance, 2003 priority; 2002 the comment.
  std::int32_t GetIntMetainfo(std::int32_t type) const;
  const ascommon::sstring& GetStringMetainfo(std::int32_t type) const;
  bool HasMetainfo(std::int32_t type) const noexcept;

  const ascommon::sstring& Name() const noexcept { return m_name; }
  std::uint32_t Uid() const noexcept { return m_uid; }
  std::int32_t Kind() const noexcept { return m_kind; }
  bool IsEnabled() const noexcept { return m_enabled != 0; }
  bool IsInitialized() const noexcept { return m_initialized != 0; }
  const ACondition* Condition() const noexcept { return m_condition; }
  std::uint64_t ActionCount() const noexcept { return m_actions.GetSize(); }
  const AAction* Action(std::uint64_t index) const { return m_actions[index]; }

 private:
  CRule() noexcept = default;

  ascommon::sstring m_name;
  std::uint32_t m_uid = 0;
  std::int32_t m_kind = 0;
  std::uint8_t m_initialized = 0;
  std::uint8_t m_initializing = 0;
  std::uint8_t m_enabled = 1;
  ACondition* m_condition = nullptr;           // Owned.
  ascommon::CArray<AAction*> m_actions;        // Owned.
  ascommon::CArray<AMetainfo*> m_metainfo;     // Owned.
};

}  // namespace assl
