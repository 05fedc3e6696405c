// ASSL: the rule engine. Holds the rules loaded from rule files (map UID -> rule, dense rule
// indexes, the signature array sorted by priority, the relevance array, the state-record
// template) and executes rules against contexts.
//
// Loading (LoadDirectory / LoadFiles, then Initialize) happens once per engine; the filter
// builds a fresh engine for every load. After Initialize the engine is read-only: any number
// of threads may execute rules at once, each on its own context.
// Ownership: the engine owns its rules; the engines handle owns the engine.
#pragma once

#include <cstdint>
#include <memory>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/map.h"
#include "common/ustring.h"
#include "engines/assl/parser/parser_utils.h"
#include "engines/assl/rules/crule.h"

namespace assl {

class ContextInterface;
class CEnginesHandle;
class CPrescanIndex;
struct CExprNode;

// What loading a folder throws when no rule file is in it; hosts and users match this text.
extern const char kNoRuleFilesMessage[];

class ASSL : public ascommon::CASAllocated {
 public:
  ASSL();   // traces "constructing VevoZovi Scripting Language Engine"
  ~ASSL();  // traces "destructing VevoZovi Scripting Language Engine"
  ASSL(const ASSL&) = delete;
  ASSL& operator=(const ASSL&) = delete;

  // Parses every file of directory matching mask, in the platform's listing order ("File
  // list mask: %S"); ASException kNoRuleFilesMessage when no file matches. A file that
  // fails is traced and skipped. Problems of the rule text go to diagnostics when given.
  void LoadDirectory(const ascommon::usstring& directory, const char16_t* mask,
                     IParserDiagnostics* diagnostics = nullptr);
  // Parses the given files in order (the "rules test" command): like LoadDirectory, except
  // that an unreadable file throws.
  void LoadFiles(const ascommon::usstring* paths, std::uint64_t count,
                 IParserDiagnostics* diagnostics = nullptr);
  // Initialises every rule, drops those that failed (each reported to diagnostics when
  // given, as "NAME - error: rule failed to initialize" at line 0 of its file), builds
  // indexes, the signature and relevance arrays and the state template.
  void Initialize(CEnginesHandle* engines, IParserDiagnostics* diagnostics = nullptr);
  // Writes the rule map file (integer 2, the count of enabled rules, then number and name of
  // each) through the binary streamer.
  void WriteRuleMap(const ascommon::usstring& path) const;

  // --- after Initialize
  const ascommon::CArray<CRule::SignatureInfo>& GetSignatures() const noexcept {
    return m_signatures;
  }
  const ascommon::CArray<CRule::NNetRuleInfo>& GetNNetInfos() const noexcept {
    return m_nnetInfos;
  }
  const ascommon::CArray<CRule::StateInfo>& GetStateTemplate() const noexcept {
    return m_stateTemplate;
  }
  std::uint32_t GetRuleCount() const noexcept { return m_rules.GetCount(); }
  const CRule* FindRule(std::uint32_t uid) const noexcept;
  // The rule's dense index (state record), or false when the rule has none.
  bool FindIndex(std::uint32_t uid, std::uint32_t* index) const noexcept;
  // The rule of each index, in index order.
  const CRule* RuleAt(std::uint32_t index) const noexcept;

  // Executes the rule with that UID ("rule with UID %u does not exist").
  double ExecuteRule(std::uint32_t uid, CEnginesHandle* engines, ContextInterface* context) const;
  double ExecuteRulePreset(std::uint32_t uid, CEnginesHandle* engines, ContextInterface* context,
                           double value) const;
  // The names of the rules evaluated on the context with a non-zero result, joined by "; ".
  void GetHitRules(const ContextInterface& context, ascommon::sstring& out) const;
  // Evaluates a meta-rule expression tree (depth from 0; "reached the maximum expression
  // depth" at 100).
  double EvaluateExpression(const CExprNode* node, CEnginesHandle* engines,
                            ContextInterface* context, std::uint32_t depth = 0) const;
  // Parses text as a meta-rule condition expression (rule names, true/false, operators),
  // resolves its names and evaluates it: the ASSL-expression features of the KNN engine.
  double EvaluateExpressionText(const char* text, CEnginesHandle* engines,
                                ContextInterface* context) const;

 private:
  void ParseFile(const ascommon::usstring& path, IParserDiagnostics* diagnostics);
  void AddRules(const CParserState& state);
  void ReportFailedRule(const CRule& rule, IParserDiagnostics* diagnostics) const;
  // Points every regex match condition on a page text that has required literals at a
  // new pre-scan index (none when the pre-scan is off or memory runs out).
  void BuildPrescan();

  ascommon::CMap<std::uint32_t, CRule*> m_rules;             // Owned rules.
  ascommon::CMap<std::uint32_t, std::uint32_t> m_indexes;    // UID -> dense index
  ascommon::CArray<const CRule*> m_byIndex;                 // index -> rule (not owned)
  ascommon::CArray<CRule::SignatureInfo> m_signatures;
  ascommon::CArray<CRule::NNetRuleInfo> m_nnetInfos;
  ascommon::CArray<CRule::StateInfo> m_stateTemplate;
  std::unique_ptr<CPrescanIndex> m_prescan;  // Owned; null when off.
  // Only while loading with diagnostics: the files read and the file of each rule.
  ascommon::CArray<ascommon::sstring> m_fileNames;
  ascommon::CMap<std::uint32_t, std::uint32_t> m_ruleFiles;  // UID -> index in m_fileNames
};

}  // namespace assl
