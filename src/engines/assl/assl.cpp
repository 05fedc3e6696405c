// ASSL: loading rule files into rules keyed by UID, initialising them into dense indexes
// (the state record of each rule in a context), the priority-sorted signature array and the
// rule map file, and executing rules by UID.
// Loading is O(text) per file plus O(1) per rule insertion; Initialize is O(n log n) for
// the sort; ExecuteRule is O(1) plus the rule's own work. The rules map starts with
// kInitialBuckets buckets and is resized to the number of rules once they are known.
// Tested by tests/engines/assl/engine_*_test.cpp.
#include "engines/assl/assl.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "common/asfile.h"
#include "common/astrace.h"
#include "common/binstreamer.h"
#include "common/convert.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/prefilter/prescanindex.h"
#include "engines/assl/rulemap_format.h"
#include "engines/assl/rules/acondition.h"
#include "engines/assl/rules/exprcondition.h"
#include "engines/assl/rules/matchcondition.h"

namespace assl {

namespace {

// Rule sets hold from a handful to thousands of rules.
constexpr std::uint32_t kInitialBuckets = 1499;

// A bucket count near 4/3 of count, odd, at least 17.
std::uint32_t BucketsFor(std::uint32_t count) {
  const std::uint64_t wanted = static_cast<std::uint64_t>(count) + count / 3;
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(17, std::min<std::uint64_t>(
                                                                     wanted, 0x7FFFFFFF))) |
         1u;
}

ascommon::sstring ToUtf8(const ascommon::usstring& text) {
  ascommon::sstring out;
  if (ascommon::UsstringToUtf8(text, out) != 0 || out.is_null()) out.assign("");
  return out;
}

}  // namespace

ASSL::ASSL() { AS_TRACE(3, "constructing VevoZovi Scripting Language Engine"); }

ASSL::~ASSL() {
  for (auto pos = m_rules.GetStartPosition(); pos != nullptr;) {
    const std::uint32_t* uid;
    CRule** rule;
    m_rules.GetNextAssoc(pos, uid, rule);
    delete *rule;
  }
  AS_TRACE(3, "destructing VevoZovi Scripting Language Engine");
}

const char kNoRuleFilesMessage[] = "specified path does not contain any scripting language files";

void ASSL::LoadDirectory(const ascommon::usstring& directory, const char16_t* mask,
                         IParserDiagnostics* diagnostics) {
  ascommon::usstring pattern;
  std::int32_t status = pattern.assign(directory.is_null() ? u"" : directory.c_str());
  const std::size_t length = pattern.length();
  if (status == 0 && (length == 0 || pattern.c_str()[length - 1] != u'\\')) {
    status = pattern.append(u"\\");
  }
  if (status == 0) status = pattern.append(mask == nullptr ? u"" : mask);
  if (status != 0) AS_THROW(0, ASException, "problems concatenating strings");
  AS_TRACE(3, "File list mask: %S", pattern.c_str());

  ascommon::CArray<ascommon::usstring> files;
  if (ascommon::ListFiles(pattern.c_str(), files) != 0) {
    AS_THROW(0, ASException, "problems building file list");
  }
  if (files.IsEmpty()) {
    AS_THROW(2, ASException, "%s", kNoRuleFilesMessage);
  }
  for (std::uint64_t i = 0; i < files.GetSize(); ++i) {
    try {
      ParseFile(files[i], diagnostics);
    } catch (...) {
      AS_TRACE(0, "exception caught while parsing %S - continuing...", files[i].c_str());
    }
  }
}

void ASSL::LoadFiles(const ascommon::usstring* paths, std::uint64_t count,
                     IParserDiagnostics* diagnostics) {
  for (std::uint64_t i = 0; i < count; ++i) ParseFile(paths[i], diagnostics);
}

