// Squid helper lines: field splitting, unescaping and answer formatting (squid_protocol.h).
// Every function is linear in its input. Tested by tests/host/squid_helper_test.cpp.
#include "squid_protocol.h"

#include <cstring>
#include <vector>

namespace zzhost {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The blank-separated fields of a line (at most `limit`; the rest is ignored).
std::vector<std::string_view> Fields(std::string_view line, std::size_t limit) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (fields.size() < limit) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size()) break;
    const std::size_t begin = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    fields.push_back(line.substr(begin, pos - begin));
  }
  return fields;
}

std::string Prefix(std::string_view channel) {
  std::string out;
  if (!channel.empty()) {
    out.append(channel);
    out += ' ';
  }
  return out;
}

}  // namespace

bool StartsWithChannel(std::string_view line) {
  const std::vector<std::string_view> fields = Fields(line, 2);
  return fields.size() == 2 && IsDigits(fields[0]) && fields[0].size() <= kMaxChannelDigits;
}

std::string UrlUnescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    int high, low;
    if (text[i] == '%' && i + 2 < text.size() && (high = HexValue(text[i + 1])) >= 0 &&
        (low = HexValue(text[i + 2])) >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void AppendUrlEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
}

void AppendKeyValue(std::string& out, std::string_view key, std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += ' ';
  out.append(key);
  out += '=';
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f || c == '%' || c == '"' || c == '\\' || c == '\'') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
}

SquidRequest ParseSquidLine(std::string_view line, bool channels, SquidMode mode) {
  SquidRequest request;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::vector<std::string_view> fields = Fields(line, channels ? 4 : 3);
  if (channels) {
    if (fields.empty() || !IsDigits(fields[0]) || fields[0].size() > kMaxChannelDigits) {
      request.answer = false;  // no channel to answer on
      request.error = fields.empty() ? "empty line" : "no channel ID";
      return request;
    }
    request.channel = std::string(fields[0]);
    fields.erase(fields.begin());
  }
  if (line.size() > kMaxSquidLine) {
    request.error = "line longer than " + std::to_string(kMaxSquidLine) + " bytes";
    return request;
  }
  if (fields.empty()) {
    request.error = line.empty() ? "empty line" : "no URL";
    return request;
  }
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
      request.error = "control characters in the request";
      return request;
    }
  }
  const auto field = [&](std::size_t i) {
    if (i >= fields.size() || fields[i] == "-") return std::string();
    return mode == SquidMode::kAcl ? UrlUnescape(fields[i]) : std::string(fields[i]);
  };
  request.url = std::string(fields[0]);  // passed as requested, escapes and all
  request.client = field(1);
  if (mode == SquidMode::kRewrite) {  // "address/fqdn"
    const std::size_t slash = request.client.find('/');
    if (slash != std::string::npos) request.client.resize(slash);
  }
  request.user = field(2);
  if (request.url.empty()) request.error = "no URL";
  return request;
}

SquidVerdict MakeSquidVerdict(const ListVerdicts& verdicts, std::string site) {
  SquidVerdict verdict;
  verdict.site = std::move(site);
  bool white = verdicts.list != nullptr && std::strcmp(verdicts.list, "white") == 0;
  std::string categories;
  verdicts.ForEachCategory([&](int list, const char* name) {
    if (list == kVerdictWhiteList) {
      white = true;
      return;
    }
    if (!categories.empty()) categories += ", ";
    categories += name;
  });
  if (white) return verdict;
  if (verdicts.list != nullptr && std::strcmp(verdicts.list, "black") == 0) {
    verdict.blocked = true;
    verdict.reason = "black list";
    verdict.tag = "black";
    if (!categories.empty()) verdict.reason += ", " + categories;
  } else if (!categories.empty()) {
    verdict.blocked = true;
    verdict.reason = std::move(categories);
    verdict.tag = "category";
  }
  return verdict;
}

std::string FormatBrokenAnswer(std::string_view channel, std::string_view message) {
  std::string out = Prefix(channel) + "BH";
  AppendKeyValue(out, "message", message);
  out += '\n';
  return out;
}

std::string FormatAclAnswer(std::string_view channel, const SquidVerdict& verdict) {
  std::string out = Prefix(channel);
  if (!verdict.blocked) return out + "ERR\n";
  out += "OK";
  AppendKeyValue(out, "message", verdict.reason);
  AppendKeyValue(out, "tag", verdict.tag);
  if (!verdict.site.empty()) AppendKeyValue(out, "site", verdict.site);
  out += '\n';
  return out;
}

std::string FormatRewriteAnswer(std::string_view channel, const SquidVerdict& verdict,
                                std::string_view blockUrl, std::string_view url,
                                std::uint32_t session) {
  std::string out = Prefix(channel);
  if (!verdict.blocked) return out + "ERR\n";
  std::string target(blockUrl);
  target += blockUrl.find('?') == std::string_view::npos ? '?' : '&';
  target += "reason=";
  AppendUrlEscaped(target, verdict.reason);
  target += "&site=";
  AppendUrlEscaped(target, verdict.site);
  target += "&url=";
  AppendUrlEscaped(target, url);
  target += "&session=" + std::to_string(session);
  out += "OK status=302";
  AppendKeyValue(out, "url", target);
  out += '\n';
  return out;
}

}  // namespace zzhost
