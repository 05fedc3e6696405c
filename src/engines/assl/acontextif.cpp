// The context's common part: variables in two small hash maps (created on the first
// setter, so a context that never runs an action allocates nothing for them) and the
// per-rule state records copied from the engine's template. Lookups are O(1).
// Tested by tests/engines/assl/engine_*_test.cpp and actions_*_test.cpp.
#include "engines/assl/acontextif.h"

#include "common/astrace.h"
#include "engines/assl/prefilter/prescanindex.h"

namespace assl {

namespace {

// Variables are few per page (SCORE, CATEGORY, PARTNAME and the rules' own counters).
constexpr std::uint32_t kVariableBuckets = 17;

template <class Map>
void EnsureTable(Map& map) {
  if (map.GetHashTableSize() == 0 && map.InitHashTable(kVariableBuckets) != 0) {
    AS_THROW(0, ASMemException, "memory problems");
  }
}

template <class Map, class Value>
void SetVariable(Map& map, const char* name, const Value& value) {
  if (name == nullptr) AS_THROW(0, ASBadPtrException, "invalid variable name");
  EnsureTable(map);
  const ascommon::sstring key(name);
  if (key.status() != 0) AS_THROW(0, ASMemException, "memory problems");
  if (auto* existing = map.Lookup(key)) {
    *existing = value;
    if (ascommon::container_detail::CopyFailed(*existing)) {
      AS_THROW(0, ASMemException, "memory problems");
    }
    return;
  }
  if (map.SetAt(key, value) != 0) AS_THROW(0, ASMemException, "memory problems");
}

template <class V>
const V* FindVariable(const ascommon::CMap<ascommon::sstring, V>& map,
                      const char* name) noexcept {
  if (name == nullptr || map.GetHashTableSize() == 0) return nullptr;
  const ascommon::sstring key(name);
  return key.status() != 0 ? nullptr : map.Lookup(key);
}

}  // namespace

ContextInterface::ContextInterface() noexcept = default;
ContextInterface::~ContextInterface() = default;

const std::int32_t* ContextInterface::FindIntVariable(const char* name) const noexcept {
  return FindVariable(m_intVariables, name);
}

const ascommon::sstring* ContextInterface::FindStringVariable(const char* name) const noexcept {
  return FindVariable(m_stringVariables, name);
}

std::int32_t ContextInterface::GetIntVariable(const char* name) const {
  const std::int32_t* value = FindIntVariable(name);
  if (value == nullptr) AS_THROW(3, ASException, "variable with given name does not exist");
  return *value;
}

const ascommon::sstring& ContextInterface::GetStringVariable(const char* name) const {
  const ascommon::sstring* value = FindStringVariable(name);
  if (value == nullptr) AS_THROW(3, ASException, "variable with given name does not exist");
  return *value;
}

void ContextInterface::SetIntVariable(const char* name, std::int32_t value) {
  SetVariable(m_intVariables, name, value);
}

void ContextInterface::SetStringVariable(const char* name, const char* value) {
  const ascommon::sstring text(value == nullptr ? "" : value);
  if (text.status() != 0) AS_THROW(0, ASMemException, "memory problems");
  SetVariable(m_stringVariables, name, text);
}

void ContextInterface::CopyStateRecords(const ascommon::CArray<CRule::StateInfo>& records) {
  if (m_states.Copy(records) != 0) AS_THROW(0, ASException, "allocation errors");
  if (m_prescan != nullptr) m_prescan->Reset();
}

CPrescanState& ContextInterface::PrescanState() {
  if (m_prescan == nullptr) m_prescan = std::make_unique<CPrescanState>();
  return *m_prescan;
}

CRule::StateInfo& ContextInterface::GetState(std::uint64_t index) { return m_states[index]; }

const CRule::StateInfo* ContextInterface::FindState(std::uint64_t index) const noexcept {
  return index < m_states.GetSize() ? &m_states.GetData()[index] : nullptr;
}

void ContextInterface::SetDirty() {
  AS_THROW(0, ASException, "invalid reference to dirty flag");
}

}  // namespace assl
