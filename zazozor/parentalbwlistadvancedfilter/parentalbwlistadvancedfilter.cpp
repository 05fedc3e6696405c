// The advanced list filter: the page's path piece, host and domain are digested once each
// and looked up in the white list and then in every category list the session enables; a
// white hit ends the check, category hits are all recorded. An index over all loaded lists
// says which lists hold each piece: one probe per piece answers for every list.
// Tested by tests/zazozor/advancedfilter_test.cpp.
#include "parentalbwlistadvancedfilter/parentalbwlistadvancedfilter.h"

#include <bit>
#include <cstring>
#include <exception>

#include "common/asfile.h"
#include "common/swar.h"
#include "common/urlutils.h"
#include "config_keys.h"
#include "datapath.h"
#include "itemfields.h"
#include "urlinfo.h"

namespace nsHttpModules {

namespace {

const char kTag[] = "[Parental BW List Advanced]";

static_assert(kListCount <= static_cast<int>(ascommon::CCategoryIndex::kMaxLists));

// Trace words of a hit, indexed by ascommon::ECategoryPiece.
constexpr const char* kHitWords[ascommon::kCategoryPieceCount] = {"url", "subdomain", "domain"};

// A one-byte result; a failed store is ignored, as the result is only advice to the host.
void StoreResult(ascommon::CBlackBox& bb, std::uint32_t key, bool value) noexcept {
  try {
    bb.SetBool(value, key, true);
  } catch (const std::exception&) {
  }
}

// Bit i set when switches[i] is not 0, for the kListCount session switches: eight at a
// time (a byte's high bit, after adding 0x7F to its low seven bits, is set exactly when it
// is not 0; a multiply then gathers the eight high bits into one byte).
std::uint32_t NonZeroBytes(const std::uint8_t* switches) noexcept {
  static_assert(kListCount <= 24 && std::endian::native == std::endian::little);
  std::uint8_t bytes[24] = {};
  std::memcpy(bytes, switches, kListCount);
  std::uint32_t mask = 0;
  for (int at = 0; at < kListCount; at += 8) {
    const std::uint64_t word = ascommon::swar::LoadWord(reinterpret_cast<const char*>(bytes + at));
    constexpr std::uint64_t kLow7 = ~ascommon::swar::kHighBits;
    const std::uint64_t high = (((word & kLow7) + kLow7) | word) & ascommon::swar::kHighBits;
    mask |= static_cast<std::uint32_t>(((high >> 7) * 0x0102040810204080ull) >> 56) << at;
  }
  return mask;
}

// Loads one list from its file into a new database; null when it cannot be created or
// loaded (traced; a missing file is then created empty for a later updater to fill).
// Whatever throws on the way (the streamer, or memory running out inside a path
// conversion), the database is released.
ascommon::CURLCategoryDB* LoadList(const CategoryList& list, const ascommon::usstring& dataPath,
                                   const ascommon::usstring& tempPath) {
  struct Owner {
    ascommon::CURLCategoryDB* db;
    ~Owner() { delete db; }
  } owner{new (std::nothrow) ascommon::CURLCategoryDB()};
  if (owner.db == nullptr) {
    AS_TRACE(0, "%s Memory allocation problems with the %s blacklist.", kTag, list.loadName);
    return nullptr;
  }
  ascommon::usstring path;
  std::int32_t status = JoinDataPath(dataPath, list.dataFile, Separator::kUnlessPresent, path);
  if (status == 0) {
    try {
      status = owner.db->LoadFile(path.c_str(), tempPath.c_str());
    } catch (const std::exception&) {
      status = -3;  // the streamer traced why
    }
  }
  if (status == 0) {
    ascommon::CURLCategoryDB* const db = owner.db;
    owner.db = nullptr;
    return db;
  }
  try {
    if (path.status() == 0 && ascommon::FileExists(path.c_str()) == 0) {
      ascommon::CASFile(path.c_str(), u"wb").close();
    }
  } catch (const std::exception&) {
    // The folder may not exist or be read-only: the list stays missing.
  }
  AS_TRACE(0, "%s Problems loading the %s URLs, no blacklist?", kTag, list.loadName);
  return nullptr;
}

// Builds an index over the loaded lists; null when memory runs out.
ascommon::CCategoryIndex* BuildIndex(const BWListAdvancedSharedData& shared) noexcept {
  auto* index = new (std::nothrow) ascommon::CCategoryIndex();
  if (index != nullptr && index->Build(shared.lists, kListCount) != 0) {
    delete index;
    index = nullptr;
  }
  return index;
}

}  // namespace

BWListAdvancedSharedData::~BWListAdvancedSharedData() {
  delete index;
  index = nullptr;
  delete whiteFilter;
  whiteFilter = nullptr;
  for (ascommon::CURLCategoryDB*& list : lists) {
    delete list;
    list = nullptr;
  }
}

CParentalBWListAdvancedFilter::CParentalBWListAdvancedFilter(const ascommon::usstring& name)
    : CAFilter(name) {
  m_moduleKind = 1;
  AS_TRACE(0, "Constructing Parental BWList Advanced Filter with name %S", m_moduleName.c_str());
}

CParentalBWListAdvancedFilter::~CParentalBWListAdvancedFilter() {
  AS_TRACE(0, "The Parental BW List Advanced Filter with name %S is about to be destructed",
           m_moduleName.c_str());
}

void* CParentalBWListAdvancedFilter::CreateSessionData() {
  void* block = ascommon::as_alloc_nt(kSessionBlockSize);
  if (block != nullptr) std::memset(block, 0, kSessionBlockSize);
  return block;
}

void CParentalBWListAdvancedFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

bool CParentalBWListAdvancedFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyParentalBWListAdvancedEnabled, 0);
}

