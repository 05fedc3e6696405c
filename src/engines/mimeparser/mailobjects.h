// The two objects a mail item's blackbox holds once its message is parsed: CMessageHeaders
// (generic object 20001: the message headers in order, the headers map over them and the
// header signature) and CMessageParts (20002: the parts tree, the phrase index of its text
// bodies and the message size). The MIME facilitator builds both from the raw message and
// reads them back on later binds; a caller that fills a mail item without a raw message
// stores these classes under those ids.
//
// Ownership: CMessageHeaders owns every header of its list and every header of its map
// (the map's extra "RECEIVED" header and the headers the header actions add to the map);
// CMessageParts owns its tree and index. The objects themselves belong to whoever stored
// them: the ones the facilitator builds belong to the item's CRawMessage
// (mimefacilitator.h), which deletes them.
// Threads: built by one thread; afterwards the parts are read-only and safe for any number
// of readers; the headers map may be changed by the header actions, so one thread at a time.
#pragma once

#include <cstdint>

#include "common/array.h"
#include "common/blackboxobject.h"
#include "common/ustring.h"
#include "engines/emlcomponents/emlheaders.h"
#include "engines/emlcomponents/partstree.h"
#include "engines/mimeparser/phraseindex.h"

namespace mimeparser {

class CMessageHeaders : public ascommon::CBlackBoxObject {
 public:
  // Throws std::bad_alloc when the map's bucket table cannot be made.
  CMessageHeaders();
  ~CMessageHeaders() override;
  CMessageHeaders(const CMessageHeaders&) = delete;
  CMessageHeaders& operator=(const CMessageHeaders&) = delete;

  // One header per header line of the message, in order, names upper-cased.
  ascommon::CArray<nsEmlComponents::CHeader*> list;
  // Upper-case name -> the first header of that name in list; "RECEIVED" -> a
  // CHeaderReceived (not in list) holding every Received line.
  nsEmlComponents::CHeadersMap map;
  ascommon::sstring summary;  // header signature of list ("B...E")
};

class CMessageParts : public ascommon::CBlackBoxObject {
 public:
  nsEmlComponents::CPartsTree tree;
  CPhraseIndex phrases;       // tokens of the text/plain and text/html bodies
  std::uint32_t totalSize = 0;  // bytes of the raw message (capped at 2^32 - 1)
};

}  // namespace mimeparser
