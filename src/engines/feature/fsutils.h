// FillFeatureSet: measures one item's features as the KNN history's feature definitions
// prescribe (each by an ASSL expression or by a named code heuristic) and appends them to a
// feature set. IFeatureDefinitions is the view of those definitions it needs.
// Threads: one call per context; the engines are only read.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/feature/featureset.h"

namespace assl {
class CEnginesHandle;
class ContextInterface;
}  // namespace assl

// How a defined feature is measured.
enum FeatureSource : std::uint32_t {
  kSourceUnset = 0,
  kSourceAsslExpression = 1,  // the name is an ASSL expression, its value truncated
  kSourceHeuristic = 2,       // the name is a registered code heuristic
};

// The feature definitions (implemented by the KNN history). Each accessor throws when the
// index is out of range or the definition cannot be read.
class IFeatureDefinitions {
 public:
  virtual ~IFeatureDefinitions() = default;
  virtual std::uint32_t GetFeatureCount() const = 0;
  virtual const ascommon::sstring& GetFeatureName(std::uint32_t index) const = 0;
  virtual std::uint32_t GetSourceKind(std::uint32_t index) const = 0;
  // Applies the definition's normalisation to a freshly measured feature.
  virtual void ApplyNormalization(std::uint32_t index, CAFeature& feature) const = 0;
};

// Appends one feature per definition, in order. ASException "invalid context handle",
// "invalid engines handle", "NULL pointer to ASSL engine", "Internal error" (unreadable name,
// or a heuristic that fills no feature), "FeatureType is not setted", "unknown featuretype or
// is not setted"; the exceptions of the expression, heuristic and normalisation pass through.
void FillFeatureSet(CFeatureSet& set, const IFeatureDefinitions& definitions,
                    assl::CEnginesHandle* engines, assl::ContextInterface* context);
