// CHostRules: the signature rules run inside the host exactly as the signatures filter runs
// them (same engine, regular-expression library and heuristics, same order of signatures,
// first hit wins), to show what the filter's three item keys cannot: every rule that hit on
// the page ("filter" and "page" list them as "hits") and, for rule writers, every rule that
// ran with its result and what its condition matched ("rules test").
//
// Ownership: owns its engines handle. Not thread-safe: one command, one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "aitem.h"
#include "asettings.h"
#include "engines/assl/parser/parser_utils.h"
#include "verdicts.h"

namespace assl {
class CEnginesHandle;
class ContextInterface;
}

namespace zzhost {

// One rule that ran on the page, for "rules test".
struct RuleRun {
  std::string name;
  double result = 0.0;
  std::string error;               // the exception text when the rule failed
  std::vector<std::string> notes;  // what its conditions matched, in order
};

class CHostRules {
 public:
  // Loads the regular-expression library from librariesDir and creates the heuristics.
  // HostError when the engine refuses.
  explicit CHostRules(const std::u16string& librariesDir);
  // The rules the signatures filter would load under these settings: the library of
  // /http/global/SharedLibsPath and every file of /http/global/SharedDataPath that matches
  // mask ("pc*.slf", the filter's). HostError when they cannot be loaded.
  static std::unique_ptr<CHostRules> FromSettings(CASettings& settings,
                                                  const char16_t* mask = u"pc*.slf");
  // The folder /http/global/SharedLibsPath names ("" when it is not set).
  static std::u16string LibrariesFolder(CASettings& settings);
  ~CHostRules();
  CHostRules(const CHostRules&) = delete;
  CHostRules& operator=(const CHostRules&) = delete;

  // Every file of the folder that matches mask, as the filter loads its "pc*.slf".
  void LoadDirectory(const std::u16string& dataDir, const char16_t* mask = u"pc*.slf");
  // The given rule files in order; problems of the rule text go to diagnostics.
  void LoadFiles(const std::vector<std::string>& files, assl::IParserDiagnostics* diagnostics);

  std::uint32_t RuleCount() const;
  std::uint64_t SignatureCount() const;

  // Runs the signatures over a page item (an HTTP context bound to it). With runs given,
  // also lists every rule that ran (the signatures in their order, then the rules only
  // meta-rules reached).
  SignatureVerdict Run(AItem& item, std::vector<RuleRun>* runs = nullptr);
  // The same over a context already bound to its item (a mail context, for instance).
  SignatureVerdict RunContext(assl::ContextInterface& context, std::vector<RuleRun>* runs);

 private:
  assl::CEnginesHandle* m_engines;  // Owned.
};

// What "rules test" and "mail --explain" print for one item: the heading lines as given,
// then the verdict (the rule that hit with its category and score, or that none did) and
// every rule that ran with its result and what its conditions matched.
std::string FormatRuleRuns(const std::string& heading, const SignatureVerdict& verdict,
                           const std::vector<RuleRun>& runs);

}  // namespace zzhost
