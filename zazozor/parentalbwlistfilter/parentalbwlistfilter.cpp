// The BW list filter: for each page the domain and then the path piece of its URL are
// looked up, each first in the white list (by site, then exactly) and then in the black
// list (the same two ways); the first hit marks the item. Each piece is hashed once for
// both lists; a lookup is O(1 + URL length) and allocates nothing (the pieces are ranges
// inside the item's URL record).
// Tested by tests/zazozor/bwlistfilter_test.cpp.
#include "parentalbwlistfilter/parentalbwlistfilter.h"

#include <cstring>

#include "config_keys.h"
#include "datapath.h"
#include "itemfields.h"
#include "urlinfo.h"

namespace nsHttpModules {

namespace {

const char kTag[] = "[Parental BW List]";

// A database with its maps built, or null when memory ran out.
ascommon::CURLDB* NewListOrNull() noexcept {
  try {
    return new (std::nothrow) ascommon::CURLDB();
  } catch (const std::exception&) {
    return nullptr;
  }
}

// Marks the item; a failed store is ignored, as the verdict is only advice to the host.
void Mark(ascommon::CBlackBox& bb, std::uint32_t key) noexcept {
  try {
    bb.SetBool(true, key, true);
  } catch (const std::exception&) {
  }
}

}  // namespace

BWListSharedData::~BWListSharedData() {
  delete black;
  delete white;
}

CParentalBWListFilter::CParentalBWListFilter(const ascommon::usstring& name) : CAFilter(name) {
  m_moduleKind = 1;
  AS_TRACE(0, "Constructing Parental BWList Filter with name %S", m_moduleName.c_str());
}

CParentalBWListFilter::~CParentalBWListFilter() {
  AS_TRACE(0, "The Parental BW List Filter with name %S is about to be destructed",
           m_moduleName.c_str());
}

void* CParentalBWListFilter::CreateSessionData() { return ascommon::as_alloc_nt(1); }

void CParentalBWListFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

bool CParentalBWListFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyParentalBWListEnabled, 1);
}

void* CParentalBWListFilter::CreateSharedData() {
  auto* shared = new (std::nothrow) BWListSharedData();
  if (shared == nullptr) return nullptr;
  shared->black_path.assign(u"");
  shared->white_path.assign(u"");
  shared->temp_path.assign(u"");
  shared->black = NewListOrNull();
  shared->white = NewListOrNull();
  return shared;
}

void CParentalBWListFilter::DestroySharedData(void* pData) {
  delete static_cast<BWListSharedData*>(pData);
}

void CParentalBWListFilter::LoadList(ascommon::CURLDB& list, const ascommon::usstring& path,
                                     const ascommon::usstring& tempPath, const char* name,
                                     const char* message) {
  // A reload adds what the file holds to what is loaded: nothing is emptied first, so a
  // damaged or missing file never leaves a list empty, and a site taken off a file stays
  // listed until the process starts again (README, "Taking a site off a list"). A file
  // that fails part-way keeps the records read before the failure, which were valid.
  const std::int32_t status = list.Load(path.c_str(), u"", tempPath.c_str());
  if (status != 0) {
    // The "error loading" line is this failure's trace line: no exception line follows it.
    AS_TRACE(0, "%s error loading the %s list", kTag, name);
    AS_RAISE_CODE(ASException, status, "%s", message);
  }
}

void CParentalBWListFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  auto* shared = static_cast<BWListSharedData*>(m_sharedData);
  if (shared == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid pointer to shared data struct", kTag);
  }
  if (shared->black == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid pointer to black urls", kTag);
  }
  if (shared->white == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid pointer to white urls", kTag);
  }
  const ascommon::usstring dataPath = ReadStringSetting(kKeySharedDataPath);
  shared->temp_path = ReadStringSetting(kKeyGlobalTempPath);
  JoinDataPath(dataPath, kFileBlackList, Separator::kUnlessPresent, shared->black_path);
  JoinDataPath(dataPath, kFileWhiteList, Separator::kUnlessPresent, shared->white_path);
  LoadList(*shared->black, shared->black_path, shared->temp_path, "BLACK",
           "[Parental BW List] Problems loading the URLs, no blacklist?");
  LoadList(*shared->white, shared->white_path, shared->temp_path, "WHITE",
           "[Parental BW List] Problems loading the URLs, no whitelist?");
}

