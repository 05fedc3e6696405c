// The parental signatures filter. Reload: the rule files "pc*.slf" of the data folder are
// loaded into a fresh engine (the regular-expression library and the code heuristics engine
// first). Process: a context over the page, a copy of the engine's state records, then the
// signatures in the engine's order until one gives a non-zero result; that rule's CATEGORY
// and SCORE variables and its name go into the item. The context lives on the stack: a page
// costs no allocation beyond the state records and the variables its rules set.
#include "parentalsignfilter/parentalsignfilter.h"

#include <new>

#include "common/asfile.h"
#include "config_keys.h"
#include "engines/assl/exec_structs.h"
#include "engines/assl/httpcontextif.h"
#include "itemfields.h"
#include "zzplat/files.h"

namespace nsHttpModules {

namespace {

const char kTag[] = "[Parental Sign]";
const char kCategoryVariable[] = "CATEGORY";
const char kScoreVariable[] = "SCORE";
const char16_t kRuleFileMask[] = u"pc*.slf";

// The setting's text, or "" when it is not set.
const char16_t* StringSetting(CASettings* settings, const char16_t* key) {
  const char16_t* value = settings != nullptr ? settings->GetStringValue(key) : nullptr;
  return value != nullptr ? value : u"";
}

// Writes the winning rule's results into the item; the first failure raises.
void StoreHit(ascommon::CBlackBox& bb, const assl::CStructsInterface& run, const char* name) {
  const ascommon::sstring* category = nullptr;
  try {
    category = &assl::GetStringVariable(run.context, kCategoryVariable);
  } catch (const AException&) {
    // no category set: nothing stored
  }
  bool hasScore = false;
  std::int32_t score = -1;
  try {
    score = assl::GetIntVariable(run.context, kScoreVariable);
    hasScore = true;
  } catch (const AException&) {
    // no score set: nothing stored
  }
  using ItemField::kSignatureCategory;
  using ItemField::kSignatureRule;
  using ItemField::kSignatureScore;
  if (category != nullptr &&
      bb.SetCharBuf(category->c_str() != nullptr ? category->c_str() : "", kSignatureCategory,
                    true) != 0) {
    AS_THROW(0, ASException, "%s could not add ASSL category to bbext", kTag);
  }
  if (hasScore && bb.SetInt(score, kSignatureScore, true) != 0) {
    AS_THROW(0, ASException, "%s could not add ASSL score to bbext", kTag);
  }
  if (bb.SetCharBuf(name, kSignatureRule, true) != 0) {
    AS_THROW(0, ASException, "%s could not add hit rule name to bbext", kTag);
  }
}

}  // namespace

CParentalSignFilter::CParentalSignFilter(const ascommon::usstring& name) : CAFilter(name) {
  m_moduleKind = 1;
  AS_TRACE(0, "Constructing Parental Signatures Filter with name %S", m_moduleName.c_str());
}

CParentalSignFilter::~CParentalSignFilter() {
  AS_TRACE(0, "The Parental Signatures Filter with name %S is about to be destructed",
           m_moduleName.c_str());
}

void* CParentalSignFilter::CreateSessionData() { return ascommon::as_alloc_nt(1); }

void CParentalSignFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

// The signatures filter shares its switch with the BW list filter.
bool CParentalSignFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyParentalBWListEnabled, 1);
}

void* CParentalSignFilter::CreateSharedData() { return new (std::nothrow) SignSharedData(); }

void CParentalSignFilter::DestroySharedData(void* pData) {
  auto* shared = static_cast<SignSharedData*>(pData);
  if (shared == nullptr) return;
  delete shared->engines;
  delete shared;
}

void CParentalSignFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  ascommon::usstring libraries, data, mainFile;
  if (libraries.assign(StringSetting(m_settings, kKeySharedLibsPath)) != 0 ||
      data.assign(StringSetting(m_settings, kKeySharedDataPath)) != 0 ||
      mainFile.assign(data) != 0 || mainFile.append(u"\\") != 0 ||
      mainFile.append(kFileSignatures) != 0) {
    AS_THROW(0, ASMemException, "%s no memory", kTag);
  }
  if (ascommon::FileExists(mainFile.c_str()) == 0) {
    zzplat::File created;  // an empty rule file, so that the next reload goes on
    created.Open(mainFile.c_str(), u"wt");
    AS_THROW(0, ASMemException, "%s no data file pc_sign", kTag);
  }
  auto* shared = static_cast<SignSharedData*>(m_sharedData);
  if (shared == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid shared data struct", kTag);
  }
  if (shared->engines == nullptr) {
    shared->engines = new (std::nothrow) assl::CEnginesHandle();
    if (shared->engines == nullptr) AS_THROW(0, ASException, "%s memory problems", kTag);
  }
  shared->engines->SetRegexLibrary(libraries);
  shared->engines->CreateCodeHeurEngine();
  shared->engines->LoadRules(data, kRuleFileMask, false);
}

void CParentalSignFilter::Process(std::uint32_t sessionId, AItem* pItem, std::uint32_t command) {
  if (!AcceptItem(sessionId, pItem, kTag)) return;
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  auto* shared = RequireSharedData<SignSharedData>("[Parental Sign] invalid shared data struct");
  assl::CHttpContextInterface context;
  context.Init(pItem);
  assl::CEnginesHandle* engines = shared->engines;
  const assl::ASSL* engine = engines != nullptr ? engines->GetAssl() : nullptr;
  if (engine != nullptr) context.CopyStateRecords(engine->GetStateTemplate());
  const assl::CStructsInterface run{&context, engines};
  if (command != 0) {
    AS_TRACE(0, "%s this command is not supported", kTag);
    return;
  }
  RunSignatures(run, pItem->GetBlackBox());
}

void CParentalSignFilter::RunSignatures(const assl::CStructsInterface& run,
                                        ascommon::CBlackBox& bb) {
  const ascommon::CArray<assl::CRule::SignatureInfo>& signatures = assl::GetSignatures(&run);
  const std::uint64_t count = signatures.GetSize();
  AS_TRACE(0, "%s obtained %d signatures", kTag, static_cast<int>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    const assl::CRule::SignatureInfo& entry = signatures[i];
    if (entry.name == nullptr) {
      AS_TRACE(0, "%s index %d in signatures array contains an invalid entry", kTag,
               static_cast<int>(i));
      continue;
    }
    try {
      AS_TRACE(0, "%s will execute signature %s with priority %d", kTag, entry.name,
               static_cast<int>(entry.priority));
      const double result = assl::ExecuteRule(&run, entry.uid);
      AS_TRACE(0, "%s signature %s executed successfully and returned %lf", kTag, entry.name,
               result);
      if (result == 0.0) continue;
      StoreHit(bb, run, entry.name);
      return;
    } catch (...) {  // a failing signature never ends the page: the next one runs
      AS_TRACE(0, "%s signature %s failed to execute successfully", kTag, entry.name);
    }
  }
  AS_TRACE(0, "%s no signature has returned non-zero", kTag);
}

}  // namespace nsHttpModules
