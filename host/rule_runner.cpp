#include "rule_runner.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>

#include "common/asexception.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/exec_structs.h"
#include "engines/assl/httpcontextif.h"
#include "engines/assl/parser/rule_writer.h"
#include "errors.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

constexpr std::size_t kShownMatch = 80;  // bytes of a match shown, cut at a character

// "matched text" quoted and cut to kShownMatch bytes at a UTF-8 boundary, line breaks and
// tabs written as \n, \t.
std::string Quote(const char* text, std::size_t size) {
  std::size_t cut = size;
  if (cut > kShownMatch) {
    cut = kShownMatch;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  std::string out = "\"";
  for (std::size_t i = 0; i < cut; ++i) {
    switch (text[i]) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      default: out += text[i];
    }
  }
  out += cut < size ? "\"..." : "\"";
  return out;
}

// Collects what the conditions of each rule matched, by rule name.
class NoteCollector : public assl::IMatchObserver {
 public:
  void OnMatch(const char* rule, std::int32_t where, const char* text, std::size_t size) override {
    const char* spelling = assl::CodeSpelling(where);
    m_notes[rule != nullptr ? rule : ""].push_back(
        std::string(spelling != nullptr ? spelling : std::to_string(where).c_str()) + " " +
        Quote(text != nullptr ? text : "", text != nullptr ? size : 0));
  }
  void OnHeuristic(const char* rule, const char* heuristic, double value) override {
    char number[64];
    std::snprintf(number, sizeof number, "%g", value);
    m_notes[rule != nullptr ? rule : ""].push_back(std::string(heuristic) + " = " + number);
  }
  std::vector<std::string> Take(const char* rule) {
    auto found = m_notes.find(rule);
    return found == m_notes.end() ? std::vector<std::string>{} : std::move(found->second);
  }

 private:
  std::map<std::string, std::vector<std::string>> m_notes;
};

std::vector<std::string> SplitHits(const ascommon::sstring& joined) {
  std::vector<std::string> hits;
  const std::string text = joined.c_str() != nullptr ? joined.c_str() : "";
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("; ", start);
    hits.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return hits;
}

// Runs f, turning the engine's exceptions into HostError with what.
template <class F>
void Engine(const std::string& what, F&& f) {
  try {
    f();
  } catch (const AException& e) {
    throw HostError(what + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw HostError(what + ": out of memory");
  }
}

}  // namespace

CHostRules::CHostRules(const std::u16string& librariesDir)
    : m_engines(new assl::CEnginesHandle()) {
  try {
    Engine("regular-expression library", [&] {
      ascommon::usstring dir;
      dir.assign(librariesDir.c_str());
      m_engines->SetRegexLibrary(dir);
      m_engines->CreateCodeHeurEngine();
    });
  } catch (...) {
    delete m_engines;
    throw;
  }
}

CHostRules::~CHostRules() { delete m_engines; }

std::u16string CHostRules::LibrariesFolder(CASettings& settings) {
  const char16_t* folder = settings.GetStringValue(u"/http/global/SharedLibsPath");
  return folder != nullptr ? folder : u"";
}

std::unique_ptr<CHostRules> CHostRules::FromSettings(CASettings& settings,
                                                     const char16_t* mask) {
  auto rules = std::make_unique<CHostRules>(LibrariesFolder(settings));
  const char16_t* data = settings.GetStringValue(u"/http/global/SharedDataPath");
  rules->LoadDirectory(data != nullptr ? data : u"", mask);
  return rules;
}

void CHostRules::LoadDirectory(const std::u16string& dataDir, const char16_t* mask) {
  Engine("rules", [&] {
    ascommon::usstring dir;
    dir.assign(dataDir.c_str());
    m_engines->LoadRules(dir, mask, false);
  });
}

void CHostRules::LoadFiles(const std::vector<std::string>& files,
                           assl::IParserDiagnostics* diagnostics) {
  std::vector<ascommon::usstring> paths(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (paths[i].assign(zzplat::Utf8ToUtf16Lenient(files[i]).c_str()) != 0) throw std::bad_alloc();
  }
  Engine("rules", [&] { m_engines->LoadRuleFiles(paths.data(), paths.size(), diagnostics); });
}

