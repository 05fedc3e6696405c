// ExecAction: `exec(NAME)` as an action runs the named heuristic of the engines' code
// heuristics engine on the context (its value is not used). Owns the name; immutable after
// construction, safe for concurrent executions (the heuristics engine is read-only).
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/aaction.h"

namespace assl {

class ExecAction : public AAction {
 public:
  ExecAction() noexcept : AAction(kActExec) {}
  // 0, or -2 when the name cannot be copied.
  std::int32_t SetName(const char* name) { return m_name.assign(name); }
  // ASException "invalid engines handle" for null engines, "invalid handle to code heur
  // engine" when they hold no heuristics engine; the heuristic's own exceptions pass.
  void Execute(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  ascommon::sstring m_name;
};

}  // namespace assl
