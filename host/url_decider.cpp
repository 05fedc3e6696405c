// The list filters over one URL with a reused item: see url_decider.h. Tested through
// tests/host/urls_test.cpp and tests/host/squid_helper_test.cpp.
#include "url_decider.h"

#include <bit>

#include "itemfields.h"
#include "parentalbwlistadvancedfilter/categories.h"

namespace zzhost {

using nsHttpModules::ItemField::kUrlInfo;

ListFilters ActiveListFilters(CModuleHost& host, std::uint32_t session) {
  auto active = [&](std::u16string_view name) -> CAFilter* {
    HostedFilter* hosted = host.FindFilter(name);
    return hosted != nullptr && hosted->IsActive(session) ? hosted->filter : nullptr;
  };
  return {active(kBWListFilterName), active(kAdvancedFilterName)};
}

ListVerdicts CUrlDecider::Decide(std::string_view url, const ListFilters& filters,
                                 std::uint32_t session, bool* parsed) {
  ascommon::CBlackBox& bb = m_item.GetBlackBox();
  // The list filters read the URL information only (the URL's text, which the host also
  // gives whole pages, is left out: converting it cost a seventh of the run). A URL the
  // parser refuses still gets an item; the filters then report it themselves.
  const bool ok = m_parsed.ParseURL(url.data(), url.size()) == 0;
  if (!EmptyItem(ok) && ok) bb.SetGenericObject(kUrlInfo, &m_parsed);
  if (parsed != nullptr) *parsed = ok;
  for (CAFilter* filter : {filters.bwlist, filters.advanced}) {
    if (filter == nullptr) continue;
    CModuleHost::Call("Process", [&] { filter->Process(session, &m_item, 0); });
  }
  KeepResults(filters.advanced != nullptr);
  const ListVerdicts verdicts = ReadListVerdicts(bb, m_ext, filters.advanced != nullptr);
  m_hitLists = verdicts.categoryBits;
  return verdicts;
}

// Between URLs the item and bbext lose what the filters wrote, except what the advanced
// filter writes again on every URL: its 18 result keys in the item, which always hold 0
// there, and its flag in bbext. Its stores then replace values in place instead of making
// 19 new entries per URL (half of its cost). When the white list hits it writes only the
// white list's result key into the item, so the others are dropped after it ran
// (KeepResults). The URL information stays too while it still points to the parse record,
// which the next URL is parsed into. Keys are removed one by one: RemoveAll walks every
// bucket twice.
bool CUrlDecider::EmptyItem(bool keepUrl) {
  ascommon::CBlackBox& bb = m_item.GetBlackBox();
  bool urlKept = keepUrl && bb.GetGenericObject(kUrlInfo) == &m_parsed;
  if (!urlKept) bb.RemoveObject(kUrlInfo);
  bb.RemoveObject(nsHttpModules::ItemField::kWhiteListHit);
  bb.RemoveObject(nsHttpModules::ItemField::kBlackListHit);
  const bool allKept = bb.GetCount() == m_keptInItem + (urlKept ? 1u : 0u);
  if (!allKept) {  // something else was written
    bb.RemoveAll();
    urlKept = false;
  }
  m_allResultsThere = allKept && m_keptInItem == nsHttpModules::kListCount;
  m_countAfterEmpty = bb.GetCount();
  // The hits the verdicts showed; anything else there is caught by the count.
  for (std::uint32_t rest = m_hitLists; rest != 0; rest &= rest - 1) {
    m_ext.RemoveObject(nsHttpModules::kCategoryLists[std::countr_zero(rest)].resultKey);
  }
  m_hitLists = 0;
  if (m_ext.GetCount() != m_keptInExt) m_ext.RemoveAll();
  return urlKept;
}

void CUrlDecider::KeepResults(bool advancedRan) {
  m_keptInItem = m_keptInExt = 0;
  if (!advancedRan) return;
  ascommon::CBlackBox& bb = m_item.GetBlackBox();
  m_keptInExt = m_ext.GetKind(nsHttpModules::ItemField::kListSummaryFlag) != 0;
  if (m_ext.GetKind(nsHttpModules::kCategoryLists[nsHttpModules::kWhiteListIndex].resultKey) !=
      0) {
    for (int i = 0; i < nsHttpModules::kCategoryCount; ++i) {
      bb.RemoveObject(nsHttpModules::kCategoryLists[i].resultKey);
    }
  } else if (m_allResultsThere) {
    // The list filters add keys and never remove one: when the item grew by no more than
    // the list filter's hit, every result key is still there and nothing else came in.
    const std::uint32_t hits = (bb.GetKind(nsHttpModules::ItemField::kWhiteListHit) != 0) +
                               (bb.GetKind(nsHttpModules::ItemField::kBlackListHit) != 0);
    if (bb.GetCount() == m_countAfterEmpty + hits) {
      m_keptInItem = nsHttpModules::kListCount;
      return;
    }
  }
  for (const nsHttpModules::CategoryList& list : nsHttpModules::kCategoryLists) {
    m_keptInItem += bb.GetKind(list.resultKey) != 0;
  }
}

}  // namespace zzhost
