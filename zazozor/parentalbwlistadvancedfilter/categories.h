// The advanced list filter's lists: seventeen categories and the white list, in the order
// the filter walks them. Index i keeps its data file, its result key 10100 + i and, for the
// categories, the ending of its per-session enable key.
#pragma once

#include <cstdint>

namespace nsHttpModules {

struct CategoryList {
  const char16_t* enableKeyEnding;  // null for the white list
  const char* traceName;
  const char* loadName;
  const char16_t* dataFile;
  std::uint32_t resultKey;
};

inline constexpr int kCategoryCount = 17;   // indexes 0..16
inline constexpr int kWhiteListIndex = 17;
inline constexpr int kListCount = 18;
inline constexpr int kPornographyIndex = 16;
// Session block: one enable byte per category, then the "settings loaded" byte.
inline constexpr int kSessionBlockSize = 18;

inline constexpr CategoryList kCategoryLists[kListCount] = {
    {u"WebProxyEnabled", "Web Proxy", "Web Proxy", u"pc_webproxy.dat", 10100},
    {u"GamesEnabled", "Games", "Games", u"pc_games.dat", 10101},
    {u"TabloidsEnabled", "Tabloids", "Tabloids", u"pc_tabloids.dat", 10102},
    {u"HateEnabled", "Hate", "Hate", u"pc_hate.dat", 10103},
    {u"GamblingEnabled", "Gambling", "Gambling", u"pc_gambling.dat", 10104},
    {u"DrugsEnabled", "Drugs", "Drugs", u"pc_drugs.dat", 10105},
    {u"IllegalEnabled", "Illegal", "Illegal", u"pc_illegal.dat", 10106},
    {u"OnlineShopEnabled", "Online Shop", "OnlineShop", u"pc_onlineshop.dat", 10107},
    {u"OnlinePayEnabled", "Online Pay", "OnlinePay", u"pc_onlinepay.dat", 10108},
    {u"VideoEnabled", "Video", "Video", u"pc_video.dat", 10109},
    {u"SocialNetworksEnabled", "Social Networks", "SocialNetworks", u"pc_socialnetworks.dat",
     10110},
    // Online dating has no switch of its own: it follows the regional-TLD switch.
    {u"RegionalTLDSEnabled", "Online Dating", "OnlineDating", u"pc_onlinedating.dat", 10111},
    {u"IMEnabled", "IM", "IM", u"pc_im.dat", 10112},
    {u"SearchEnginesEnabled", "Search Engines", "SearchEngines", u"pc_searchengines.dat", 10113},
    {u"RegionalTLDSEnabled", "Regional TLDS", "RegionalTLDS", u"pc_regionaltlds.dat", 10114},
    {u"NewsEnabled", "News", "News", u"pc_news.dat", 10115},
    {u"PornographyEnabled", "Pornography", "Pornography", u"pc_pornography.dat", 10116},
    {nullptr, "White", "WhiteList", u"pc_white.dat", 10117},
};

}  // namespace nsHttpModules
