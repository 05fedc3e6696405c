// The engines handle: building a fresh engine per load, the regular-expression library
// (kept loaded while an engine that compiled with it lives), the code heuristics engine, the
// word finder created once under a mutex and published through an atomic pointer (later
// requests cost one acquire load), and the handle-level operations with their handle checks.
// Tested by tests/engines/assl/engine_*_test.cpp.
#include "engines/assl/exec_structs.h"

#include <memory>
#include <new>
#include <string>

#include "engines/asregex/regexlib.h"
#include "common/asfile.h"
#include "common/astrace.h"
#include "common/convert.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/rulemap_format.h"
#include "engines/codeheur/codeheurengine.h"
#include "engines/knn2/filehistoryv03.h"
#include "engines/knn2/knnengine.h"
#include "engines/levenshtein/word_finder.h"

namespace assl {

CEnginesHandle::~CEnginesHandle() {
  DestroyEngine();
  asregex::FreeRegexLib(m_regexLib);
  delete m_codeHeur;
  delete m_wordFinder.load();
  delete m_knnAnalyzer;
  delete m_knnHistory;
}

void CEnginesHandle::DestroyEngine() noexcept {
  delete m_assl;
  m_assl = nullptr;
  for (std::uint64_t i = 0; i < m_retiredLibs.GetSize(); ++i) {
    asregex::FreeRegexLib(m_retiredLibs.GetData()[i]);
  }
  m_retiredLibs.RemoveAll();
}

ASSL* CEnginesHandle::NewEngine() {
  DestroyEngine();
  m_assl = new (std::nothrow) ASSL();
  if (m_assl == nullptr) AS_THROW(0, ASMemException, "memory problems");
  return m_assl;
}

void CEnginesHandle::LoadRules(const ascommon::usstring& directory, const char16_t* mask,
                               bool writeRuleMap, IParserDiagnostics* diagnostics) {
  {
    std::lock_guard<std::mutex> guard(m_dataMutex);
    AssignDataFolder(directory.is_null() ? u"" : directory.c_str(), directory.length());
  }
  ASSL* engine = NewEngine();
  engine->LoadDirectory(directory, mask, diagnostics);
  engine->Initialize(this, diagnostics);
  if (!writeRuleMap) return;
  ascommon::usstring path;
  std::int32_t status = path.assign(directory.is_null() ? u"" : directory.c_str());
  const std::size_t length = path.length();
  if (status == 0 && (length == 0 || path.c_str()[length - 1] != u'\\')) {
    status = path.append(u"\\");
  }
  if (status == 0) status = path.append(kRuleMapFileName);
  if (status != 0) AS_THROW(0, ASException, "problems concatenating strings");
  engine->WriteRuleMap(path);
}

void CEnginesHandle::LoadRuleFiles(const ascommon::usstring* paths, std::uint64_t count,
                                   IParserDiagnostics* diagnostics) {
  {
    std::lock_guard<std::mutex> guard(m_dataMutex);
    if (!m_dataFolderChosen && count > 0 && !paths[0].is_null()) {
      // The first file's folder: its path up to its last separator.
      const char16_t* path = paths[0].c_str();
      std::size_t length = paths[0].length();
      while (length > 0 && path[length - 1] != u'\\' && path[length - 1] != u'/') --length;
      AssignDataFolder(path, length);
    }
  }
  ASSL* engine = NewEngine();
  engine->LoadFiles(paths, count, diagnostics);
  engine->Initialize(this, diagnostics);
}

void CEnginesHandle::SetRegexLibrary(const ascommon::usstring& directory) {
  asregex::CRegexLib* library = asregex::LoadRegexLib(directory);
  if (library == nullptr) {
    ascommon::sstring shown;
    if (ascommon::UsstringToUtf8(directory, shown) != 0 || shown.is_null()) shown.assign("");
    AS_THROW(0, ASException, "could not obtain handle to regular expressions library from %s",
             shown.c_str());
  }
  if (m_regexLib != nullptr) {
    // Rules of the current engine may hold regexes of the old library.
    if (m_assl == nullptr) {
      asregex::FreeRegexLib(m_regexLib);
    } else if (m_retiredLibs.Add(m_regexLib) != 0) {
      asregex::FreeRegexLib(library);
      AS_THROW(0, ASMemException, "memory problems");
    }
  }
  m_regexLib = library;
}

void CEnginesHandle::CreateCodeHeurEngine() {
  if (m_codeHeur != nullptr) return;
  try {
    m_codeHeur = new CCodeHeurEngine();
  } catch (...) {
    m_codeHeur = nullptr;
    AS_THROW(0, ASMemException, "memory problems");
  }
}

void CEnginesHandle::AssignDataFolder(const char16_t* directory, std::size_t length) {
  if (m_dataFolder.assign(directory, length) != 0) {
    AS_THROW(0, ASMemException, "memory problems");
  }
}

void CEnginesHandle::SetDataFolder(const char16_t* directory) {
  std::lock_guard<std::mutex> guard(m_dataMutex);
  const char16_t* text = directory != nullptr ? directory : u"";
  AssignDataFolder(text, std::char_traits<char16_t>::length(text));
  m_dataFolderChosen = true;
}

CWordFinder* CEnginesHandle::GetWordFinder() {
  CWordFinder* finder = m_wordFinder.load(std::memory_order_acquire);
  if (finder != nullptr) return finder;
  std::lock_guard<std::mutex> guard(m_dataMutex);
  finder = m_wordFinder.load(std::memory_order_relaxed);
  if (finder != nullptr) return finder;
  try {
    std::unique_ptr<CWordFinder> created(new CWordFinder());
    created->LoadCosts(m_dataFolder.is_null() ? u"" : m_dataFolder.c_str());
    finder = created.release();
  } catch (const std::bad_alloc&) {
    AS_THROW(0, ASMemException, "memory problems");
  }
  m_wordFinder.store(finder, std::memory_order_release);
  return finder;
}

void CEnginesHandle::CreateKnn() {
  if (m_codeHeur == nullptr) {
    AS_THROW(0, ASException, "NULL pointer to CCodeHeurEngine.... Can't create KNNEngine");
  }
  std::unique_ptr<CKNNAnalyzer> analyzer(new CKNNAnalyzer());
  std::unique_ptr<CKNNFileHistoryv03> history;
  const char16_t* folder = m_dataFolder.is_null() ? u"" : m_dataFolder.c_str();
  // Both model files must be there: loading would create missing ones empty.
  bool present = !m_dataFolder.empty();
  for (const char16_t* name : {kKnnClustersFile, kKnnFeaturesFile}) {
    if (!present) break;
    std::u16string path = folder;
    if (path.back() != u'\\' && path.back() != u'/') path += u'\\';
    present = ascommon::IsFile((path + name).c_str()) != 0;
  }
  if (present) {
    try {
      history.reset(new CKNNFileHistoryv03(m_dataFolder, kKnnClustersFile, kKnnFeaturesFile));
      history->DeSerialize();
      history->MarkFeatureSources(*m_codeHeur);
    } catch (const ASException& error) {
      // A history that does not load is not used; rules asking for it see none.
      AS_TRACE(0, "The KNN history of %S was not loaded: %s", folder, error.what());
      history.reset();
    }
  } else {
    AS_TRACE(3, "No KNN history in %S", folder);
  }
  if (history != nullptr) analyzer->SetHistory(history.get());
  m_knnHistory = history.release();
  m_knnAnalyzer = analyzer.release();
}

CAHistory* CEnginesHandle::GetKnnHistory() {
  if (!m_knnReady.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> guard(m_dataMutex);
    if (!m_knnReady.load(std::memory_order_relaxed)) {
      CreateKnn();
      m_knnReady.store(true, std::memory_order_release);
    }
  }
  return m_knnHistory;
}

CKNNAnalyzer* CEnginesHandle::GetKnnAnalyzer() {
  GetKnnHistory();
  return m_knnAnalyzer;
}

namespace {

const ASSL& EngineOf(const CStructsInterface* structs) {
  if (structs == nullptr) AS_THROW(0, ASException, "invalid reference to structs interface");
  if (structs->engines == nullptr) {
    AS_THROW(0, ASException, "invalid reference to engines interface");
  }
  const ASSL* engine = structs->engines->GetAssl();
  if (engine == nullptr) AS_THROW(0, ASException, "invalid reference to ASSL engine");
  return *engine;
}

const ContextInterface& ContextOf(const ContextInterface* context) {
  if (context == nullptr) AS_THROW(0, ASException, "invalid HCONTEXT");
  return *context;
}

}  // namespace

const ascommon::CArray<CRule::SignatureInfo>& GetSignatures(const CStructsInterface* structs) {
  return EngineOf(structs).GetSignatures();
}

double ExecuteRule(const CStructsInterface* structs, std::uint32_t uid) {
  return EngineOf(structs).ExecuteRule(uid, structs->engines, structs->context);
}

double ExecuteRulePreset(const CStructsInterface* structs, std::uint32_t uid, double value) {
  return EngineOf(structs).ExecuteRulePreset(uid, structs->engines, structs->context, value);
}

void GetHitRules(const CStructsInterface* structs, ascommon::sstring& out) {
  const ASSL& engine = EngineOf(structs);
  engine.GetHitRules(ContextOf(structs->context), out);
}

std::int32_t GetIntVariable(const ContextInterface* context, const char* name) {
  return ContextOf(context).GetIntVariable(name);
}

const ascommon::sstring& GetStringVariable(const ContextInterface* context, const char* name) {
  return ContextOf(context).GetStringVariable(name);
}

}  // namespace assl
