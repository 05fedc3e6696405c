// Text of mail parts and headers into wide text: bytes in a named charset -> UTF-16, read
// leniently (a message is outside input: nothing here fails on bad bytes).
//
// UTF-8 and US-ASCII (and an absent charset) are decoded here, each byte that does not start
// a well-formed UTF-8 sequence read as the ISO-8859-1 character of that byte; ISO-8859-1 is
// decoded here; any other charset goes through the charset converter (ConvertToUCS with its
// "CP1250" second attempt). A charset the converter cannot read, or any charset without a
// converter, is read as ISO-8859-1. The results hold no zero unit (U+FFFD instead) and no
// unpaired surrogate, so they always convert to UTF-8 and work as zero-terminated texts.
// Cost: O(bytes); one output allocation (the converter path may retry with a larger one).
// Threads: no state; the converter must be initialised before use from several threads.
// Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ustring.h"

namespace ascommon {
class CStringConversion;
}

namespace mimeparser {

// Replaces out with the wide text of size bytes in charset (null or empty: UTF-8 rules).
// converter may be null. Returns 0, or -2 when memory runs out.
std::int32_t DecodeText(const ascommon::CStringConversion* converter, const char* charset,
                        const char* bytes, std::size_t size, ascommon::usstring& out);

// Lenient UTF-8 (as above) into out, replaced. 0 or -2.
std::int32_t DecodeUtf8Lenient(const char* bytes, std::size_t size, ascommon::usstring& out);

}  // namespace mimeparser
