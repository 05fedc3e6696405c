#include "engines/assl/rules/existscondition.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/rules/matchfinders.h"

namespace assl {

class ExistsCondition::PartFinder : public nsEmlComponents::CAPartsTreeListenerR {
 public:
  explicit PartFinder(std::int32_t where) noexcept : m_where(where) {}
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override {
    if (!found && node.body != nullptr) found = SelectsBody(m_where, node.body->GetType());
  }
  bool found = false;

 private:
  std::int32_t m_where;
};

std::int32_t AssignUpperName(ascommon::sstring& target, const char* name) {
  const std::int32_t status = target.assign(name);
  for (std::size_t i = 0; status == 0 && i < target.length(); ++i) {
    char& ch = target.data()[i];
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return status;
}

std::int32_t ExistsCondition::SetTexts(const char* header, const char* collection) {
  const std::int32_t status = AssignUpperName(m_header, header);
  return status != 0 ? status : AssignUpperName(m_collection, collection);
}

void ExistsCondition::Init(CEnginesHandle* engines) {
  (void)engines;
  if (m_what == kHeadersCollection && m_collection.is_null()) {
    AS_THROW(0, ASException, "error: missing extra info with Headers::Collection in exists condition");
  }
}

double ExistsCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  switch (m_what) {
    case kHeadersNamed:
    case kHeadersCollection: {
      nsEmlComponents::CHeadersMap* headers = context->GetHeaders();
      if (headers == nullptr) AS_THROW(0, ASException, "invalid pointer to headers map");
      const ascommon::sstring& name = m_what == kHeadersNamed ? m_header : m_collection;
      return headers->Lookup(name) != nullptr ? 1.0 : 0.0;
    }
    case kPartsAll:
    case kPartsText:
    case kPartsTextPlain:
    case kPartsTextHtml:
      return FindInParts<PartFinder>(context, m_what);
    default:
      AS_THROW(0, ASException, "invalid id to ExistsCondition ( %d )", m_what);
  }
}

}  // namespace assl
