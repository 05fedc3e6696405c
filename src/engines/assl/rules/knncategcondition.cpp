// is_knn_categ: the mail context's cached KNN answer, computed by the first condition that
// asks (FillFeatureSet over the history's definitions, then the analyzer); later conditions
// on the same context only compare. Tested by tests/engines/knn2/condition_test.cpp.
#include "engines/assl/rules/knncategcondition.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/exec_structs.h"
#include "engines/feature/fsutils.h"
#include "engines/knn2/knnengine.h"

namespace assl {

void KNNCategCondition::Init(CEnginesHandle* engines) {
  (void)engines;
  AS_TRACE_UNUSED("KNNCategCondition::Init", "hEngines");
}

double KNNCategCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  AS_TRACE(3, "KNN_CATEG_CONDITION Evaluate");
  CheckHandles(engines, context);
  CKnnResult* result = context->GetKnnResult();
  if (result == nullptr) AS_THROW(0, ASException, "NULL pointer to context");
  if (!result->computed) {
    CAHistory* history = engines->GetKnnHistory();
    if (history == nullptr) return 0.0;
    CKNNAnalyzer* analyzer = engines->GetKnnAnalyzer();
    if (analyzer == nullptr) AS_THROW(0, ASException, "NULL pointer to knn engine");
    CFeatureSet features;
    FillFeatureSet(features, *history, engines, context);
    ascommon::sstring category;
    float probability = 0.0f;
    analyzer->Analyze(features, category, probability);
    if (result->category.assign(category) != 0) AS_THROW(0, ASMemException, "memory problems");
    result->probability = probability;
    result->computed = true;
  }
  const bool sameCategory = result->category == m_category;
  return sameCategory && static_cast<float>(result->probability) >= static_cast<float>(m_threshold)
             ? 1.0
             : 0.0;
}

}  // namespace assl
