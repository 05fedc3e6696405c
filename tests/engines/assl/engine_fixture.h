// RuleEngine: rule files written into a scratch folder and loaded into an engines handle;
// BareContext: a context with no content, for rules that need none.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engines/assl/acontextif.h"
#include "engines/assl/exec_structs.h"
#include "support/scratch_dir.h"

namespace zztest {

class BareContext : public assl::ContextInterface {
 public:
  void Init(AItem*) override {}
  std::int32_t GetType() const noexcept override { return kHttp; }
  std::string Text(const char* name) const {
    const ascommon::sstring* text = FindStringVariable(name);
    return text == nullptr ? "(none)" : text->c_str();
  }
  int Int(const char* name) const {
    const std::int32_t* value = FindIntVariable(name);
    return value == nullptr ? -1 : *value;
  }
};

struct RuleEngine {
  ScratchDir dir;
  assl::CEnginesHandle handle;

  void Write(const std::string& name, const std::string& text) { WriteBytes(dir / name, text); }
  void LoadFolder(bool writeMap = false, assl::IParserDiagnostics* diagnostics = nullptr) {
    handle.LoadRules(ascommon::usstring(dir.Wide().c_str()), u"pc*.slf", writeMap, diagnostics);
  }
  void LoadFiles(const std::vector<std::string>& names) {
    std::vector<ascommon::usstring> paths;
    for (const auto& name : names) paths.emplace_back(Wide(dir / name).c_str());
    handle.LoadRuleFiles(paths.data(), paths.size());
  }
  const assl::ASSL& Engine() const { return *handle.GetAssl(); }
  std::unique_ptr<BareContext> NewContext() const {
    auto context = std::make_unique<BareContext>();
    context->CopyStateRecords(Engine().GetStateTemplate());
    return context;
  }
  double Run(assl::ContextInterface& context, const char* rule) {
    return Engine().ExecuteRule(assl::CRule::ComputeUid(rule), &handle, &context);
  }
};

}  // namespace zztest
