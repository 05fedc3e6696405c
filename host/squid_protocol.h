// The line protocol between Squid and its helpers, as "zazozor squid" speaks it.
//
// A request line is "[CHANNEL SP] URL [SP CLIENT [SP USER [SP ...]]]": with concurrency
// (squid.conf "concurrency=N" > 0) every line starts with a channel ID, a number that the
// answer carries back; without it there is none and answers follow the requests' order.
// In acl mode the fields are those of an external ACL with the format "%URI %SRC %un";
// Squid URL-escapes the values (quote=url, the default) but passes the URI as requested
// ('%' not escaped), so the client and user are unescaped and the URL is not. In rewrite
// mode they are the URL and the default url_rewrite_extras ("client/fqdn user method ...").
// A missing client or a user "-" reads as empty.
//
// An answer line is "[CHANNEL SP] RESULT [SP key=value]...": OK, ERR or BH (the helper
// could not decide). Squid URL-decodes every value, so values are written URL-escaped:
// blanks, control and non-ASCII bytes, '%', quotes and '\' as %XX.
//
// Pure functions over caller-owned text; safe from any number of threads.
// Tested by tests/host/squid_helper_test.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "verdicts.h"

namespace zzhost {

enum class SquidMode { kAcl, kRewrite };

// Longest request line taken (bytes, terminator excluded); a longer line is answered BH.
inline constexpr std::size_t kMaxSquidLine = 65536;
// Longest channel ID echoed (digits).
inline constexpr std::size_t kMaxChannelDigits = 20;

struct SquidRequest {
  std::string channel;  // the channel ID as sent; empty in the plain form
  std::string url;
  std::string client;   // the client's address, empty when absent
  std::string user;     // the user name, empty when absent
  std::string error;    // not empty: the line is malformed; answer BH with this message
  bool answer = true;   // false: nothing can be answered (a line without channel ID)
};

// Parses one request line (no terminator; a trailing CR is dropped). With channels, the
// first field must be a channel ID.
SquidRequest ParseSquidLine(std::string_view line, bool channels, SquidMode mode);

// True when the line starts with a channel ID followed by another field: how the first
// line tells the channel form from the plain form when it is not given.
bool StartsWithChannel(std::string_view line);

// %XX sequences decoded (a '%' not followed by two hex digits is kept as it stands).
std::string UrlUnescape(std::string_view text);
// Appends text with every byte but letters, digits and "-._~" as %XX.
void AppendUrlEscaped(std::string& out, std::string_view text);
// Appends " key=value" with the value escaped as above.
void AppendKeyValue(std::string& out, std::string_view key, std::string_view value);

// What the helper concluded about one URL.
struct SquidVerdict {
  bool blocked = false;
  std::string reason;  // "black list" or the category lists' names, ", "-separated
  std::string tag;     // "black" or "category"
  std::string site;    // the site the lists matched (domain, else host); may be empty
};

// Blocked when the BW list filter puts the URL on the black list or the advanced filter on
// a category list, unless either puts it on a white list (white wins, as in the filters).
SquidVerdict MakeSquidVerdict(const ListVerdicts& verdicts, std::string site);

// "[CHANNEL ]BH message=..." plus the newline.
std::string FormatBrokenAnswer(std::string_view channel, std::string_view message);
// acl mode: "OK message=REASON tag=TAG site=SITE" for a blocked URL (the ACL matches, so
// "http_access deny ACL" denies it), else "ERR".
std::string FormatAclAnswer(std::string_view channel, const SquidVerdict& verdict);
// rewrite mode: "OK status=302 url=BLOCKURL?reason=..&site=..&url=..&session=.." for a
// blocked URL ('&' instead of '?' when BLOCKURL has a query), else "ERR" (no change).
std::string FormatRewriteAnswer(std::string_view channel, const SquidVerdict& verdict,
                                std::string_view blockUrl, std::string_view url,
                                std::uint32_t session);

}  // namespace zzhost
