// The parental Bayes filter. Classification: the item's texts are collected in place (page
// text first, then the label texts), the classifier gives a score and the best and runner-up
// categories, and the threshold rule picks the name to store: the best category above the
// threshold, else the less strict of the two. Training hands the same texts to the
// classifier with the category named in bbext. Cost per page: linear in the text (the
// classifier's); one small allocation for the input array. Commands map one to one onto
// the classifier's maintenance operations.
// Tested by tests/zazozor/bayesfilter_test.cpp.
#include "bayesfilter/bayesfilter.h"

#include <iterator>

#include "common/asfile.h"
#include "config_keys.h"
#include "datapath.h"
#include "engines/bayesclassifier/ebayes.h"
#include "itemfields.h"

namespace nsHttpModules {

using nsEngineBayesClassifier::CBayesText;
using nsEngineBayesClassifier::CBFilter;

namespace {

// Word separators of page text: 32 punctuation marks and blanks, then tab, CR and LF.
constexpr char16_t kSeparators[] = u" ,'.()[]{}/\\?!#`~$%^&*-+=:;|\"<>_\t\r\n";
static_assert(std::size(kSeparators) == 35 + 1);

// The name stored for a category of level 0.
constexpr char16_t kWhiteName[] = u"white";
// Levels from here on are never chosen by the low-confidence rule.
constexpr std::uint32_t kNoLevel = 1000;

// The size of a file, 0 when it cannot be read.
std::int64_t SizeOf(const ascommon::usstring& path) {
  std::uint64_t size = 0;
  if (ascommon::FileExists(path.c_str(), &size) != 1) return 0;
  return static_cast<std::int64_t>(size);
}

// Creates an empty file; a folder that is missing or read-only leaves it missing.
void CreateEmptyFile(const ascommon::usstring& path) {
  try {
    ascommon::CASFile(path.c_str(), u"wb").close();
  } catch (const std::exception&) {
    AS_TRACE(0, "[Parental Bayes] could not create %S", path.c_str());
  }
}

// The dictionary file to use in the data folder: "pcdic.dat" when it is not empty, else
// "bayescsf.dat" (a missing "pcdic.dat" is created empty for an updater to fill).
void ChooseDictionary(const ascommon::usstring& folder, ascommon::usstring& chosen) {
  ascommon::usstring fallback;
  ascommon::usstring preferred;
  if (JoinDataPath(folder, kFileBayesFallbackDictionary, Separator::kAlways, fallback) != 0 ||
      JoinDataPath(folder, kFileBayesDictionary, Separator::kAlways, preferred) != 0) {
    AS_THROW(0, ASMemException, "[Parental Bayes] no memory");
  }
  std::uint64_t size = 0;
  const bool exists = ascommon::FileExists(preferred.c_str(), &size) == 1;
  if (!exists) CreateEmptyFile(preferred);
  if (chosen.assign(exists && size != 0 ? preferred : fallback) != 0) {
    AS_THROW(0, ASMemException, "[Parental Bayes] no memory");
  }
}

// The item's input: the page text, then every label text, none with a label. False (after
// the trace line) when the page text is empty.
bool CollectTexts(AItem& item, ascommon::CArray<CBayesText>& texts) {
  const ascommon::CBlackBox& bb = item.GetBlackBox();
  const char16_t* page = bb.GetUCharBuf(ItemField::kPageText);
  if (page == nullptr || *page == 0) {
    AS_TRACE(0, "[Parental Bayes] Bufferul html e NULL");
    return false;
  }
  if (texts.Add(CBayesText{page, nullptr}) != 0) {
    AS_THROW(0, ASMemException, "[Parental Bayes] no memory");
  }
  const auto* labels =
      dynamic_cast<const ascommon::CBlackBox::WideTextArray*>(bb.GetContainer(ItemField::kLabelTexts));
  if (labels == nullptr) return true;
  for (std::uint64_t i = 0; i < labels->GetSize(); ++i) {
    if (texts.Add(CBayesText{(*labels)[i].c_str(), nullptr}) != 0) {
      AS_THROW(0, ASException, "[Parental Bayes] Could not add text from labels");
    }
  }
  return true;
}

// The name to store for a classification: above the threshold the best category, else the
// listed category of lowest level below kNoLevel (the first on a tie); a level-0 category
// is "white". Null when no listed category qualifies. Raises InvalidIndexException (-301)
// for an empty list.
const char16_t* ChooseName(const ascommon::CArray<CBFilter::CCategoryInfo>& categories,
                           const ascommon::CArray<std::uint32_t>& levels, std::int32_t score,
                           std::int32_t threshold) {
  const CBFilter::CCategoryInfo& best = categories[0];
  std::uint64_t chosen = 0;
  if (score <= threshold) {
    std::uint32_t lowest = kNoLevel;
    chosen = levels.GetSize();
    for (std::uint64_t i = 0; i < levels.GetSize(); ++i) {
      if (levels[i] < lowest) lowest = levels[i], chosen = i;
    }
    if (chosen == levels.GetSize()) return nullptr;
  }
  if (levels[chosen] == 0) return kWhiteName;
  return chosen == 0 ? best.name.c_str() : categories[chosen].name.c_str();
}

// The occurrence limit of commands 37 and 39: 33003, not negative.
std::int32_t ReadLimit(const ascommon::CBlackBox& params, bool traced) {
  const std::int32_t limit = params.GetInt(ItemField::kParamOccurrenceLimit);
  if (limit >= 0) return limit;
  if (traced) AS_THROW(0, ASException, "[Parental Bayes] Invalid occurence limit value");
  throw ASException(0, "ASException - MESSAGE: [Parental Bayes] Invalid occurence limit value");
}

}  // namespace

CBayesFilter::CBayesFilter(const ascommon::usstring& name) : CAFilter(name) { m_moduleKind = 1; }

CBayesFilter::~CBayesFilter() = default;

// The Bayes filter's session block is made with the throwing allocation.
void* CBayesFilter::CreateSessionData() { return ascommon::as_alloc(1); }

void CBayesFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

bool CBayesFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyBayesEnabled, 1);
}

