#include "engines/assl/rules/isemptycondition.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/rules/existscondition.h"
#include "engines/assl/rules/matchfinders.h"

namespace assl {

class IsEmptyCondition::PartFinder : public nsEmlComponents::CAPartsTreeListenerR {
 public:
  explicit PartFinder(std::int32_t where) noexcept : m_where(where) {}
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override {
    if (found || node.body == nullptr || !SelectsBody(m_where, node.body->GetType())) return;
    found = BodyText(*node.body, kPartDecoded).wideSize == 0;
  }
  bool found = false;

 private:
  std::int32_t m_where;
};

std::int32_t IsEmptyCondition::SetHeader(const char* header) {
  return AssignUpperName(m_header, header);
}

double IsEmptyCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  switch (m_what) {
    case kHeadersNamed: {
      nsEmlComponents::CHeadersMap* headers = context->GetHeaders();
      if (headers == nullptr) AS_THROW(0, ASException, "invalid pointer to headers map");
      nsEmlComponents::CHeader** header = headers->Lookup(m_header);
      if (header == nullptr || *header == nullptr) {
        AS_TRACE(2, "could not find header with name %s", m_header.c_str());
        return 0.0;
      }
      return (*header)->GetValue().empty() ? 1.0 : 0.0;
    }
    case kPartsAll:
    case kPartsText:
    case kPartsTextPlain:
    case kPartsTextHtml:
      return FindInParts<PartFinder>(context, m_what);
    default:
      AS_THROW(0, ASException, "invalid id to IsEmptyCondition ( %d )", m_what);
  }
}

}  // namespace assl
