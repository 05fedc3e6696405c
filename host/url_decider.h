// CUrlDecider: runs the module's list filters over one URL at a time and reads their
// verdicts, as "urls" and the Squid helper do for every request.
//
// One decider per thread: it owns an item (and its bbext) that carries every URL in turn,
// emptied between URLs so its tables are built once. The filters are the host's (not owned)
// and may be shared by deciders on many threads; the host must outlive every decider.
// ListFilters names the list filters active for one session (null when not active).
#pragma once

#include <cstdint>
#include <string_view>

#include "afilter.h"
#include "aitem.h"
#include "common/blackbox.h"
#include "common/urlutils.h"
#include "module_host.h"
#include "verdicts.h"

namespace zzhost {

// Display names of the two list filters.
inline constexpr std::u16string_view kBWListFilterName = u"Http Parental BWList Filter";
inline constexpr std::u16string_view kAdvancedFilterName = u"Http Parental BWList Advanced Filter";
inline constexpr std::u16string_view kListFilterNames[] = {kBWListFilterName, kAdvancedFilterName};

struct ListFilters {
  CAFilter* bwlist = nullptr;    // Not owned; null when not active for the session
  CAFilter* advanced = nullptr;  // Not owned; null when not active for the session
};

// The list filters of host active for the session (open on it).
ListFilters ActiveListFilters(CModuleHost& host, std::uint32_t session);

class CUrlDecider {
 public:
  CUrlDecider() : m_item(&m_ext) {}
  CUrlDecider(const CUrlDecider&) = delete;
  CUrlDecider& operator=(const CUrlDecider&) = delete;

  // Runs the filters over url for the session and returns their verdicts. parsed tells
  // whether the URL parser took the URL (the filters still run; they see no address).
  // Whatever a filter raises leaves as HostError.
  ListVerdicts Decide(std::string_view url, const ListFilters& filters, std::uint32_t session,
                      bool* parsed = nullptr);
  // The parse record of the last URL decided (valid when it parsed).
  const ascommon::CParsedURL& LastUrl() const { return m_parsed; }

 private:
  // Empties the item for the next URL; keepUrl leaves the URL information in place when it
  // still points to the parse record. Returns whether it was left.
  bool EmptyItem(bool keepUrl);
  void KeepResults(bool advancedRan);

  ascommon::CBlackBox m_ext;
  AItem m_item;
  ascommon::CParsedURL m_parsed;
  std::uint32_t m_keptInItem = 0;  // result keys left in the item by KeepResults
  std::uint32_t m_keptInExt = 0;   // 1 when the flag was left in bbext
  std::uint32_t m_countAfterEmpty = 0;  // keys in the item when the filters started
  bool m_allResultsThere = false;  // every result key was in the item when they started
  std::uint32_t m_hitLists = 0;  // bit i: list i's result key is in bbext (the last verdicts)
};

}  // namespace zzhost
