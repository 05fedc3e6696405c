// FillFeatureSet: one feature per definition, measured through the rule engine or the code
// heuristics engine. Tested by tests/engines/feature/feature_test.cpp.
#include "engines/feature/fsutils.h"

#include <cmath>
#include <memory>

#include "common/astrace.h"
#include "engines/assl/assl.h"
#include "engines/assl/exec_structs.h"
#include "engines/codeheur/codeheurengine.h"
#include "engines/feature/intfeature.h"
#include "engines/feature/summaryfeature.h"

namespace {

// Truncation toward zero, held inside the 32-bit range (NaN gives 0).
std::int32_t TruncateToInt(double value) noexcept {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return 2147483647;
  if (value <= -2147483648.0) return -2147483647 - 1;
  return static_cast<std::int32_t>(std::trunc(value));
}

CAFeature* MeasureHeuristic(const char* name, assl::CEnginesHandle* engines,
                            assl::ContextInterface* context) {
  const CCodeHeurEngine* heuristics = engines->GetCodeHeurEngine();
  if (heuristics == nullptr) AS_THROW(0, ASException, "invalid handle to code heur engine");
  std::unique_ptr<CAFeature> feature;
  switch (heuristics->GetFeatureType(name)) {
    case kFeatureInt: feature.reset(new CIntFeature()); break;
    case kFeatureUString: feature.reset(new CUStringFeature()); break;
    case kFeatureSummary: feature.reset(new CSummaryFeature()); break;
    default: AS_THROW(0, ASException, "Internal error");
  }
  heuristics->Call(name, engines, context, feature.get());
  return feature.release();
}

}  // namespace

void FillFeatureSet(CFeatureSet& set, const IFeatureDefinitions& definitions,
                    assl::CEnginesHandle* engines, assl::ContextInterface* context) {
  if (context == nullptr) AS_THROW(0, ASException, "invalid context handle");
  if (engines == nullptr) AS_THROW(0, ASException, "invalid engines handle");
  const assl::ASSL* engine = engines->GetAssl();
  if (engine == nullptr) AS_THROW(0, ASException, "NULL pointer to ASSL engine");

  const std::uint32_t count = definitions.GetFeatureCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    const char* name = nullptr;
    std::uint32_t source = kSourceUnset;
    try {
      name = definitions.GetFeatureName(i).c_str();
    } catch (...) {
      AS_THROW(0, ASException, "Internal error");
    }
    if (name == nullptr) AS_THROW(0, ASException, "Internal error");
    try {
      source = definitions.GetSourceKind(i);
    } catch (...) {
      AS_THROW(0, ASException, "FeatureType is not setted");
    }

    std::unique_ptr<CAFeature> feature;
    if (source == kSourceAsslExpression) {
      feature.reset(new CIntFeature(
          TruncateToInt(engine->EvaluateExpressionText(name, engines, context))));
    } else if (source == kSourceHeuristic) {
      feature.reset(MeasureHeuristic(name, engines, context));
      definitions.ApplyNormalization(i, *feature);
    } else {
      AS_THROW(0, ASException, "unknown featuretype or is not setted");
    }
    if (set.AddFeature(feature.get()) != 0) AS_THROW(0, ASMemException, "memory problems");
    feature.release();
  }
}