void CParentalBWListAdvancedFilter::ReloadSessionSettings(std::uint32_t sessionId) {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  auto* switches = static_cast<std::uint8_t*>(GetSessionData(sessionId));
  if (switches == nullptr) AS_THROW(0, ASBadPtrException, "%s invalid data struct", kTag);
  switches[kWhiteListIndex] = 1;
  // Keys are built in a fixed buffer: prefix plus the longest ending fits easily.
  char16_t key[96];
  const std::size_t prefixLength = std::char_traits<char16_t>::length(kKeyCategoryPrefix);
  std::char_traits<char16_t>::copy(key, kKeyCategoryPrefix, prefixLength);
  for (int i = 0; i < kCategoryCount; ++i) {
    const char16_t* ending = kCategoryLists[i].enableKeyEnding;
    const std::size_t endingLength = std::char_traits<char16_t>::length(ending);
    std::char_traits<char16_t>::copy(key + prefixLength, ending, endingLength + 1);
    switches[i] = m_settings != nullptr && m_settings->GetIntValue(sessionId, key, 1) == 1;
  }
}

void* CParentalBWListAdvancedFilter::CreateSharedData() {
  return new (std::nothrow) BWListAdvancedSharedData();
}

void CParentalBWListAdvancedFilter::DestroySharedData(void* pData) {
  delete static_cast<BWListAdvancedSharedData*>(pData);
}

void CParentalBWListAdvancedFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  auto* shared = static_cast<BWListAdvancedSharedData*>(m_sharedData);
  if (shared == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid pointer to shared data struct", kTag);
  }
  // The streamer unscrambles each file into a temporary copy; it goes to the host's
  // temporary folder (the current folder when none is set).
  const ascommon::usstring dataPath = ReadStringSetting(kKeySharedDataPath);
  const ascommon::usstring tempPath = ReadStringSetting(kKeyGlobalTempPath);
  // Incremental: lists already loaded stay; missing ones are tried again.
  bool added = false;
  for (int i = 0; i < kListCount; ++i) {
    if (shared->lists[i] == nullptr) {
      shared->lists[i] = LoadList(kCategoryLists[i], dataPath, tempPath);
      added = added || shared->lists[i] != nullptr;
    }
    if (shared->lists[i] != nullptr) shared->loaded |= std::uint32_t{1} << i;
  }
  // A new index covers the lists loaded now. Without memory for it the old index stays:
  // the lists it covers are still loaded and unchanged, and the new ones are looked up
  // themselves.
  if (added || shared->index == nullptr) {
    if (ascommon::CCategoryIndex* index = BuildIndex(*shared)) {
      delete shared->index;
      shared->index = index;
      shared->indexed = shared->loaded;
    }
  }
  const ascommon::CURLCategoryDB* white = shared->lists[kWhiteListIndex];
  if (white != nullptr && shared->whiteFilter == nullptr) {
    auto* filter = new (std::nothrow) ascommon::CCategoryKeyFilter();
    if (filter != nullptr && filter->Build(*white) != 0) {
      delete filter;
      filter = nullptr;
    }
    shared->whiteFilter = filter;
  }
  if (shared->loaded == 0) {
    AS_THROW(0, ASException, "%s None of the url engines could be initialized.", kTag);
  }
}

