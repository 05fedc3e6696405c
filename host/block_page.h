// The block page: an HTML template with placeholders, filled with why a request was blocked.
//
// Placeholders are "{{reason}}" (the category or list that blocked), "{{rule}}" (the rule,
// list key or category list that decided; may be empty), "{{url}}" and "{{session}}".
// Each value is HTML-escaped as it is filled; any other "{{...}}" text is left as it stands.
// The bundled template is data/blockpage.html (bin/data/blockpage.html after the build).
// Pure functions over caller-owned strings; safe from any number of threads.
// Tested by tests/host/squid_helper_test.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zzhost {

// Largest template file read (bytes).
inline constexpr std::size_t kMaxBlockPageBytes = std::size_t{256} << 10;

struct BlockReason {
  std::string reason;  // "black list", a category list's name ("Gambling"), a rule's category
  std::string rule;    // the deciding rule or list; may be empty
  std::string url;     // the blocked address as requested
  std::uint32_t session = 0;
};

// Reads the template at path into out. False with error set ("cannot read PATH: reason",
// or "PATH: larger than 262144 bytes") when it cannot be read; out is then unchanged.
bool LoadBlockPageTemplate(const std::string& path, std::string& out, std::string& error);

// The template with every placeholder replaced by its escaped value. Linear in the sizes.
std::string RenderBlockPage(std::string_view pageTemplate, const BlockReason& reason);

// Appends text with &, <, >, " and ' as character references; control bytes other than
// tab, CR and LF become '?'.
void AppendHtmlEscaped(std::string& out, std::string_view text);

}  // namespace zzhost
