// Header building: GMime's header lists (message and top part) merged by stream offset, one
// model header per line, then the map (first of each name), the Received header with its
// hops and the header signature. Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#include "engines/mimeparser/headerbuilder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "common/strutils.h"
#include "engines/mimeparser/textdecode.h"
#include "engines/summarize/headersummary.h"

namespace mimeparser {

using nsEmlComponents::CHeader;

namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The raw value unfolded (CR and LF removed) and trimmed. 0 or -2.
std::int32_t Unfold(const char* raw, ascommon::sstring& out) {
  out.clear();
  if (raw == nullptr) raw = "";
  const std::size_t length = std::strlen(raw);
  if (out.fill(length + 1, '\0') != 0) return -2;
  char* to = out.data();
  std::size_t n = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (raw[i] == '\r' || raw[i] == '\n') continue;
    if (n == 0 && IsBlank(raw[i])) continue;
    to[n++] = raw[i];
  }
  while (n > 0 && IsBlank(to[n - 1])) --n;
  out.set_length(n);
  return 0;
}

std::int32_t UpperName(const char* name, ascommon::sstring& out) {
  if (out.assign(name != nullptr ? name : "") != 0) return -2;
  for (std::size_t i = 0; i < out.length(); ++i) {
    const char c = out.c_str()[i];
    if (c >= 'a' && c <= 'z') out.data()[i] = static_cast<char>(c - 'a' + 'A');
  }
  return 0;
}

// Name, decoded value and raw value of one GMime header into header. 0 or -2.
std::int32_t Fill(GMimeHeader* source, CHeader& header) {
  ascommon::sstring text;
  if (UpperName(g_mime_header_get_name(source), text) != 0 || header.SetName(text.c_str()) != 0)
    return -2;
  if (Unfold(g_mime_header_get_raw_value(source), text) != 0 || header.SetRaw(text.c_str()) != 0)
    return -2;
  const char* value = g_mime_header_get_value(source);
  ascommon::usstring wide;
  if (DecodeUtf8Lenient(value, value != nullptr ? std::strlen(value) : 0, wide) != 0) return -2;
  return header.AssignValue(wide);
}

// Mailbox addresses of a GMime address list (group members included, one level of groups).
std::int32_t AddAddresses(InternetAddressList* list, int depth,
                          ascommon::CArray<ascommon::usstring>& out) {
  const int count = list != nullptr ? internet_address_list_length(list) : 0;
  for (int i = 0; i < count; ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(address)) {
      if (depth > 0) continue;
      const std::int32_t status = AddAddresses(
          internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1, out);
      if (status != 0) return status;
    } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
      if (addr == nullptr || *addr == '\0') continue;
      ascommon::usstring wide;
      if (DecodeUtf8Lenient(addr, std::strlen(addr), wide) != 0 || out.Add(wide) != 0) return -2;
    }
  }
  return 0;
}

CHeader* NewHeader(const char* upperName) {
  if (std::strcmp(upperName, "TO") == 0) return new (std::nothrow) nsEmlComponents::CHeaderAddress();
  return new (std::nothrow) nsEmlComponents::CHeaderOther();
}

// The map's "RECEIVED": every Received line of list, topmost first. 0 or -2.
std::int32_t BuildReceived(const ascommon::CArray<CHeader*>& list, CMessageHeaders& out) {
  nsEmlComponents::CHeaderReceived* received = nullptr;
  ascommon::usstring value;
  ascommon::sstring raw;
  for (std::uint64_t i = 0; i < list.GetSize(); ++i) {
    const CHeader& line = *list[i];
    if (std::strcmp(line.GetName().c_str(), "RECEIVED") != 0) continue;
    if (received == nullptr) {
      received = new (std::nothrow) nsEmlComponents::CHeaderReceived();
      if (received == nullptr || received->SetName("RECEIVED") != 0 ||
          out.map.SetAt("RECEIVED", received) != 0) {
        delete received;
        return -2;
      }
    } else if (value.append(u"\n") != 0 || raw.append("\n") != 0) {
      return -2;
    }
    nsEmlComponents::CReceivedHop hop;
    if (value.append(line.GetValue()) != 0 || raw.append(line.GetRaw()) != 0 ||
        ParseReceivedHop(line.GetRaw().c_str(), line.GetRaw().length(), hop) != 0 ||
        received->hops.Add(hop) != 0) {
      return -2;
    }
  }
  if (received == nullptr) return 0;
  return received->AssignValue(value) != 0 || received->SetRaw(raw.c_str()) != 0 ? -2 : 0;
}

bool StartsWithNoCase(const char* text, const char* end, const char* word) noexcept {
  for (; *word != '\0'; ++text, ++word) {
    if (text >= end || (*text | 0x20) != *word) return false;
  }
  return true;
}