std::uint32_t CHostRules::RuleCount() const {
  return m_engines->GetAssl() != nullptr ? m_engines->GetAssl()->GetRuleCount() : 0;
}

std::uint64_t CHostRules::SignatureCount() const {
  return m_engines->GetAssl() != nullptr ? m_engines->GetAssl()->GetSignatures().GetSize() : 0;
}

SignatureVerdict CHostRules::Run(AItem& item, std::vector<RuleRun>* runs) {
  assl::CHttpContextInterface context;
  Engine("page", [&] { context.Init(&item); });
  return RunContext(context, runs);
}

SignatureVerdict CHostRules::RunContext(assl::ContextInterface& context,
                                        std::vector<RuleRun>* runs) {
  SignatureVerdict verdict;
  const assl::ASSL* engine = m_engines->GetAssl();
  if (engine == nullptr) return verdict;
  NoteCollector notes;
  Engine("item", [&] { context.CopyStateRecords(engine->GetStateTemplate()); });
  if (runs != nullptr) context.SetObserver(&notes);
  const assl::CStructsInterface run{&context, m_engines};
  std::map<std::string, std::string> errors;
  const auto& signatures = engine->GetSignatures();
  for (std::uint64_t i = 0; i < signatures.GetSize() && verdict.rule.empty(); ++i) {
    const char* name = signatures[i].name;
    try {
      if (assl::ExecuteRule(&run, signatures[i].uid) == 0.0) continue;
      verdict.rule = name;
      if (const auto* category = context.FindStringVariable("CATEGORY")) {
        verdict.category = category->c_str() != nullptr ? category->c_str() : "";
      }
      if (const auto* score = context.FindIntVariable("SCORE")) verdict.score = *score;
    } catch (const AException& e) {
      errors[name] = e.what();
    }
  }
  ascommon::sstring hits;
  Engine("item", [&] { assl::GetHitRules(&run, hits); });
  verdict.hits = SplitHits(hits);
  if (runs == nullptr) return verdict;
  // The signatures in execution order, then the rules that only meta-rules reached.
  std::vector<bool> listed(engine->GetRuleCount(), false);
  auto add = [&](std::uint32_t index) {
    const assl::CRule::StateInfo* state = context.FindState(index);
    const assl::CRule* rule = engine->RuleAt(index);
    const char* name = rule != nullptr ? rule->Name().c_str() : nullptr;
    if (listed[index] || state == nullptr || name == nullptr) return;
    if (state->evaluated == 0 && errors.count(name) == 0) return;
    listed[index] = true;
    runs->push_back({name, state->result, errors.count(name) ? errors[name] : "",
                     notes.Take(name)});
  };
  for (std::uint64_t i = 0; i < signatures.GetSize(); ++i) {
    std::uint32_t index = 0;
    if (engine->FindIndex(signatures[i].uid, &index)) add(index);
  }
  for (std::uint32_t index = 0; index < listed.size(); ++index) add(index);
  return verdict;
}

std::string FormatRuleRuns(const std::string& heading, const SignatureVerdict& verdict,
                           const std::vector<RuleRun>& runs) {
  std::string out = heading + "verdict  ";
  if (verdict.rule.empty()) {
    out += "no rule hit\n";
  } else {
    out += verdict.rule + ": category " + (verdict.category ? *verdict.category : "-") +
           ", score " + (verdict.score ? std::to_string(*verdict.score) : "-") + "\n";
  }
  out += runs.empty() ? "ran      no rule\n" : "ran\n";
  std::size_t width = 0;
  for (const RuleRun& run : runs) width = std::max(width, run.name.size());
  char result[64];
  for (const RuleRun& run : runs) {
    std::snprintf(result, sizeof result, "%g", run.result);
    out += "  " + run.name + std::string(width - run.name.size() + 2, ' ') +
           (run.error.empty() ? std::string(result) : "failed: " + run.error) + "\n";
    for (const std::string& note : run.notes) out += "      " + note + "\n";
  }
  out += '\n';
  return out;
}

}  // namespace zzhost
