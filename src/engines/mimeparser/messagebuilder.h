// ParseMessage: a raw message (any bytes) into the message model with GMime: the header
// block as CMessageHeaders and the MIME structure as CMessageParts.
//
// Tree: one node per MIME part, parents before children in document order. A multipart is
// an inner node with its parts as children; a message/rfc822 part is an inner node whose
// child is the embedded message's top part. A node's headers are the part's own header
// lines (for the top part and an embedded message's top part: their Content-* lines; the
// message headers are in CMessageHeaders). Leaves get a body: text/plain -> CPartBodyTextPlain,
// text/html -> CPartBodyTextHtml (raw HTML, the HTML parser's page text and link targets),
// anything else -> CPartBodyOther. A text/plain or text/html part sent as an attachment
// (Content-Disposition: attachment) is still a text body, so text rules see what a reader
// who opens it sees. Every body has its name (Content-Disposition filename, else the
// Content-Type name parameter), its size (bytes after the transfer decoding: base64,
// quoted-printable, uuencode) and, for text bodies, its layout summary; the texts come from
// the part's charset (textdecode.h). The text bodies' tokens go into the phrase index.
//
// Bounds: nodes deeper than kMaxDepth and nodes past kMaxParts are left out; the message is
// read up to the start of the line of its kMaxBoundaries+1-th boundary parameter (GMime's
// boundary checks cost O(lines * open boundaries)). Bytes that do not start with a header
// block (GMime reads no message from them) give no headers and one text/plain part holding
// them all; no bytes give an empty tree. Cost: O(message) plus the HTML parser's cost per part.
// Threads: GMime is initialised once (std::call_once) and never shut down; any number of
// threads may parse at once.
// Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/mimeparser/mailobjects.h"

namespace ascommon {
class CStringConversion;
}

namespace mimeparser {

constexpr std::uint32_t kMaxDepth = 64;
constexpr std::uint32_t kMaxParts = 1024;
constexpr std::uint32_t kMaxBoundaries = 128;

// Fills headers and parts (both empty on entry) from size bytes at data. converter: for
// part charsets (not owned, may be null). Returns 0, or -2 when memory runs out (the
// objects then hold what was built).
std::int32_t ParseMessage(const char* data, std::size_t size,
                          const ascommon::CStringConversion* converter,
                          CMessageHeaders& headers, CMessageParts& parts);

// The number of bytes of data that ParseMessage reads (the boundary bound above).
std::size_t ReadableLength(const char* data, std::size_t size) noexcept;

}  // namespace mimeparser
