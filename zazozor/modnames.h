// Display names of the host framework's HTTP modules. The factory serves four of them; the
// others are declared so that every module of the framework spells them the same way.
// Built once at module load, read-only afterwards (safe from any thread).
#pragma once

#include "common/ustring.h"

namespace nsHttpModules {

extern const ascommon::usstring g_strHttpBreaker;
extern const ascommon::usstring g_strHttpParentalBayesianFilter;
extern const ascommon::usstring g_strHttpParentalBWListFilter;
extern const ascommon::usstring g_strHttpParentalBWListAdvancedFilter;
extern const ascommon::usstring g_strHttpParentalSignaturesFilter;
extern const ascommon::usstring g_strHttpAdBlockerBlackListFilter;
extern const ascommon::usstring g_strHttpWebSafeFilter;
extern const ascommon::usstring g_strHttpAntiphishingBWFilter;
extern const ascommon::usstring g_strHttpAntiphishingSignaturesFilter;
extern const ascommon::usstring g_strHttpAntiphishingForgeryFilter;
extern const ascommon::usstring g_strHttpAntiphishingDinamicWhitelistFilter;
extern const ascommon::usstring g_strHttpAntiphishingFuzzyHashFilter;
extern const ascommon::usstring g_strHttpAntipharmingFilter;
extern const ascommon::usstring g_strHttpSocialNetworksFilter;
extern const ascommon::usstring g_strHttpDispatcher;
extern const ascommon::usstring g_strHttpPerformer;
extern const ascommon::usstring g_strHttpStreamer;
extern const ascommon::usstring g_strHttpRtsrModule;
extern const ascommon::usstring g_strHttpRBLFilter;

}  // namespace nsHttpModules