// Whether text..end is an IPv4 or IPv6 address written with digits, hex letters, '.', ':'.
bool LooksLikeAddress(const char* text, const char* end) noexcept {
  if (end - text < 2 || end - text > 45) return false;
  bool digit = false;
  for (const char* p = text; p < end; ++p) {
    const char c = *p;
    const bool hex = (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
    if (!hex && c != '.' && c != ':') return false;
    digit = digit || (c >= '0' && c <= '9');
  }
  return digit || std::memchr(text, ':', static_cast<std::size_t>(end - text)) != nullptr;
}

}  // namespace

std::int32_t ParseReceivedHop(const char* line, std::size_t length,
                              nsEmlComponents::CReceivedHop& hop) {
  hop.host.clear();
  hop.ip.clear();
  if (line == nullptr) return 0;
  const char* p = line;
  const char* end = line + length;
  while (p < end && IsBlank(*p)) ++p;
  if (!StartsWithNoCase(p, end, "from") || p + 4 >= end || !IsBlank(p[4])) return 0;
  p += 4;
  while (p < end && IsBlank(*p)) ++p;
  const char* host = p;
  while (p < end && !IsBlank(*p) && *p != '(' && *p != ';') ++p;
  if (p > host && hop.host.assign(host, static_cast<std::size_t>(p - host)) != 0) return -2;
  // The from clause runs to " by " or ';'; its first bracketed address is the sender's.
  for (const char* q = host; q < end && *q != ';'; ++q) {
    if (IsBlank(*q) && StartsWithNoCase(q + 1, end, "by") && q + 3 < end && IsBlank(q[3])) break;
    if (*q != '[') continue;
    const char* close = static_cast<const char*>(std::memchr(q, ']', static_cast<std::size_t>(end - q)));
    if (close == nullptr) break;
    const char* ip = q + 1;
    if (StartsWithNoCase(ip, close, "ipv6:")) ip += 5;
    if (LooksLikeAddress(ip, close)) {
      return hop.ip.assign(ip, static_cast<std::size_t>(close - ip)) != 0 ? -2 : 0;
    }
    q = close;
  }
  return 0;
}

std::int32_t BuildPartHeaders(GMimeObject* object, ascommon::CArray<CHeader*>& out) {
  GMimeHeaderList* list = object != nullptr ? g_mime_object_get_header_list(object) : nullptr;
  const int count = list != nullptr ? g_mime_header_list_get_count(list) : 0;
  for (int i = 0; i < count && out.GetSize() < kMaxPartHeaders; ++i) {
    auto* header = new (std::nothrow) nsEmlComponents::CHeaderOther();
    if (header == nullptr) return -2;
    if (Fill(g_mime_header_list_get_header_at(list, i), *header) != 0 || out.Add(header) != 0) {
      delete header;
      return -2;
    }
  }
  return 0;
}

std::int32_t BuildMessageHeaders(GMimeMessage* message, GMimeParserOptions* options,
                                 CMessageHeaders& out) {
  if (message == nullptr) return 0;
  // The lines of the message header block in stream order; GMime keeps the message's and the
  // top part's lines apart, both with their offsets (the same line is never in both).
  std::vector<std::pair<gint64, GMimeHeader*>> lines;
  try {
    GMimeObject* sources[] = {GMIME_OBJECT(message), g_mime_message_get_mime_part(message)};
    for (GMimeObject* source : sources) {
      GMimeHeaderList* list = source != nullptr ? g_mime_object_get_header_list(source) : nullptr;
      const int count = list != nullptr ? g_mime_header_list_get_count(list) : 0;
      for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(list, i);
        const gint64 offset = g_mime_header_get_offset(header);
        lines.emplace_back(offset >= 0 ? offset : INT64_MAX, header);
      }
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  } catch (const std::bad_alloc&) {
    return -2;
  }
  ascommon::sstring name;
  for (std::size_t i = 0; i < lines.size() && out.list.GetSize() < kMaxMessageHeaders; ++i) {
    if (UpperName(g_mime_header_get_name(lines[i].second), name) != 0) return -2;
    CHeader* header = NewHeader(name.c_str());
    if (header == nullptr) return -2;
    if (Fill(lines[i].second, *header) != 0 || out.list.Add(header) != 0) {
      delete header;
      return -2;
    }
    if (header->GetKind() == nsEmlComponents::kHeaderAddress) {
      InternetAddressList* addresses = internet_address_list_parse(options, header->GetRaw().c_str());
      const std::int32_t status = AddAddresses(
          addresses, 0, static_cast<nsEmlComponents::CHeaderAddress*>(header)->addresses);
      if (addresses != nullptr) g_object_unref(addresses);
      if (status != 0) return status;
    }
    // The first header of each name; "RECEIVED" is the combined header built below.
    if (name != "RECEIVED") {
      const std::int32_t status = out.map.SetAt(name, header);
      if (status != 0 && status != -451) return -2;
    }
  }
  if (BuildReceived(out.list, out) != 0) return -2;
  return summarize::SummarizeHeaders(&out.list, out.summary) == 0 ? 0 : -2;
}

}  // namespace mimeparser