void ASSL::ParseFile(const ascommon::usstring& path, IParserDiagnostics* diagnostics) {
  const ascommon::sstring fileName = ToUtf8(path);
  ascommon::sstring text;
  std::size_t size = 0;
  {
    std::unique_ptr<ascommon::CASFile> file;
    try {
      file.reset(new ascommon::CASFile(path.c_str(), u"rb"));
    } catch (...) {
      AS_THROW(0, ASException, "could not obtain file handle [%S]", path.c_str());
    }
    AS_TRACE(3, "will parse %S", path.c_str());
    const std::uint64_t expected = file->GetSize();
    if (expected > 0x7FFFFFFF || text.fill(static_cast<std::size_t>(expected), '\0') != 0) {
      AS_THROW(0, ASMemException, "memory problems");
    }
    // An empty file leaves the text without a buffer: there is nothing to read.
    if (expected != 0) size = file->read(text.data(), 1, static_cast<std::size_t>(expected));
    file->close();
  }

  CParserState state(fileName.c_str(), diagnostics);
  state.Parse(text.c_str(), size);
  std::uint32_t parsed = 0;
  state.ForEachRule([&](const CParsedRule&) { ++parsed; });
  if (parsed == 0) {
    AS_TRACE(3, "did not parse any rule");
    return;
  }
  AS_TRACE(3, "psi returned a map containing %d rules", static_cast<int>(parsed));
  if (diagnostics != nullptr && m_fileNames.Add(fileName) != 0) {
    AS_THROW(0, ASMemException, "memory problems");
  }
  AddRules(state);
}

void ASSL::AddRules(const CParserState& state) {
  if (m_rules.GetHashTableSize() == 0 && m_rules.InitHashTable(kInitialBuckets) != 0) {
    AS_THROW(0, ASException, "allocation error while adding to rules map");
  }
  if (!m_fileNames.IsEmpty() && m_ruleFiles.GetHashTableSize() == 0 &&
      m_ruleFiles.InitHashTable(kInitialBuckets) != 0) {
    AS_THROW(0, ASException, "allocation error while adding to rules map");
  }
  state.ForEachRule([&](const CParsedRule& parsed) {
    CRule* rule = CRule::Create(parsed);
    if (rule == nullptr) {
      AS_TRACE(0, "no rule created");
      return;
    }
    const std::int32_t status = m_rules.SetAt(rule->Uid(), rule);
    if (status == -451) {
      AS_TRACE(2, "rule with name %s already exists in the rules map - discarding",
               rule->Name().c_str());
      delete rule;
      return;
    }
    if (status != 0) {
      delete rule;
      AS_THROW(0, ASException, "allocation error while adding to rules map");
    }
    // Where the rule came from, for the diagnostics of a rule that fails to initialise.
    if (!m_fileNames.IsEmpty()) {
      m_ruleFiles.SetAt(rule->Uid(), static_cast<std::uint32_t>(m_fileNames.GetSize() - 1));
    }
  });
}

