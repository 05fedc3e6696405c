// CMimeFacilitator: the blackbox facilitator of a mail item. It takes the headers map (generic
// object 20001) and the parts tree (20002) from the item's blackbox and, when either is
// missing, builds both by parsing the raw message (generic object 20000, a CRawMessage) with
// GMime and stores them into the blackbox, which then owns them. Parsing decodes headers
// (RFC 2047), walks multipart nesting, undoes the transfer encodings, converts part charsets
// to wide text through the charset converter, parses text/html parts with the HTML parser
// (decoded text, link targets, layout summary) and summarises text/plain parts. A broken
// message gives the tree of what could be read.
// Threads: one facilitator per item and thread; GMime's one-time set-up is guarded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "common/blackbox.h"
#include "common/blackboxobject.h"
#include "common/ustring.h"
#include "engines/htmlparser/structs/bbfacilitator.h"

namespace ascommon {
class CStringConversion;
}

namespace mimeparser {

// Blackbox ids of a mail item.
constexpr std::uint32_t kRawMessageId = 20000;
constexpr std::uint32_t kHeadersMapId = 20001;
constexpr std::uint32_t kPartsTreeId = 20002;

// The message as received (any bytes, NULs included), owned by the item's blackbox.
class CRawMessage : public ascommon::CBlackBoxObject {
 public:
  ascommon::CArray<char> bytes;
};

// Stores a copy of the raw message into a mail item's blackbox (id 20000). 0, or -2.
std::int32_t SetRawMessage(ascommon::CABlackBox& blackbox, const char* data, std::size_t size);

class CMimeFacilitator : public CBBFacilitator {
 public:
  // converter: used for part charsets (not owned; may be null: then only UTF-8, US-ASCII and
  // ISO-8859-1 parts are converted and others are read as ISO-8859-1).
  explicit CMimeFacilitator(const ascommon::CStringConversion* converter = nullptr) noexcept;
  ~CMimeFacilitator() override;

  // Binds the blackbox (not owned; it must outlive the facilitator), building what it lacks.
  // Returns 0; -1 for a blackbox without the headers, parts tree and raw message; -2 when
  // memory runs out.
  std::int32_t Bind(ascommon::CABlackBox& blackbox);

  nsEmlComponents::CHeadersMap* GetHeaders() noexcept override;
  const nsEmlComponents::CPartsTree* GetPartsTree() const noexcept override;
  std::uint32_t GetTotalSize() const noexcept override;
  bool BodiesHavePhrase(std::int32_t bodyType, const ascommon::usstring& phrase) const override;

  const ascommon::CArray<nsEmlComponents::CHeader*>* GetHeaderList() const noexcept override;
  const ascommon::sstring* GetHeaderSummary() const noexcept override;

 private:
  class CImpl;
  CImpl* m_impl = nullptr;
};

}  // namespace mimeparser