void CParentalBWListFilter::Process(std::uint32_t sessionId, AItem* pItem,
                                    std::uint32_t command) {
  if (!AcceptItem(sessionId, pItem, kTag)) return;
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  auto* shared =
      RequireSharedData<BWListSharedData>("[Parental BW List] invalid shared data struct");
  if (command != FilterCommand::kProcess) {
    AS_TRACE(0, "%s this command is not supported", kTag);
    return;
  }
  ascommon::CBlackBox& bb = pItem->GetBlackBox();
  const ascommon::CParsedURL* url = UrlInfoOf(bb.GetGenericObject(ItemField::kUrlInfo));
  if (url == nullptr) AS_THROW(0, ASBadPtrException, "invalid pointer to the url info");
  // A list that could not be built (out of memory at creation) answers no lookups.
  const ascommon::CURLDB* white = shared->white;
  const ascommon::CURLDB* black = shared->black;
  const ascommon::CURLDB* keys = white != nullptr ? white : black;
  if (keys == nullptr) {
    AS_TRACE(0, "%s dunno url", kTag);
    return;
  }

  struct Candidate {
    const char* text;
    std::size_t length;
  } candidates[2];
  url->GetDomainLower(candidates[0].text, candidates[0].length);
  url->GetPathLower(candidates[1].text, candidates[1].length);

  // Each piece is reduced to its site key and hashed once for both lists. Lookups whose
  // answer is already known are skipped: an exact lookup of a piece that is its own site
  // key, and the site lookups of the path piece when its site key is the domain's (both
  // missed in the domain round, or the filter would have returned). The exact lookup of a
  // piece that is not its own site key can only meet an entry of the same kind, which
  // lists built from sites do not hold (HasOtherEntry). Results and trace lines are those
  // of the full sequence.
  const char* previousKey = nullptr;
  std::size_t previousKeyLength = 0;
  for (const Candidate& c : candidates) {
    if (c.text == nullptr) continue;
    const int n = static_cast<int>(c.length);
    const char* key = nullptr;
    std::size_t keyLength = 0;
    const bool hasKey = keys->FindKey(c.text, c.length, key, keyLength) == 0;
    const bool siteKnownMissing =
        hasKey && previousKey != nullptr && keyLength == previousKeyLength &&
        std::memcmp(key, previousKey, keyLength) == 0;
    const bool exactIsSite = hasKey && key == c.text && keyLength == c.length;
    const bool lookSite = hasKey && !siteKnownMissing;
    // Probes are made only for lookups that can run: packing and hashing a long path
    // piece that no list can hold cost as much as a lookup.
    const bool lookExact = !exactIsSite && ((white != nullptr && white->HoldsOtherEntries()) ||
                                            (black != nullptr && black->HoldsOtherEntries()));
    // Left unset unless made: zeroing two probes cost more than a lookup.
    ascommon::CURLDB::KeyProbe site;
    ascommon::CURLDB::KeyProbe exact;
    if (lookSite) site = ascommon::CURLDB::MakeProbe(key, keyLength);
    if (lookExact) exact = ascommon::CURLDB::MakeProbe(c.text, c.length);
    if (hasKey) {
      previousKey = key;
      previousKeyLength = keyLength;
    }

    // White before black; in each list the site lookup before the exact one.
    const struct {
      const ascommon::CURLDB* list;
      const char* name;
      std::uint32_t key;
    } lists[] = {{white, "white", ItemField::kWhiteListHit},
                 {black, "black", ItemField::kBlackListHit}};
    for (const auto& l : lists) {
      AS_TRACE(0, "%s url to lookup: %.*s", kTag, n, c.text);
      if (l.list == nullptr) continue;
      if (lookSite && l.list->HasEntry(site)) {
        AS_TRACE(0, "%s %s url domain", kTag, l.name);
        Mark(bb, l.key);
        return;
      }
      if (lookExact && l.list->HasOtherEntry(exact)) {
        AS_TRACE(0, "%s %s url", kTag, l.name);
        Mark(bb, l.key);
        return;
      }
    }
  }
  AS_TRACE(0, "%s dunno url", kTag);
}

}  // namespace nsHttpModules
