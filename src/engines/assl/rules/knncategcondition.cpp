#include "engines/assl/rules/knncategcondition.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"

namespace assl {

void KNNCategCondition::Init(CEnginesHandle* engines) {
  (void)engines;
  AS_TRACE_UNUSED("KNNCategCondition::Init", "hEngines");
}

double KNNCategCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  AS_TRACE(3, "KNN_CATEG_CONDITION Evaluate");
  CheckHandles(engines, context);
  const CKnnResult* result = context->GetKnnResult();
  if (result == nullptr) AS_THROW(0, ASException, "NULL pointer to context");
  if (!result->computed) {
    AS_THROW(0, ASException, "the KNN analyzer is not available to classify the message");
  }
  const bool sameCategory = result->category == m_category;
  return sameCategory && static_cast<float>(result->probability) >= static_cast<float>(m_threshold)
             ? 1.0
             : 0.0;
}

}  // namespace assl
