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
  // (the heuristics: protected members, one per registered name)

 private:
  ascommon::CMap<ascommon::sstring, Heuristic> m_functions;
  ascommon::CMap<ascommon::sstring, CAFeatureType> m_types;
};
