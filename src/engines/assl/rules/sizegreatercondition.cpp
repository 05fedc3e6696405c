#include "engines/assl/rules/sizegreatercondition.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/htmlparser/structs/bbfacilitator.h"

namespace assl {

class SizeGreaterCondition::CAPartsSizeChecker : public nsEmlComponents::CAPartsTreeListenerR {
 public:
  explicit CAPartsSizeChecker(std::uint32_t size) noexcept : m_size(size) {}
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override {
    if (found || node.FindHeader("CONTENT-DISPOSITION") == nullptr) return;
    found = node.body != nullptr && node.body->size > m_size;
  }
  bool found = false;

 private:
  std::uint32_t m_size;
};

double SizeGreaterCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  if (m_ofWhat != kMessageTotalSize && m_ofWhat != kMessageAnyAttachmentSize) {
    AS_THROW(0, ASException, "Invalid OfWhat");
  }
  if (m_size < 0) AS_THROW(0, ASException, "Invalid SizeValue");
  const CBBFacilitator* facilitator = context->GetFacilitator();
  if (facilitator == nullptr) {
    AS_THROW(0, ASException, "invalid reference to blackbox facilitator");
  }
  const auto size = static_cast<std::uint32_t>(m_size);
  if (m_ofWhat == kMessageTotalSize) return facilitator->GetTotalSize() > size ? 1.0 : 0.0;
  const nsEmlComponents::CPartsTree* tree = facilitator->GetPartsTree();
  if (tree == nullptr) AS_THROW(0, ASException, "invalid pointer to parts tree");
  CAPartsSizeChecker checker(size);
  tree->Visit(checker);
  return checker.found ? 1.0 : 0.0;
}

}  // namespace assl
