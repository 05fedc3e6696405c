// Header signatures: a message's header block as one code per header in order ("B" first,
// "E" last, "Orice" for an unknown header not starting with "X-"), and the splitting of a
// signature pattern back into its codes.
// Threads: the code table is built once (guarded) and then only read; any thread.
#pragma once

#include <cstdint>

#include "common/array.h"
#include "common/ustring.h"
#include "engines/emlcomponents/emlheaders.h"

namespace summarize {

// The code of an upper-case header name (exact match), or null when the table does not hold
// it. O(name length).
const char* HeaderCode(const char* upperName) noexcept;
// The signature of headers (in array order, names as stored) into out. Returns 0; a null
// array leaves out untouched; -2 when memory runs out.
std::int32_t SummarizeHeaders(const ascommon::CArray<nsEmlComponents::CHeader*>* headers,
                              ascommon::sstring& out);
// Cuts a signature pattern into its codes (appended to codes): each upper-case letter starts
// a code, lower-case letters extend it. Throws ASException on a character that is not an
// ASCII letter or a code of a length other than 1 or 5 (codes closed before the throw stay
// appended); ASMemException when codes cannot grow.
void SplitSummary(const ascommon::sstring& pattern, ascommon::CArray<ascommon::sstring>& codes);

}  // namespace summarize
