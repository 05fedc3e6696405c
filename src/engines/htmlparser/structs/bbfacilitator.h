// CBBFacilitator: what the rules read of a mail item beyond its parts tree: the headers map,
// the parts tree itself, the message's total size, and the word-token lists of the bodies
// that phrase matching searches. The mail context builds one over the mail item's blackbox.
// This is the interface the conditions and heuristics use; the MIME-parsing facilitator
// implements it. Threads: one message, read by one thread at a time.
#pragma once

#include <cstdint>

#include "common/asmemory.h"
#include "common/ustring.h"
#include "engines/emlcomponents/emlheaders.h"
#include "engines/emlcomponents/partstree.h"

class CBBFacilitator : public ascommon::CASAllocated {
 public:
  virtual ~CBBFacilitator() = default;
  virtual nsEmlComponents::CHeadersMap* GetHeaders() noexcept = 0;
  virtual const nsEmlComponents::CPartsTree* GetPartsTree() const noexcept = 0;
  // Size in bytes of the whole message.
  virtual std::uint32_t GetTotalSize() const noexcept = 0;
  // Whether any body of the given type (52 text/plain, 53 text/html) holds the phrase as a
  // token (a one-word phrase) or as consecutive tokens (a longer phrase).
  virtual bool BodiesHavePhrase(std::int32_t bodyType,
                                const ascommon::usstring& phrase) const = 0;
  // The message headers in the order received, one per header line (names upper-cased; the
  // headers map holds the first of each name, and "RECEIVED" as one CHeaderReceived with
  // every Received line as a hop), and their header signature ("B...E"). Null when the
  // facilitator has none.
  virtual const ascommon::CArray<nsEmlComponents::CHeader*>* GetHeaderList() const noexcept {
    return nullptr;
  }
  virtual const ascommon::sstring* GetHeaderSummary() const noexcept { return nullptr; }
};
