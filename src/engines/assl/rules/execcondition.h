// ExecCondition: `exec("name")`: the value of the named code heuristic on the context (the
// code heuristics engine of the engines handle). Owns the name; immutable once built: safe
// for concurrent readers (the heuristics engine is read-only while rules run).
#pragma once

#include "common/ustring.h"
#include "engines/assl/rules/acondition.h"

namespace assl {

class ExecCondition : public ACondition {
 public:
  ExecCondition() noexcept : ACondition(kCondExec) {}
  // 0, or -2 when the copy cannot be allocated.
  std::int32_t SetName(const char* name) { return m_name.assign(name); }
  const ascommon::sstring& Name() const noexcept { return m_name; }

  // "invalid handle to code heur engine" without a heuristics engine; the heuristic's own
  // exceptions pass through.
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  ascommon::sstring m_name;
};

}  // namespace assl
