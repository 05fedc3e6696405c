// CRule: building a rule from its parsed form, initialising its items once, and running it
// on a context. Execution keeps every per-item fact (running, evaluated, result, the done
// flag of each action) in the context's state record, so a rule reached twice on one
// context evaluates its condition once and runs each action once. Execute allocates
// nothing: O(condition + actions) plus one O(1) index lookup.
// Tested by tests/engines/assl/engine_*_test.cpp.
#include "engines/assl/rules/crule.h"

#include <new>

#include "common/astrace.h"
#include "common/md5.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/assl.h"
#include "engines/assl/exec_structs.h"
#include "engines/assl/rules/aaction.h"
#include "engines/assl/rules/acondition.h"
#include "engines/assl/rules/ametainfo.h"

namespace assl {

namespace {

CRule* Fail(const char* message) {
  AS_TRACE(0, "%s", message);
  return nullptr;
}

// Restores the context's current-rule name and clears the running flag on every way out.
class CRunningScope {
 public:
  CRunningScope(ContextInterface* context, CRule::StateInfo& state, const char* name) noexcept
      : m_context(context), m_state(state), m_saved(context->GetCurrentRuleName()) {
    m_state.running = 1;
    m_context->SetCurrentRuleName(name);
  }
  ~CRunningScope() {
    m_state.running = 0;
    m_context->SetCurrentRuleName(m_saved);
  }
  CRunningScope(const CRunningScope&) = delete;
  CRunningScope& operator=(const CRunningScope&) = delete;

