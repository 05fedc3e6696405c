// JSON text helpers for the host's line-oriented output. Appending to a caller's buffer
// keeps the per-line cost to the bytes written. Pure functions, thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace zzhost {

// Appends text as a JSON string literal (quotes included). Valid UTF-8 passes through;
// control characters are escaped; a byte that is not part of valid UTF-8 becomes U+FFFD.
void AppendJsonString(std::string& out, std::string_view text);
// Appends the literal, or null when text is null.
void AppendJsonStringOrNull(std::string& out, const char* text, std::size_t length);

}  // namespace zzhost
