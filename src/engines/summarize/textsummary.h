// Layout summaries of plain text and the operations on summaries: finishing, run-length
// form, rule patterns (B, L, X, E) turned into regular expressions, and the token cover test.
// Threads: no state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "common/ustring.h"

namespace summarize {

// Appends the layout symbols of a plain text (W word, N line break, U link: a word starting
// "http://" or "www.", in either case, possibly after a '<') to out. state carries the
// summariser's state between calls (0 at the start of a text; a word cut by a call boundary
// counts twice). Returns 0, -1 for a null or empty text, -2 when memory runs out. O(length).
std::int32_t SummarizeText(const char16_t* text, std::size_t length, std::int32_t& state,
                           ascommon::sstring& out);
// Appends N unless the summary already ends with N, then E. 0, or -2.
std::int32_t FinishSummary(ascommon::sstring& summary);
// The summary of a whole plain-text part into out (replaced): B, the text's symbols, then
// FinishSummary. 0, or -2.
std::int32_t SummarizePlainPart(const char16_t* text, std::size_t length, ascommon::sstring& out);
// Run-length form of in into out (replaced): "c{n}" for a run of n > 1, a run that ends the
// summary as "{n}". 0, or -2.
std::int32_t CompressSummary(const ascommon::sstring& in, ascommon::sstring& out);
// A layout pattern over B, L, X, E (other characters copied) as a regular expression into
// out (replaced). 0, or -2.
std::int32_t PatternToRegex(const ascommon::sstring& pattern, ascommon::sstring& out);
// Whether the tokens cover the summary: each found in order and overwritten, at least three,
// the first "B", the last "E", nothing left over.
bool MatchSummaryTokens(const ascommon::sstring& summary,
                        const ascommon::CArray<ascommon::sstring>& tokens);

}  // namespace summarize
