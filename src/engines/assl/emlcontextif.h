// CEmlContextInterface: the rule context over one mail item. Init builds the MIME
// facilitator over the item's blackbox (which parses the raw message on first use and keeps
// the headers map and parts tree in the blackbox) and takes the headers map and the parts
// tree from it. The context holds the dirty flag that the header actions set, and the KNN
// answer, computed at most once per item.
//
// Ownership: the item and its blackbox must outlive the context; the context owns its
// facilitator; the charset converter is borrowed. Threads: one thread per context.
#pragma once

#include <memory>

#include "engines/assl/acontextif.h"

namespace ascommon {
class CStringConversion;
}
namespace mimeparser {
class CMimeFacilitator;
}

namespace assl {

class CEmlContextInterface : public ContextInterface {
 public:
  // converter: for the charsets of the message's parts (not owned; may be null).
  explicit CEmlContextInterface(const ascommon::CStringConversion* converter = nullptr) noexcept;
  ~CEmlContextInterface() override;

  // ASBadPtrException "invalid pitem input" for a null item; ASMemException "could not alloc
  // facilitator"; ASException "invalid black box - could not get headers and parts!" when
  // the blackbox yields no headers map or parts tree.
  void Init(AItem* item) override;
  std::int32_t GetType() const noexcept override { return kMail; }

  nsEmlComponents::CHeadersMap* GetHeaders() noexcept override { return m_headers; }
  const nsEmlComponents::CPartsTree* GetPartsTree() const noexcept override { return m_tree; }
  CBBFacilitator* GetFacilitator() noexcept override;
  CKnnResult* GetKnnResult() noexcept override { return &m_knn; }
  void SetDirty() override { m_dirty = true; }
  bool IsDirty() const noexcept { return m_dirty; }

 private:
  const ascommon::CStringConversion* m_converter;           // not owned
  std::unique_ptr<mimeparser::CMimeFacilitator> m_facilitator;
  nsEmlComponents::CHeadersMap* m_headers = nullptr;        // the blackbox's
  const nsEmlComponents::CPartsTree* m_tree = nullptr;      // the blackbox's
  bool m_dirty = false;
  CKnnResult m_knn;
};

}  // namespace assl
