// Headers of a parsed message into the message model: the message's header block as
// CMessageHeaders (ordered list, map, signature) and a part's own headers as CHeaderOther.
//
// Every header gets its name upper-cased (ASCII), its value decoded (RFC 2047, 8-bit text
// read as UTF-8 else ISO-8859-1; GMime's decoding) as wide text, and its raw value: the
// bytes as received, unfolded (line breaks removed) and trimmed of surrounding blanks. "TO"
// headers are CHeaderAddress with their mailbox addresses ("user@domain", group members
// included); "RECEIVED" in the map is one extra CHeaderReceived holding every Received line
// (value and raw: the lines joined by "\n", topmost first) and one hop per line.
// Bounds: kMaxMessageHeaders header lines of the message and kMaxPartHeaders of a part are
// kept; the rest are dropped. Cost: O(header bytes).
// Threads: no shared state beyond GMime's (initialised by the caller).
// Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#pragma once

#include <gmime/gmime.h>

#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "engines/emlcomponents/emlheaders.h"
#include "engines/mimeparser/mailobjects.h"

namespace mimeparser {

constexpr std::size_t kMaxMessageHeaders = 4096;
constexpr std::size_t kMaxPartHeaders = 256;

// The header block of message: GMime keeps the Content-* lines on its top part, so both
// lists are merged back into the order of the lines. options: for the address lists.
// 0, or -2 when memory runs out (out then holds what was built).
std::int32_t BuildMessageHeaders(GMimeMessage* message, GMimeParserOptions* options,
                                 CMessageHeaders& out);

// The object's own header lines, in order, as CHeaderOther. 0 or -2.
std::int32_t BuildPartHeaders(GMimeObject* object,
                              ascommon::CArray<nsEmlComponents::CHeader*>& out);

// One Received line (raw, unfolded) as a hop: host = the name after a leading "from", ip =
// the IPv4 or IPv6 address in the first square brackets of the from clause (an "IPv6:"
// prefix dropped). Both stay empty when the line does not give them. 0 or -2.
std::int32_t ParseReceivedHop(const char* line, std::size_t length,
                              nsEmlComponents::CReceivedHop& hop);

}  // namespace mimeparser
