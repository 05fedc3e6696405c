// CEnginesHandle: everything a rule run needs besides the item: the ASSL engine with its
// rules, the regular-expression library, the code heuristics engine (and, created on first
// request, the fuzzy word finder and the KNN engine of the mail features). One per filter,
// held in the filter's shared data. CStructsInterface binds one context to the handle for
// one item (the filter's "execution object").
//
// Loading (SetRegexLibrary, CreateCodeHeurEngine, SetDataFolder, LoadRules) runs under the
// filter's exclusive lock; execution only reads the handle, from any number of threads at
// once. A regular-expression library stays loaded as long as any engine that compiled with
// it. GetWordFinder may be called from any thread: the first call creates the word finder
// (with the costs of the data folder's "aswfconf.dat"), the others wait for it and share
// it; once created it lives as long as the handle, so reloading rules never pulls it from
// under a running rule (and a changed cost file is read by the next handle).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/ustring.h"
#include "engines/assl/assl.h"

namespace asregex {
struct CRegexLib;
}
class CCodeHeurEngine;
class CWordFinder;
class CAHistory;
class CKNNAnalyzer;

namespace assl {

class ContextInterface;

class CEnginesHandle : public ascommon::CASAllocated {
 public:
  CEnginesHandle() noexcept = default;
  ~CEnginesHandle();
  CEnginesHandle(const CEnginesHandle&) = delete;
  CEnginesHandle& operator=(const CEnginesHandle&) = delete;

  // Destroys the engine held (if any), builds a new one from every file of directory that
  // matches mask, initialises it and, when writeRuleMap is set, writes "vi2nnmap.dat" into
  // directory. directory becomes the data folder. Throws ASException ("memory problems", "problems concatenating strings",
  // "problems building file list", kNoRuleFilesMessage when no file matches, ...).
  void LoadRules(const ascommon::usstring& directory, const char16_t* mask, bool writeRuleMap,
                 IParserDiagnostics* diagnostics = nullptr);
  // The same over an explicit list of files (the "rules test" command); the folder of the
  // first file becomes the data folder unless SetDataFolder chose one.
  void LoadRuleFiles(const ascommon::usstring* paths, std::uint64_t count,
                     IParserDiagnostics* diagnostics = nullptr);
  // Loads the regular-expression library from directory; ASException "could not obtain
  // handle to regular expressions library from %s" when it cannot.
  void SetRegexLibrary(const ascommon::usstring& directory);
  // Creates the code heuristics engine unless there is one ("memory problems").
  void CreateCodeHeurEngine();
  // The folder the word finder's cost file is read from ("memory problems").
  void SetDataFolder(const char16_t* directory);
  // The word finder, created with the data folder's costs by the first call (ASMemException
  // "memory problems" when it cannot be). Safe from any number of threads at once.
  CWordFinder* GetWordFinder();
  // The KNN history of the data folder ("vi2features.dat" and "vi2clusters.dat", each
  // feature marked as a heuristic or an ASSL expression), loaded by the first call of
  // either KNN getter; null when the folder lacks a file or the files do not load (traced
  // once). ASException "NULL pointer to CCodeHeurEngine.... Can't create KNNEngine" without
  // the code heuristics engine. Safe from any number of threads at once, like the word
  // finder; both live as long as the handle.
  CAHistory* GetKnnHistory();
  // The analyzer over that history (created with it; null only when creation threw).
  CKNNAnalyzer* GetKnnAnalyzer();

  ASSL* GetAssl() const noexcept { return m_assl; }
  asregex::CRegexLib* GetRegexLib() const noexcept { return m_regexLib; }
  CCodeHeurEngine* GetCodeHeurEngine() const noexcept { return m_codeHeur; }

 private:
  // Destroys the engine and frees the libraries retired while it lived.
  void DestroyEngine() noexcept;
  // DestroyEngine, then a new empty engine held by the handle ("memory problems").
  ASSL* NewEngine();
  void AssignDataFolder(const char16_t* directory, std::size_t length);

  ASSL* m_assl = nullptr;                     // Owned.
  asregex::CRegexLib* m_regexLib = nullptr;   // Owned; the library new rules compile with.
  // Libraries replaced while an engine compiled with them was alive; freed with that engine.
  ascommon::CArray<asregex::CRegexLib*> m_retiredLibs;
  CCodeHeurEngine* m_codeHeur = nullptr;      // Owned.
  std::mutex m_dataMutex;                     // guards the data folder and the creation
  ascommon::usstring m_dataFolder;
  bool m_dataFolderChosen = false;            // by SetDataFolder
  std::atomic<CWordFinder*> m_wordFinder{nullptr};  // Owned; null until requested.
  void CreateKnn();  // under m_dataMutex
  std::atomic<bool> m_knnReady{false};        // the two below are final once set
  CAHistory* m_knnHistory = nullptr;          // Owned; null without model files.
  CKNNAnalyzer* m_knnAnalyzer = nullptr;      // Owned.
};

// One item's run: the context and the engines it runs on (neither owned).
struct CStructsInterface {
  ContextInterface* context = nullptr;
  CEnginesHandle* engines = nullptr;
};

// Handle-level operations of the filter; each checks its handles ("invalid reference to
// structs interface", "invalid reference to engines interface", "invalid reference to ASSL
// engine", "invalid HCONTEXT") and throws ASException.
const ascommon::CArray<CRule::SignatureInfo>& GetSignatures(const CStructsInterface* structs);
double ExecuteRule(const CStructsInterface* structs, std::uint32_t uid);
double ExecuteRulePreset(const CStructsInterface* structs, std::uint32_t uid, double value);
void GetHitRules(const CStructsInterface* structs, ascommon::sstring& out);
std::int32_t GetIntVariable(const ContextInterface* context, const char* name);
const ascommon::sstring& GetStringVariable(const ContextInterface* context, const char* name);

}  // namespace assl