void CParentalBWListAdvancedFilter::Process(std::uint32_t sessionId, AItem* pItem,
                                            std::uint32_t command) {
  if (!AcceptItem(sessionId, pItem, kTag)) return;
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  const auto* shared = RequireSharedData<BWListAdvancedSharedData>(
      "[Parental BW List Advanced] invalid shared data struct");
  const auto* switches = static_cast<const std::uint8_t*>(GetSessionData(sessionId));
  if (switches == nullptr) AS_THROW(0, ASBadPtrException, "%s invalid data struct", kTag);
  if (command != FilterCommand::kProcess) {
    AS_TRACE(0, "%s this command is not supported", kTag);
    return;
  }
  ascommon::CBlackBox& bb = pItem->GetBlackBox();
  const ascommon::CParsedURL* url = UrlInfoOf(bb.GetGenericObject(ItemField::kUrlInfo));
  if (url == nullptr) AS_THROW(0, ASBadPtrException, "invalid pointer to the url info");
  ascommon::CBlackBox* ext = pItem->GetExtBlackBox();
  if (ext == nullptr) AS_THROW(0, ASBadPtrException, "%s invalid extension blackbox", kTag);

  // The pieces, indexed by ascommon::ECategoryPiece (null = absent).
  const char* texts[ascommon::kCategoryPieceCount];
  std::size_t lengths[ascommon::kCategoryPieceCount];
  url->GetPathLower(texts[0], lengths[0]);
  url->GetHostLower(texts[1], lengths[1]);
  url->GetDomainLower(texts[2], lengths[2]);
  AS_TRACE(0, "%s url to lookup: %.*s", kTag, static_cast<int>(lengths[0]),
           texts[0] != nullptr ? texts[0] : "");

  // hits[i] bit p: list i is looked up (loaded and switched on for the session; byte 17,
  // "settings read", gates the white list) and holds piece p. The digests do not depend
  // on the list: computed once, then one index probe per piece answers for the lists the
  // index covers, and the others (none, unless it could not be rebuilt) answer themselves.
  std::uint8_t hits[kListCount] = {};
  const std::uint32_t switchedOn = NonZeroBytes(switches);
  constexpr std::uint32_t kWhiteBit = 1u << kWhiteListIndex;
  const std::uint32_t active = switchedOn & shared->loaded;
  const std::uint32_t indexedActive = shared->index != nullptr ? active & shared->indexed : 0;
  ascommon::CCategoryProbe probe;
  ascommon::CCategoryIndex::Homes homes;
  const auto lookUpItself = [&](int i) {
    std::int32_t results[ascommon::kCategoryPieceCount];
    shared->lists[i]->Lookup(probe, results);
    for (std::size_t p = 0; p < ascommon::kCategoryPieceCount; ++p) {
      hits[i] |= static_cast<std::uint8_t>((results[p] == 1 ? 1u : 0u) << p);
    }
  };
  if (active != 0) {
    probe.Set(texts, lengths);
    // The index's slots are on their way while the white list answers (its small filter,
    // which stays in the cache, tells most pages off it) and the item's stores are made.
    if ((indexedActive & ~kWhiteBit) != 0) shared->index->Prefetch(probe, homes);
    if ((active & kWhiteBit) != 0 &&
        (shared->whiteFilter == nullptr || shared->whiteFilter->MayHoldAny(probe))) {
      lookUpItself(kWhiteListIndex);
    }
  }
  // One list's hits: each piece listed, in order, is recorded in bbext and traced.
  const auto record = [&](int index) {
    for (std::size_t p = 0; p < ascommon::kCategoryPieceCount; ++p) {
      if (((hits[index] >> p) & 1u) == 0) continue;
      StoreResult(*ext, kCategoryLists[index].resultKey, true);
      AS_TRACE(0, "%s %s %s", kTag, kCategoryLists[index].traceName, kHitWords[p]);
    }
  };

  // Every list's result in the item is 0; the hits go to bbext. The item's stores come
  // first and the hits after them: the two bags are apart, so the order between them does
  // not show, while the hits keep their list order.
  bool flag = false;
  StoreResult(bb, kCategoryLists[kWhiteListIndex].resultKey, false);
  if (hits[kWhiteListIndex] != 0) {
    record(kWhiteListIndex);
    flag = true;  // a white page is not sorted into categories
  } else {
    for (int i = 0; i < kCategoryCount; ++i) StoreResult(bb, kCategoryLists[i].resultKey, false);
    const std::uint32_t categories = active & ~kWhiteBit;
    std::uint32_t listed = 0;  // bit i: hits[i] is not 0 (most pages: none)
    if ((indexedActive & categories) != 0) {
      std::uint32_t holders[ascommon::kCategoryPieceCount];
      shared->index->Holders(probe, homes, holders);
      for (std::size_t p = 0; p < ascommon::kCategoryPieceCount; ++p) {
        const std::uint32_t holding = holders[p] & indexedActive & categories;
        listed |= holding;
        for (std::uint32_t rest = holding; rest != 0; rest &= rest - 1) {
          hits[std::countr_zero(rest)] |= static_cast<std::uint8_t>(1u << p);
        }
      }
    }
    for (std::uint32_t rest = categories & ~indexedActive; rest != 0; rest &= rest - 1) {
      const int i = std::countr_zero(rest);
      lookUpItself(i);
      listed |= static_cast<std::uint32_t>(hits[i] != 0) << i;
    }
    // In list order: the lowest bit first.
    for (std::uint32_t rest = listed; rest != 0; rest &= rest - 1) record(std::countr_zero(rest));
    flag = hits[kPornographyIndex] != 0;
  }
  ext->SetBool(flag, ItemField::kListSummaryFlag, true);
}

}  // namespace nsHttpModules