void ASSL::Initialize(CEnginesHandle* engines, IParserDiagnostics* diagnostics) {
  m_signatures.RemoveAll();
  m_nnetInfos.RemoveAll();
  m_indexes.RemoveAll();
  m_byIndex.RemoveAll();
  m_stateTemplate.RemoveAll();

  for (auto pos = m_rules.GetStartPosition(); pos != nullptr;) {
    const std::uint32_t* uid;
    CRule** rule;
    m_rules.GetNextAssoc(pos, uid, rule);
    try {
      (*rule)->Init(engines);
    } catch (...) {
      AS_TRACE(0, "init for rule %s failed", (*rule)->Name().c_str());
    }
  }

  AS_TRACE(3, "removing rules that failed to initialize");
  for (auto pos = m_rules.GetStartPosition(); pos != nullptr;) {
    const std::uint32_t* uid;
    CRule** rule;
    m_rules.GetNextAssoc(pos, uid, rule);
    if ((*rule)->IsInitialized()) continue;
    CRule* failed = *rule;
    AS_TRACE(0, "rule %s failed to initialize", failed->Name().c_str());
    if (diagnostics != nullptr) ReportFailedRule(*failed, diagnostics);
    const std::uint32_t key = *uid;
    m_rules.RemoveKey(key);  // the walk allows removing the entry just returned
    delete failed;
  }
  BuildPrescan();

  const std::uint32_t count = m_rules.GetCount();
  if (m_indexes.InitHashTable(BucketsFor(count)) != 0 || m_byIndex.SetSize(count, false) != 0) {
    AS_THROW(0, ASException, "allocation error while adding to rule indexes map");
  }
  for (auto pos = m_rules.GetStartPosition(); pos != nullptr;) {
    const std::uint32_t* uid;
    CRule** slot;
    m_rules.GetNextAssoc(pos, uid, slot);
    const CRule* rule = *slot;
    const auto index = static_cast<std::uint32_t>(m_byIndex.GetSize());
    if (m_indexes.SetAt(*uid, index) != 0 || m_byIndex.Add(rule) != 0) {
      AS_THROW(0, ASException, "allocation error while adding to rule indexes map");
    }
    std::int32_t status = 0;
    if (rule->HasMetainfo(kMetaRelevance)) {
      status = m_nnetInfos.Add({rule->Name().c_str(), rule->Uid(),
                                rule->GetIntMetainfo(kMetaRelevance)});
    }
    if (status == 0 && rule->HasMetainfo(kMetaPriority)) {
      status = m_signatures.Add({rule->Name().c_str(), rule->Uid(),
                                 static_cast<std::uint64_t>(rule->GetIntMetainfo(kMetaPriority))});
    }
    if (status == 0) status = m_stateTemplate.Add(CRule::StateInfo());
    if (status != 0) AS_THROW(0, ASException, "allocation error while adding to state info array");
  }

  // Highest priority first; equal priorities in no defined order.
  std::sort(m_signatures.GetData(), m_signatures.GetData() + m_signatures.GetSize(),
            [](const CRule::SignatureInfo& a, const CRule::SignatureInfo& b) {
              return a.priority > b.priority;
            });

  if (count != 0 && m_rules.InitHashTable(BucketsFor(count)) != 0) {
    AS_TRACE(0, "not enough memory to resize rule / rule index map - giving up");
  }
  AS_TRACE(3, "the initialization process finished successfully");
}

void ASSL::BuildPrescan() {
  std::vector<std::pair<MatchCondition*, std::uint32_t>> slots;
  for (auto pos = m_rules.GetStartPosition(); pos != nullptr;) {
    const std::uint32_t* uid;
    CRule** rule;
    m_rules.GetNextAssoc(pos, uid, rule);
    // Token matches share the match condition's type code, so ask for the class itself.
    const auto* found = dynamic_cast<const MatchCondition*>((*rule)->Condition());
    if (found == nullptr) continue;
    // The engine owns its rules, and no context runs them while it initialises.
    auto* match = const_cast<MatchCondition*>(found);
    match->SetPrescan(nullptr, 0);
    slots.emplace_back(match, CPrescanIndex::kNone);
  }
  m_prescan.reset();
  if (!CPrescanIndex::Enabled()) return;
  try {
    auto index = std::make_unique<CPrescanIndex>();
    for (auto& [match, slot] : slots) {
      const std::uint32_t text =
          CPrescanIndex::TextOf(match->Where(), match->How(), match->PartMode());
      if (text != CPrescanIndex::kNone && !match->RequiredTexts().empty()) {
        slot = index->Add(text, match->RequiredTexts(), match->RequiredTextsCaseless());
      }
    }
    index->Build();
    for (const auto& [match, slot] : slots) {
      if (slot != CPrescanIndex::kNone) match->SetPrescan(index.get(), slot);
    }
    AS_TRACE(3, "literal pre-scan over %u of %u match conditions",
             static_cast<unsigned>(index->SlotCount()), static_cast<unsigned>(slots.size()));
    m_prescan = std::move(index);
  } catch (const std::bad_alloc&) {
    AS_TRACE(0, "not enough memory for the literal pre-scan - regexes run on every page");
  }
}

void ASSL::ReportFailedRule(const CRule& rule, IParserDiagnostics* diagnostics) const {
  const std::uint32_t* file = m_ruleFiles.Lookup(rule.Uid());
  ascommon::sstring message(rule.Name());
  message.append(" - error: rule failed to initialize");
  diagnostics->Report(file != nullptr ? m_fileNames[*file].c_str() : "", 0,
                      message.status() == 0 ? message.c_str() : "rule failed to initialize");
}