 private:
  ContextInterface* m_context;
  CRule::StateInfo& m_state;
  const char* m_saved;
};

}  // namespace

CRule* CRule::Create(const CParsedRule& parsed) {
  if (parsed.Condition() == nullptr) return Fail("could not obtain condition from blackbox");
  CRule* rule = new (std::nothrow) CRule();
  if (rule == nullptr) return Fail("memory problems");
  if (rule->m_name.assign(parsed.Name()) != 0) {
    delete rule;
    return Fail("memory problems");
  }
  rule->m_uid = ComputeUid(rule->m_name.c_str());
  rule->m_kind = parsed.Kind();

  rule->m_condition = CreateCondition(*parsed.Condition());
  if (rule->m_condition == nullptr) {
    delete rule;
    return Fail("could not create condition");
  }

  std::uint32_t actionCount = 0;
  for (const CParsedItem* item = parsed.Actions(); item != nullptr; item = item->Next()) {
    ++actionCount;
  }
  if (actionCount > kMaxActions) {
    AS_TRACE(0, "CAUTION: actions count for rule %s limited to %d!", rule->m_name.c_str(),
             static_cast<int>(kMaxActions));
  }
  std::uint32_t taken = 0;
  for (const CParsedItem* item = parsed.Actions(); item != nullptr && taken < kMaxActions;
       item = item->Next(), ++taken) {
    AAction* action = CreateAction(*item);
    if (action == nullptr || rule->m_actions.Add(action) != 0) {
      delete action;
      delete rule;
      return Fail("could not create action");
    }
  }

  for (const CParsedItem* item = parsed.Metainfo(); item != nullptr; item = item->Next()) {
    AMetainfo* meta = CreateMetainfo(*item);
    if (meta == nullptr || rule->m_metainfo.Add(meta) != 0) {
      delete meta;
      delete rule;
      return Fail("could not create metainfo item");
    }
    if (meta->SpecificType() == kMetaState) {
      rule->m_enabled = static_cast<const StateMetainfo*>(meta)->Enabled() ? 1 : 0;
    }
  }
  return rule;
}

std::uint32_t CRule::ComputeUid(const char* name) noexcept {
  if (name == nullptr || name[0] == '\0') return 0;
  std::size_t length = 0;
  while (name[length] != '\0') ++length;
  std::uint8_t digest[ascommon::CMD5::kDigestSize];
  ascommon::CMD5::Digest(name, length, digest);
  return static_cast<std::uint32_t>(digest[0]) | (static_cast<std::uint32_t>(digest[1]) << 8) |
         (static_cast<std::uint32_t>(digest[2]) << 16) |
         (static_cast<std::uint32_t>(digest[3]) << 24);
}

CRule::~CRule() {
  delete m_condition;
  for (std::uint64_t i = 0; i < m_actions.GetSize(); ++i) delete m_actions[i];
  for (std::uint64_t i = 0; i < m_metainfo.GetSize(); ++i) delete m_metainfo[i];
}

void CRule::Init(CEnginesHandle* engines) {
  if (m_initializing != 0) {
    AS_THROW(0, ASException, "Cyclic initialization of rule %s", m_name.c_str());
  }
  m_initializing = 1;
  if (m_initialized == 0) {
    try {
      m_condition->Init(engines);
      for (std::uint64_t i = 0; i < m_actions.GetSize(); ++i) m_actions[i]->Init(engines);
      m_initialized = 1;
    } catch (...) {
      AS_TRACE(0, "init for rule %s failed", m_name.c_str());
    }
  }
  m_initializing = 0;
}

namespace {

// Steps shared by both executions: the enabled and initialised checks (false: return 0.0)
// and the handle checks.
bool Runnable(const CRule& rule, const CEnginesHandle* engines, const ContextInterface* context) {
  if (!rule.IsEnabled()) {
    AS_TRACE(3, "rule state for %s is disabled - returning zero", rule.Name().c_str());
    return false;
  }
  if (!rule.IsInitialized()) {
    AS_TRACE(2, "rule %s not initialized yet or initialization failed", rule.Name().c_str());
    return false;
  }
  if (engines == nullptr) AS_THROW(0, ASException, "invalid handle to engines");
  if (context == nullptr) AS_THROW(0, ASException, "invalid handle to context");
  return true;
}

CRule::StateInfo& StateOf(const CRule& rule, const CEnginesHandle* engines,
                          ContextInterface* context) {
  const ASSL* engine = engines->GetAssl();
  std::uint32_t index = 0;
  if (engine == nullptr || !engine->FindIndex(rule.Uid(), &index)) {
    AS_THROW(0, ASException, "no index for rule with UID %u", rule.Uid());
  }
  return context->GetState(index);
}

// Runs the actions not yet done on this context; false when one of them threw.
bool RunPendingActions(const CRule& rule, CEnginesHandle* engines, ContextInterface* context,
                       CRule::StateInfo& state) {
  bool allRan = true;
  for (std::uint64_t i = 0; i < rule.ActionCount(); ++i) {
    if (state.done[i] != 0) continue;
    try {
      rule.Action(i)->Execute(engines, context);
      state.done[i] = 1;
    } catch (...) {
      AS_TRACE(2, "Rule %s action %d failed to execute", rule.Name().c_str(),
               static_cast<int>(i));
      allRan = false;
    }
  }
  return allRan;
}

}  // namespace

double CRule::Execute(CEnginesHandle* engines, ContextInterface* context) const {
  if (!Runnable(*this, engines, context)) return 0.0;
  StateInfo& state = StateOf(*this, engines, context);
  if (state.running != 0) {
    AS_THROW(0, ASException, "cycled execution of rule %s on the same context", m_name.c_str());
  }
  bool allRan = true;
  {
    CRunningScope scope(context, state, m_name.c_str());
    if (state.evaluated == 0) {
      const double value = m_condition->Evaluate(engines, context);
      if (state.overridden != 0) {
        AS_TRACE(3, "the condition evaluation was overriden to %lf", state.result);
      } else {
        state.result = value;
        if (value > 0) AS_TRACE(3, "Rule %s condition evaluated to %lf", m_name.c_str(), value);
      }
      state.evaluated = 1;
    }
    if (state.result == 0.0) return 0.0;
    allRan = RunPendingActions(*this, engines, context, state);
  }
  if (!allRan) AS_THROW(0, ASException, "one or more actions failed to execute");
  return state.result;
}

double CRule::ExecutePreset(CEnginesHandle* engines, ContextInterface* context,
                            double value) const {
  if (!Runnable(*this, engines, context)) return 0.0;
  StateInfo& state = StateOf(*this, engines, context);
  state.overridden = 1;
  state.evaluated = 1;
  state.result = value;
  AS_TRACE(3, "Rule %s condition result will be auto set to %lf", m_name.c_str(), value);
  if (value == 0.0) return value;
  bool allRan = true;
  {
    CRunningScope scope(context, state, m_name.c_str());
    allRan = RunPendingActions(*this, engines, context, state);
  }
  if (!allRan) AS_THROW(0, ASException, "one or more actions failed to execute");
  return value;
}

bool CRule::HasMetainfo(std::int32_t type) const noexcept {
  for (std::uint64_t i = 0; i < m_metainfo.GetSize(); ++i) {
    if (m_metainfo.GetData()[i]->SpecificType() == type) return true;
  }
  return false;
}

std::int32_t CRule::GetIntMetainfo(std::int32_t type) const {
  if (type == kMetaState) return m_enabled;
  if (type != kMetaRelevance && type != kMetaPriority) {
    AS_THROW(0, ASException, "specific metainfo type %d does not have an integer value", type);
  }
  for (std::uint64_t i = 0; i < m_metainfo.GetSize(); ++i) {
    const AMetainfo* meta = m_metainfo[i];
    if (meta->SpecificType() != type) continue;
    return type == kMetaRelevance ? static_cast<const RelevanceMetainfo*>(meta)->Value()
                                  : static_cast<const PriorityMetainfo*>(meta)->Value();
  }
  AS_THROW(0, ASException, "rule %s has no metainfo of type %d", m_name.c_str(), type);
}

const ascommon::sstring& CRule::GetStringMetainfo(std::int32_t type) const {
  if (type != kMetaComment) {
    AS_THROW(0, ASException, "specific metainfo type %d does not have a string value", type);
  }
  for (std::uint64_t i = 0; i < m_metainfo.GetSize(); ++i) {
    if (m_metainfo[i]->SpecificType() == type) {
      return static_cast<const CommentMetainfo*>(m_metainfo[i])->Text();
    }
  }
  AS_THROW(0, ASException, "rule %s has no metainfo of type %d", m_name.c_str(), type);
}

}  // namespace assl