void* CBayesFilter::CreateSharedData() {
  auto* shared = new (std::nothrow) BayesSharedData();
  if (shared == nullptr) return nullptr;
  try {
    shared->classifier = new CBFilter(kSeparators);
  } catch (...) {
    delete shared;
    throw;
  }
  return shared;
}

void CBayesFilter::DestroySharedData(void* pData) {
  auto* shared = static_cast<BayesSharedData*>(pData);
  if (shared == nullptr) return;
  if (shared->classifier != nullptr) {
    // Training's changes go back to the file; a failed write is traced by the dictionary
    // ("Error writing to file!") and the old file stays as it was.
    shared->classifier->CloseDictionary(shared->dictionary_path.c_str(), 0,
                                        nsEngineBayesClassifier::kLimitByTotal);
    delete shared->classifier;
  }
  delete shared;
}

void CBayesFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  auto* shared = static_cast<BayesSharedData*>(m_sharedData);
  if (shared == nullptr) {
    AS_THROW(0, ASBadPtrException, "[Parental Bayes] Invalid shared data retreived");
  }
  ascommon::usstring folder;
  const char16_t* setting =
      m_settings != nullptr ? m_settings->GetStringValue(kKeySharedDataPath) : nullptr;
  if (folder.assign(setting != nullptr ? setting : u"") != 0) {
    AS_THROW(0, ASMemException, "[Parental Bayes] no memory");
  }
  ascommon::usstring path;
  ChooseDictionary(folder, path);
  const std::int64_t size = SizeOf(path);
  CBFilter& classifier = *shared->classifier;
  // The dictionary in memory is current while the same file keeps the size it was loaded
  // at, also after commands 37 and 39 closed it.
  const bool samePath = path == shared->dictionary_path;
  if (shared->dictionary_loaded != 0 && size == shared->last_size && samePath) return;
  // Changes made by training go back to the file they were read from, never to a newly
  // chosen one (that would overwrite the file an updater just delivered).
  std::int32_t status = 0;
  if (!samePath) {
    status = classifier.CloseDictionary(shared->dictionary_path.c_str(), 0,
                                        nsEngineBayesClassifier::kLimitByTotal);
    if (shared->dictionary_path.assign(path) != 0) {
      AS_THROW(0, ASMemException, "[Parental Bayes] no memory");
    }
  }
  if (status == 0) status = classifier.ReopenDictionary(path.c_str());
  if (status != 0) {
    // Nothing loaded matches a file now: the next reload tries again whatever the size.
    shared->dictionary_loaded = 0;
    AS_THROW(0, ASException, "[Parental Bayes] Problems reloading the dictionary");
  }
  shared->dictionary_loaded = 1;
  shared->last_size = size;
}

void CBayesFilter::Process(std::uint32_t, AItem* pItem, std::uint32_t command) {
  if (pItem == nullptr) AS_THROW(0, ASBadPtrException, "[Parental Bayes] Invalid item to process");
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  auto* shared = RequireSharedData<BayesSharedData>("[Parental Bayes] Invalid session data struct");
  ascommon::CArray<CBayesText> texts;
  if (!CollectTexts(*pItem, texts)) return;
  if (command == FilterCommand::kProcess) {
    Classify(*shared->classifier, *pItem, texts);
  } else if (command == FilterCommand::kBayesTrain) {
    Train(*shared->classifier, *pItem, texts);
  } else {
    AS_THROW(0, ASException, "[Parental Bayes] Unknown command");
  }
}