void ASSL::WriteRuleMap(const ascommon::usstring& path) const {
  std::int32_t enabled = 0;
  for (std::uint64_t i = 0; i < m_byIndex.GetSize(); ++i) enabled += m_byIndex[i]->IsEnabled();
  if (enabled == 0) {
    AS_TRACE(0, "couldn't find any enabled rule to map");
    return;
  }
  ascommon::CBinaryStreamer streamer(path, ascommon::EStreamMode::Write, ascommon::usstring(u""),
                                     kRuleMapStreamerVersion);
  streamer.WriteInt(kRuleMapFormat);
  streamer.WriteInt(enabled);
  std::int32_t number = 0;
  for (std::uint64_t i = 0; i < m_byIndex.GetSize(); ++i) {
    const CRule* rule = m_byIndex[i];
    if (!rule->IsEnabled()) continue;
    streamer.WriteInt(number++);
    streamer.WriteInt(static_cast<std::int32_t>(rule->Name().length()));
    streamer.WriteString(rule->Name());
  }
  streamer.Close();
}

const CRule* ASSL::FindRule(std::uint32_t uid) const noexcept {
  CRule* const* rule = m_rules.Lookup(uid);
  return rule == nullptr ? nullptr : *rule;
}

bool ASSL::FindIndex(std::uint32_t uid, std::uint32_t* index) const noexcept {
  const std::uint32_t* found = m_indexes.Lookup(uid);
  if (found == nullptr) return false;
  if (index != nullptr) *index = *found;
  return true;
}

const CRule* ASSL::RuleAt(std::uint32_t index) const noexcept {
  return index < m_byIndex.GetSize() ? m_byIndex.GetData()[index] : nullptr;
}

double ASSL::ExecuteRule(std::uint32_t uid, CEnginesHandle* engines,
                         ContextInterface* context) const {
  const CRule* rule = FindRule(uid);
  if (rule == nullptr) AS_THROW(2, ASException, "rule with UID %u does not exist", uid);
  return rule->Execute(engines, context);
}

double ASSL::ExecuteRulePreset(std::uint32_t uid, CEnginesHandle* engines,
                               ContextInterface* context, double value) const {
  const CRule* rule = FindRule(uid);
  if (rule == nullptr) AS_THROW(2, ASException, "rule with UID %u does not exist", uid);
  return rule->ExecutePreset(engines, context, value);
}

void ASSL::GetHitRules(const ContextInterface& context, ascommon::sstring& out) const {
  out.clear();
  std::int32_t status = out.assign("");
  for (std::uint32_t i = 0; i < m_byIndex.GetSize() && status == 0; ++i) {
    const CRule::StateInfo* state = context.FindState(i);
    if (state == nullptr || state->evaluated == 0 || state->result == 0.0) continue;
    if (out.length() != 0) status = out.append("; ");
    if (status == 0) status = out.append(m_byIndex[i]->Name());
  }
  if (status != 0) AS_THROW(0, ASMemException, "memory problems");
}

double ASSL::EvaluateExpression(const CExprNode* node, CEnginesHandle* engines,
                                ContextInterface* context, std::uint32_t depth) const {
  return EvaluateParsedExpression(node, engines, context, depth);
}

double ASSL::EvaluateExpressionText(const char* text, CEnginesHandle* engines,
                                    ContextInterface* context) const {
  static constexpr char kName[] = "__expr";
  if (text == nullptr) AS_THROW(0, ASException, "invalid expression");
  ascommon::sstring source("metarule __expr { condition: ");
  source.append(text);
  source.append("; actions: none; metadata: none; }");
  if (source.status() != 0) AS_THROW(0, ASMemException, "memory problems");

  CParserState state(kName);
  state.Parse(source.c_str(), source.length());
  const CParsedRule* parsed = state.FindRule(kName);
  if (parsed == nullptr || parsed->Condition() == nullptr) {
    AS_THROW(0, ASException, "invalid expression");
  }
  ACondition* condition = CreateCondition(*parsed->Condition());
  if (condition == nullptr) AS_THROW(0, ASException, "invalid expression");
  try {
    condition->Init(engines);
    const double value = condition->Evaluate(engines, context);
    delete condition;
    return value;
  } catch (...) {
    delete condition;
    throw;
  }
}

}  // namespace assl
