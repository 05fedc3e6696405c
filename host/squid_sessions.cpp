// Session selection for Squid requests (squid_sessions.h): users in a map, O(log n); address
// ranges scanned in full for the longest prefix, O(ranges) per request (a handful in
// practice). Tested by tests/host/squid_helper_test.cpp.
#include "squid_sessions.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "errors.h"
#include "settings.h"

namespace zzhost {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

void CSquidSessions::LoadText(std::string_view text, const std::string& name) {
  std::size_t lineNumber = 0;
  bool inSection = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inSection = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string_view key = Trim(line.substr(0, equals));
    if (equals == std::string_view::npos || !key.starts_with(kSquidSessionPrefix)) continue;
    std::string problem = inSection ? "squid.session lines belong before any [session N]"
                                    : Add(key.substr(kSquidSessionPrefix.size()),
                                          Trim(line.substr(equals + 1)));
    if (!problem.empty()) {
      throw HostError(name + ":" + std::to_string(lineNumber) + ": " + problem);
    }
  }
}

std::string CSquidSessions::Add(std::string_view key, std::string_view value) {
  const std::optional<std::uint32_t> session = ParseUnsigned32(value);
  if (!session || *session > kMaxSessionId) {
    return "session '" + std::string(value) + "' is not a number from 0 to 999";
  }
  if (key.starts_with("user.")) {
    if (key.size() == 5) return "no user name after 'squid.session.user.'";
    m_users[std::string(key.substr(5))] = *session;
    return "";
  }
  Range range;
  range.session = *session;
  const std::size_t slash = key.find('/');
  if (!ParseAddress(key.substr(0, slash), range.address, range.v6)) {
    return "'" + std::string(key) + "' is neither user.NAME nor an address range";
  }
  const unsigned width = range.v6 ? 128 : 32;
  range.bits = width;
  if (slash != std::string_view::npos) {
    const std::optional<std::uint32_t> bits = ParseUnsigned32(key.substr(slash + 1));
    if (!bits || *bits > width) {
      return "prefix length of '" + std::string(key) + "' is not 0 to " + std::to_string(width);
    }
    range.bits = *bits;
  }
  m_ranges.push_back(range);
  return "";
}

bool CSquidSessions::ParseAddress(std::string_view text, std::array<std::uint8_t, 16>& out,
                                  bool& v6) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
  char buffer[INET6_ADDRSTRLEN];
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  out.fill(0);
  if (inet_pton(AF_INET, buffer, out.data()) == 1) {
    v6 = false;
    return true;
  }
  if (inet_pton(AF_INET6, buffer, out.data()) != 1) return false;
  static constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  v6 = std::memcmp(out.data(), kMapped, 12) != 0;
  if (!v6) {
    std::memmove(out.data(), out.data() + 12, 4);
    std::fill(out.begin() + 4, out.end(), 0);
  }
  return true;
}

bool CSquidSessions::Matches(const Range& range, const std::array<std::uint8_t, 16>& address,
                             bool v6) {
  if (range.v6 != v6) return false;
  const unsigned whole = range.bits / 8, rest = range.bits % 8;
  if (std::memcmp(range.address.data(), address.data(), whole) != 0) return false;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
  return (range.address[whole] & mask) == (address[whole] & mask);
}

std::uint32_t CSquidSessions::Select(std::string_view client, std::string_view user) const {
  if (!user.empty()) {
    const auto it = m_users.find(user);
    if (it != m_users.end()) return it->second;
  }
  std::array<std::uint8_t, 16> address;
  bool v6 = false;
  if (m_ranges.empty() || !ParseAddress(client, address, v6)) return m_default;
  const Range* best = nullptr;
  for (const Range& range : m_ranges) {
    if ((best == nullptr || range.bits > best->bits) && Matches(range, address, v6)) {
      best = &range;
    }
  }
  return best != nullptr ? best->session : m_default;
}

std::vector<std::uint32_t> CSquidSessions::Sessions() const {
  std::vector<std::uint32_t> all{m_default};
  for (const auto& [name, session] : m_users) all.push_back(session);
  for (const Range& range : m_ranges) all.push_back(range.session);
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

}  // namespace zzhost
