// printf-style formatting with a bound, shared by exceptions and trace sinks.
//
// Supports every conversion of vsnprintf plus %S (and %ls) for zero-terminated UTF-16
// text (const char16_t*), written as UTF-8; a null %s or %S argument prints "(null)".
// The output is always terminated and never longer than size - 1 bytes; a cut never
// splits a UTF-8 sequence written for %S. Pure functions, safe from any thread.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace ascommon {

// Formats into out (size bytes, size >= 1) and returns the length written.
std::size_t FormatV(char* out, std::size_t size, const char* format, std::va_list args);
std::size_t Format(char* out, std::size_t size, const char* format, ...);

}  // namespace ascommon
