// The mail context: Init binds the facilitator; the accessors hand out what it built.
// Cost: the first Init of an item parses its message (MIME parsing, O(message)); later
// contexts over the same item find the parsed message in its blackbox.
#include "engines/assl/emlcontextif.h"

#include <new>

#include "aitem.h"
#include "common/astrace.h"
#include "engines/mimeparser/mimefacilitator.h"

namespace assl {

CEmlContextInterface::CEmlContextInterface(
    const ascommon::CStringConversion* converter) noexcept
    : m_converter(converter) {}

CEmlContextInterface::~CEmlContextInterface() = default;

CBBFacilitator* CEmlContextInterface::GetFacilitator() noexcept { return m_facilitator.get(); }

void CEmlContextInterface::Init(AItem* item) {
  if (item == nullptr) AS_THROW(0, ASBadPtrException, "invalid pitem input");
  m_headers = nullptr;
  m_tree = nullptr;
  m_dirty = false;
  m_knn = CKnnResult();
  m_facilitator.reset(new (std::nothrow) mimeparser::CMimeFacilitator(m_converter));
  if (m_facilitator == nullptr) AS_THROW(0, ASMemException, "could not alloc facilitator");
  const std::int32_t status = m_facilitator->Bind(item->GetBlackBox());
  if (status == -2) AS_THROW(0, ASMemException, "could not alloc facilitator");
  if (status == 0) {
    m_headers = m_facilitator->GetHeaders();
    m_tree = m_facilitator->GetPartsTree();
  }
  if (m_headers == nullptr || m_tree == nullptr) {
    AS_THROW(0, ASException, "invalid black box - could not get headers and parts!");
  }
}

}  // namespace assl
