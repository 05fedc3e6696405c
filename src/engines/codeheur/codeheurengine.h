// CCodeHeurEngine: the registry of compiled heuristics that rules call by name
// (exec(...) conditions and actions) and that fill KNN features: name -> member function,
// name -> the kind of feature it fills. Built once; read-only afterwards, so any number of
// threads may Call it at once.
#pragma once

#include "common/asmemory.h"
#include "common/map.h"
#include "common/ustring.h"
#include "engines/feature/cafeature.h"

namespace assl {
class CEnginesHandle;
class ContextInterface;
}

class CCodeHeurEngine : public ascommon::CASAllocated {
 public:
  CCodeHeurEngine();  // registers every heuristic in order
  virtual ~CCodeHeurEngine();
  CCodeHeurEngine(const CCodeHeurEngine&) = delete;
  CCodeHeurEngine& operator=(const CCodeHeurEngine&) = delete;

  // Runs the named heuristic; ASException "invalid engines handle" / "invalid context
  // handle" / "A heuristic function is called from the script but has no definition!".
  double Call(const char* name, assl::CEnginesHandle* engines, assl::ContextInterface* context,
               CAFeature* feature) const;
  bool Exists(const char* name) const;
  CAFeatureType GetFeatureType(const char* name) const;

 protected:
  using Heuristic = double (CCodeHeurEngine::*)(assl::CEnginesHandle* engines,
                                                assl::ContextInterface* context,
                                                 CAFeature* feature) const;
  // Message heuristics (heuristics/commonheur.cpp): they read the mail context's headers map
  // and parts tree; only the context handle is checked.
  double pfMailSize(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                    CAFeature* feature) const;
  double pfMailLinesCount(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                          CAFeature* feature) const;
  double pfMailHeadersCount(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                            CAFeature* feature) const;
  double pfMailMessageIDLength(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                               CAFeature* feature) const;
  double pfMailSubjectLength(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                             CAFeature* feature) const;
  double pfMailSubjectSeparatorsCount(assl::CEnginesHandle* engines,
                                      assl::ContextInterface* context,
                                      CAFeature* feature) const;
  double pfMailIsMultipart(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                           CAFeature* feature) const;
  double pfMailPartsCount(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                          CAFeature* feature) const;
  double pfMailSubjectMaxLenWord(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                 CAFeature* feature) const;
  double pfMailIsFromEqualWithReplayto(assl::CEnginesHandle* engines,
                                       assl::ContextInterface* context,
                                       CAFeature* feature) const;
  double pfMailHeaderFromHasAName(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                  CAFeature* feature) const;
  double pfMailHeaderReceivedCount(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                   CAFeature* feature) const;
  double pfMailGetDataFormat(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                             CAFeature* feature) const;
  double pfMailSummary(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                       CAFeature* feature) const;
  double pfMailLinksCount(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                          CAFeature* feature) const;
  double pfMailVoidLinesCount(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                              CAFeature* feature) const;
  double pfMailMaxCountVoidLineConsec(assl::CEnginesHandle* engines,
                                      assl::ContextInterface* context,
                                      CAFeature* feature) const;
  double pfMailVoidLinesCountAtEnd(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                   CAFeature* feature) const;
  double pfMailLinesCountWith1Link(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                   CAFeature* feature) const;
  double pfMailHeaderNonASCIIChars(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                   CAFeature* feature) const;
  // Page heuristics (heuristics/httpheur.cpp): both handles are checked; no feature is filled.
  double FewWordsHeur(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                      CAFeature* feature) const;
  double LongSizeHeur(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                      CAFeature* feature) const;
  // Delivery-path heuristics (heuristics/receivedheur.cpp): 1.0 when the property holds.
  double HasOneRecv(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                    CAFeature* feature) const;
  double IpInHostnameRecv(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                          CAFeature* feature) const;
  double RecvContainsDslLikeWords(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                  CAFeature* feature) const;
  double FirstRecvContainsDslLikeWords(assl::CEnginesHandle* engines,
                                       assl::ContextInterface* context,
                                       CAFeature* feature) const;
  double BlankReturnPath(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                         CAFeature* feature) const;
  double MissingDK(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                   CAFeature* feature) const;
  double FromToDomainsNotInReceived(assl::CEnginesHandle* engines, assl::ContextInterface* context,
                                    CAFeature* feature) const;

 private:
  void Register(const char* name, Heuristic function, const char* functionName,
                CAFeatureType type);

  ascommon::CMap<ascommon::sstring, Heuristic> m_functions;
  ascommon::CMap<ascommon::sstring, CAFeatureType> m_types;
};
