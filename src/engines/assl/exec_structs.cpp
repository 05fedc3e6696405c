// The engines handle: building a fresh engine per load, the regular-expression library
// (kept loaded while an engine that compiled with it lives), the code heuristics engine,
// and the handle-level operations with their handle checks.
// Tested by tests/engines/assl/engine_*_test.cpp.
#include "engines/assl/exec_structs.h"

#include <new>

#include "engines/asregex/regexlib.h"
#include "common/astrace.h"
#include "common/convert.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/rulemap_format.h"
#include "engines/codeheur/codeheurengine.h"

namespace assl {

CEnginesHandle::~CEnginesHandle() {
  DestroyEngine();
  asregex::FreeRegexLib(m_regexLib);
  delete m_codeHeur;
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
