// KNNCategCondition: `is_knn_categ("category", threshold)`: holds when the KNN analyzer
// places the message in the category with a probability of at least threshold percent. The
// answer is cached in the mail context (one analysis per message); an HTTP context has no
// such cache and the condition throws "NULL pointer to context".
// Owns its category name; immutable once built: safe for concurrent readers.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/acondition.h"

namespace assl {

class KNNCategCondition : public ACondition {
 public:
  explicit KNNCategCondition(std::int32_t threshold) noexcept
      : ACondition(kCondKnnCateg), m_threshold(threshold) {}
  // 0, or -2 when the copy cannot be allocated.
  std::int32_t SetCategory(const char* category) { return m_category.assign(category); }

  // Uses nothing of the engines ("Unused param" notice).
  void Init(CEnginesHandle* engines) override;
  // 1.0 when the context's KNN answer is the category with at least the threshold. The
  // first call on a context measures the item's features and runs the engines' analyzer,
  // caching the answer in the context; 0.0 without a KNN history. ASException "NULL pointer
  // to context" (no cache: not a mail context), "NULL pointer to knn engine"; the errors of
  // FillFeatureSet and Analyze pass through.
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  ascommon::sstring m_category;
  std::int32_t m_threshold;
};

}  // namespace assl