void CBayesFilter::Classify(CBFilter& classifier, AItem& item, const Texts& texts) {
  ascommon::CBlackBox& bb = item.GetBlackBox();
  std::int32_t threshold = 0;
  try {
    threshold = bb.GetInt(ItemField::kBayesThreshold);
  } catch (const std::exception&) {
    AS_THROW(0, ASException, "[Parental Bayes] Could not get threshold");
  }
  std::int32_t score = 0;
  ascommon::CArray<CBFilter::CCategoryInfo> categories;
  ascommon::CArray<std::uint32_t> levels;
  const std::int32_t status = classifier.GetPRobability(texts, score, categories, levels);
  if (status < 0) AS_RAISE_CODE(ASException, status, "[Parental Bayes] Problems analyzing the item");
  AS_TRACE(0, "bayes pc score = %d", score);
  const char16_t* name = ChooseName(categories, levels, score, threshold);
  if (name == nullptr) return;
  bb.SetUCharBuf(name, ItemField::kBayesCategory, true);
  AS_TRACE(0, "bayes pc cat = %S", name);
  bb.SetInt(score, ItemField::kBayesScore, true);
}

void CBayesFilter::Train(CBFilter& classifier, AItem& item, const Texts& texts) {
  ascommon::CBlackBox* ext = item.GetExtBlackBox();
  if (ext == nullptr) AS_THROW(0, ASBadPtrException, "[Parental Bayes] Invalid item to process");
  const char16_t* category = ext->GetUCharBuf(ItemField::kTrainCategory);
  if (classifier.InsertItem(texts, category) != 0) {
    AS_THROW(0, ASException, "[Parental Bayes] Problems inserting the item as legit");
  }
}

void CBayesFilter::AddCategories(CBFilter& classifier, const ascommon::CBlackBox& params) {
  using ascommon::CBlackBox;
  if (params.GetKind(ItemField::kParamCategoryNames) == CBlackBox::kNone) {
    AS_THROW(0, ASException, "[Parental Bayes] Categories name not found in blackbox");
  }
  const auto* names =
      dynamic_cast<const CBlackBox::WideTextArray*>(params.GetContainer(ItemField::kParamCategoryNames));
  if (names == nullptr) {
    AS_THROW(0, ASException, "[Parental Bayes] Wrong categories name object in bb");
  }
  // Both 32-bit array flavours (SetArray, SetLongArray) hold signed 32-bit values.
  const auto* levels =
      dynamic_cast<const CBlackBox::IntArray*>(params.GetContainer(ItemField::kParamCategoryLevels));
  if (levels == nullptr) {
    AS_THROW(0, ASException, "[Parental Bayes] Categories level not found in blackbox");
  }
  if (classifier.InsertCategories(*names, *levels) != 0) {
    AS_THROW(0, ASException, "[Parental Bayes] Problems inserting categories");
  }
}

void CBayesFilter::CloseWithLimit(BayesSharedData& shared, const ascommon::CBlackBox& params,
                                  std::int32_t mode) {
  const std::int32_t limit =
      ReadLimit(params, mode == nsEngineBayesClassifier::kLimitBySingleCategory);
  CBFilter& classifier = *shared.classifier;
  if (!classifier.IsDictionaryOpen()) {
    AS_THROW(0, ASException, "[Parental Bayes] Dictionary not loaded");
  }
  // A failed write (traced by the dictionary) has emptied the dictionary in memory.
  const std::int32_t status =
      classifier.CloseDictionary(shared.dictionary_path.c_str(), limit, mode);
  if (status != 0) {
    AS_THROW_CODE(0, ASException, status, "[Parental Bayes] Dictionary not loaded");
  }
}

void CBayesFilter::ProcessCommand(std::uint32_t, std::uint32_t command,
                                  ascommon::CBlackBox* pParams) {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  auto* shared = RequireSharedData<BayesSharedData>("[Parental Bayes] Invalid session data struct");
  // No parameter bag reads as an empty one: every parameter is then missing.
  ascommon::CBlackBox none(1);
  const ascommon::CBlackBox& params = pParams != nullptr ? *pParams : none;
  CBFilter& classifier = *shared->classifier;
  switch (command) {
    case FilterCommand::kBayesAddCategories:
      AddCategories(classifier, params);
      return;
    case FilterCommand::kBayesPrint:
      if (classifier.PrintDictionary(params.GetUCharBuf(ItemField::kParamPrintFile), true) != 0) {
        AS_THROW(0, ASException, "[Parental Bayes] Problems printing dictionary");
      }
      return;
    case FilterCommand::kBayesPrune:
      CloseWithLimit(*shared, params, nsEngineBayesClassifier::kLimitByTotal);
      return;
    case FilterCommand::kBayesConvert:
      if (CBFilter::ConvertDictionary(params.GetCharBuf(ItemField::kParamTextList),
                                      params.GetCharBuf(ItemField::kParamDictionaryFile)) != 0) {
        AS_THROW(0, ASException, "[Parental Bayes] Problems printing dictionary");
      }
      return;
    case FilterCommand::kBayesPruneMode1:
      CloseWithLimit(*shared, params, nsEngineBayesClassifier::kLimitBySingleCategory);
      return;
    default:
      AS_THROW(0, ASException, "[Parental Bayes] Unknown command");
  }
}

}  // namespace nsHttpModules
