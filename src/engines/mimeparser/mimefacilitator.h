// CMimeFacilitator: the blackbox facilitator of a mail item. It takes the headers (generic
// object 20001, a CMessageHeaders) and the parts tree (20002, a CMessageParts) from the item's
// blackbox and, when either is missing, builds both by parsing the raw message (generic
// object 20000, a CRawMessage) with GMime (messagebuilder.h) and stores what was missing into
// the blackbox. Parsing decodes headers (RFC 2047), walks multipart nesting, undoes the
// transfer encodings, converts part charsets to wide text through the charset converter,
// parses text/html parts with the HTML parser (decoded text, link targets, layout summary)
// and summarises text/plain parts. A broken message gives the tree of what could be read.
//
// Ownership: a blackbox does not own its generic objects. The raw message owns the objects
// built from it, so ReleaseRawMessage (or whoever stored a CRawMessage deleting it after
// removing the ids) frees the whole parsed message; an item filled without a raw message
// keeps its 20001/20002 objects owned by whoever stored them. The facilitator borrows.
// Threads: one facilitator per item and thread; GMime's one-time set-up is guarded, so
// facilitators on different items may parse at the same time.
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

class CMessageHeaders;
class CMessageParts;

// Blackbox ids of a mail item.
constexpr std::uint32_t kRawMessageId = 20000;
constexpr std::uint32_t kHeadersMapId = 20001;
constexpr std::uint32_t kPartsTreeId = 20002;

// The message as received (any bytes, NULs included) and the objects a facilitator built
// from it (owned; deleted with it).
class CRawMessage : public ascommon::CBlackBoxObject {
 public:
  CRawMessage() noexcept = default;
  ~CRawMessage() override;
  CRawMessage(const CRawMessage&) = delete;
  CRawMessage& operator=(const CRawMessage&) = delete;

  ascommon::CArray<char> bytes;

 private:
  friend class CMimeFacilitator;
  friend void ReleaseRawMessage(ascommon::CABlackBox& blackbox) noexcept;
  ascommon::CBlackBoxObject* m_headers = nullptr;  // Owned; a CMessageHeaders.
  ascommon::CBlackBoxObject* m_parts = nullptr;    // Owned; a CMessageParts.
};

// Stores a copy of the raw message into a mail item's blackbox (id 20000), replacing (and
// releasing, as ReleaseRawMessage does) a raw message stored before. 0, or -2.
std::int32_t SetRawMessage(ascommon::CABlackBox& blackbox, const char* data, std::size_t size);

// Removes the raw message (20000) from the blackbox together with the headers and parts
// built from it (20001, 20002, when they are those objects) and deletes them. Call it before
// the blackbox goes away; nothing happens without a raw message.
void ReleaseRawMessage(ascommon::CABlackBox& blackbox) noexcept;

class CMimeFacilitator : public CBBFacilitator {
 public:
  // converter: used for part charsets (not owned; may be null: then only UTF-8, US-ASCII and
  // ISO-8859-1 parts are converted and others are read as ISO-8859-1).
  explicit CMimeFacilitator(const ascommon::CStringConversion* converter = nullptr) noexcept;
  ~CMimeFacilitator() override;

  // Binds the blackbox (not owned; it must outlive the facilitator), building what it lacks.
  // Returns 0; -1 when 20001 or 20002 is missing and there is no raw message to build from,
  // or when either holds an object of another class; -2 when memory runs out (the facilitator
  // is then unbound). Cost: O(message) for the first bind of an item, O(1) afterwards.
  std::int32_t Bind(ascommon::CABlackBox& blackbox);

  nsEmlComponents::CHeadersMap* GetHeaders() noexcept override;
  const nsEmlComponents::CPartsTree* GetPartsTree() const noexcept override;
  std::uint32_t GetTotalSize() const noexcept override;
  bool BodiesHavePhrase(std::int32_t bodyType, const ascommon::usstring& phrase) const override;

  const ascommon::CArray<nsEmlComponents::CHeader*>* GetHeaderList() const noexcept override;
  const ascommon::sstring* GetHeaderSummary() const noexcept override;

 private:
  const ascommon::CStringConversion* m_converter;  // Not owned.
  CMessageHeaders* m_headers = nullptr;             // Not owned (the blackbox's).
  CMessageParts* m_parts = nullptr;                 // Not owned (the blackbox's).
};

}  // namespace mimeparser
