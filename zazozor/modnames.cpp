#include "modnames.h"

namespace nsHttpModules {

const ascommon::usstring g_strHttpBreaker(u"Http Breaker");
const ascommon::usstring g_strHttpParentalBayesianFilter(u"Http Parental Bayesian Filter");
const ascommon::usstring g_strHttpParentalBWListFilter(u"Http Parental BWList Filter");
const ascommon::usstring g_strHttpParentalBWListAdvancedFilter(
    u"Http Parental BWList Advanced Filter");
const ascommon::usstring g_strHttpParentalSignaturesFilter(u"Http Parental Signatures Filter");
const ascommon::usstring g_strHttpAdBlockerBlackListFilter(u"Http Ad Blocker Black List Filter");
const ascommon::usstring g_strHttpWebSafeFilter(u"Http Web Safe Filter");
const ascommon::usstring g_strHttpAntiphishingBWFilter(u"Http Antiphishing BW Filter");
const ascommon::usstring g_strHttpAntiphishingSignaturesFilter(
    u"Http Antiphishing Signatures Filter");
const ascommon::usstring g_strHttpAntiphishingForgeryFilter(u"Http Antiphishing Forgery Filter");
const ascommon::usstring g_strHttpAntiphishingDinamicWhitelistFilter(
    u"Http Antiphishing Dinamic Whitelist Filter");
const ascommon::usstring g_strHttpAntiphishingFuzzyHashFilter(
    u"Http Antiphishing Fuzzy Hash Filter");
const ascommon::usstring g_strHttpAntipharmingFilter(u"Http Antipharming Filter");
const ascommon::usstring g_strHttpSocialNetworksFilter(u"HTTP Social Networks Filter");
const ascommon::usstring g_strHttpDispatcher(u"Http Dispatcher");
const ascommon::usstring g_strHttpPerformer(u"Http Performer");
const ascommon::usstring g_strHttpStreamer(u"Http Streamer");
const ascommon::usstring g_strHttpRtsrModule(u"Http Rtsr Module");
const ascommon::usstring g_strHttpRBLFilter(u"Http RBL Filter");

}  // namespace nsHttpModules
