// CCodeHeurEngine: the registry of heuristics by name, and the call through it.
// Lookups are O(1) hash probes of the name. Tested by tests/engines/codeheur/codeheur_test.cpp.
#include "engines/codeheur/codeheurengine.h"

#include "common/astrace.h"

namespace {
// Buckets of both maps: about one per registered heuristic.
constexpr std::uint32_t kBuckets = 31;
}  // namespace

#define ZZ_REGISTER(name, function, type) \
  Register(name, &CCodeHeurEngine::function, #function, type)

CCodeHeurEngine::CCodeHeurEngine() {
  if (m_functions.InitHashTable(kBuckets) != 0 || m_types.InitHashTable(kBuckets) != 0)
    AS_THROW(0, ASMemException, "memory problems");
  ZZ_REGISTER("H_MAIL_SIZE", pfMailSize, kFeatureInt);
  ZZ_REGISTER("H_MAIL_LINES_COUNT", pfMailLinesCount, kFeatureInt);
  ZZ_REGISTER("H_MAIL_HEADERS_COUNT", pfMailHeadersCount, kFeatureInt);
  ZZ_REGISTER("H_MAIL_HEADER_MESSAGEID_LENGTH", pfMailMessageIDLength, kFeatureInt);
  ZZ_REGISTER("H_MAIL_HEADER_SUBJECT_LENGTH", pfMailSubjectLength, kFeatureInt);
  ZZ_REGISTER("H_MAIL_SUBJECT_SEPARATORS_COUNT", pfMailSubjectSeparatorsCount, kFeatureInt);
  ZZ_REGISTER("H_MAIL_IS_MULTIPART", pfMailIsMultipart, kFeatureInt);
  ZZ_REGISTER("H_MAIL_PARTS_COUNT", pfMailPartsCount, kFeatureInt);
  ZZ_REGISTER("H_MAIL_SUBJECT_MAX_LEN_WORD", pfMailSubjectMaxLenWord, kFeatureInt);
  ZZ_REGISTER("H_MAIL_HEADER_FROM_IS_EQUAL_WITH_REPLAYTO", pfMailIsFromEqualWithReplayto,
              kFeatureInt);
  ZZ_REGISTER("H_MAIL_HEADER_FROM_HAS_A_NAME", pfMailHeaderFromHasAName, kFeatureInt);
  ZZ_REGISTER("H_MAIL_HEADER_RECEIVED_COUNT", pfMailHeaderReceivedCount, kFeatureInt);
  ZZ_REGISTER("H_MAIL_HEADER_DATE_FORMAT", pfMailGetDataFormat, kFeatureUString);
  ZZ_REGISTER("H_MAIL_HEADER_SUMMARY", pfMailSummary, kFeatureSummary);
  ZZ_REGISTER("H_MAIL_LINKS_COUNT", pfMailLinksCount, kFeatureInt);
  ZZ_REGISTER("H_MAIL_VOID_LINES_COUNT", pfMailVoidLinesCount, kFeatureInt);
  ZZ_REGISTER("H_MAIL_MAX_COUNT_VOID_LINES_CONSEC", pfMailMaxCountVoidLineConsec, kFeatureInt);
  ZZ_REGISTER("H_MAIL_VOID_LINES_COUNT_AT_END", pfMailVoidLinesCountAtEnd, kFeatureInt);
  ZZ_REGISTER("H_MAIL_LINES_COUNT_WITH_1_LINK", pfMailLinesCountWith1Link, kFeatureInt);
  ZZ_REGISTER("H_FEW_WORDS", FewWordsHeur, kFeatureNone);
  ZZ_REGISTER("H_LONG_SIZE", LongSizeHeur, kFeatureNone);
  ZZ_REGISTER("H_HAS_ONE_RECV", HasOneRecv, kFeatureNone);
  ZZ_REGISTER("H_IP_IN_HOSTNAME_RECV", IpInHostnameRecv, kFeatureNone);
  ZZ_REGISTER("H_RECV_CONTAINS_DSL_LIKE_WORDS", RecvContainsDslLikeWords, kFeatureNone);
  ZZ_REGISTER("H_MAIL_HEADER_NON_ASCII_CHARS", pfMailHeaderNonASCIIChars, kFeatureInt);
  ZZ_REGISTER("H_RETPATH_EMPTY", BlankReturnPath, kFeatureNone);
  ZZ_REGISTER("H_YAHOO_AND_GMAIL_NO_DOMAIN_KEY", MissingDK, kFeatureNone);
  ZZ_REGISTER("H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED", FromToDomainsNotInReceived, kFeatureNone);
  ZZ_REGISTER("H_FIRST_RECV_CONTAINS_DSL_LIKE_WORDS", FirstRecvContainsDslLikeWords,
              kFeatureNone);
}

#undef ZZ_REGISTER

CCodeHeurEngine::~CCodeHeurEngine() = default;

void CCodeHeurEngine::Register(const char* name, Heuristic function, const char* functionName,
                               CAFeatureType type) {
  const ascommon::sstring key(name);
  if (key.status() != 0 || m_functions.SetAt(key, function) != 0 ||
      m_types.SetAt(key, type) != 0)
    AS_THROW(0, ASMemException, "memory problems");
  AS_TRACE(3, "Rule [%s] bound to function [%s]", name, functionName);
}

double CCodeHeurEngine::Call(const char* name, assl::CEnginesHandle* engines,
                             assl::ContextInterface* context, CAFeature* feature) const {
  if (engines == nullptr) AS_THROW(0, ASException, "invalid engines handle");
  if (context == nullptr) AS_THROW(0, ASException, "invalid context handle");
  const Heuristic* function =
      name != nullptr ? m_functions.Lookup(ascommon::sstring(name)) : nullptr;
  if (function == nullptr) {
    AS_THROW(0, ASException,
             "A heuristic function is called from the script but has no definition!");
  }
  return (this->**function)(engines, context, feature);
}

bool CCodeHeurEngine::Exists(const char* name) const {
  return name != nullptr && m_functions.Lookup(ascommon::sstring(name)) != nullptr;
}

CAFeatureType CCodeHeurEngine::GetFeatureType(const char* name) const {
  const CAFeatureType* type =
      name != nullptr ? m_types.Lookup(ascommon::sstring(name)) : nullptr;
  return type != nullptr ? *type : kFeatureNone;
}
