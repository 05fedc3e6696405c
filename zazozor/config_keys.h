// Configuration keys the filters read through CASettings, and the data file names they use.
// Compile-time constants, safe from any thread.
#pragma once

namespace nsHttpModules {

inline constexpr char16_t kKeySharedDataPath[] = u"/http/global/SharedDataPath";
inline constexpr char16_t kKeyGlobalTempPath[] = u"/http/global/GlobalTempPath";
inline constexpr char16_t kKeySharedLibsPath[] = u"/http/global/SharedLibsPath";
inline constexpr char16_t kKeyAllParentalFiltersEnabled[] =
    u"/http/global/AllParentalFiltersEnabled";
inline constexpr char16_t kKeyBayesEnabled[] = u"/http/filter/bayes/Enabled";
inline constexpr char16_t kKeyParentalBWListEnabled[] = u"/http/filter/parentalbwlist/Enabled";
inline constexpr char16_t kKeyParentalBWListAdvancedEnabled[] =
    u"/http/filter/parentalbwlistadvanced/Enabled";
// Prefix of the per-session category switches of the advanced list filter.
inline constexpr char16_t kKeyCategoryPrefix[] = u"/http/filter/parentalbwlist/";

inline constexpr char16_t kFileBlackList[] = u"prlblk.cas";
inline constexpr char16_t kFileWhiteList[] = u"prlwht.cas";
inline constexpr char16_t kFileBayesDictionary[] = u"pcdic.dat";
inline constexpr char16_t kFileBayesFallbackDictionary[] = u"bayescsf.dat";
inline constexpr char16_t kFileSignatures[] = u"pc_sign.slf";

}  // namespace nsHttpModules
