// CSquidSessions: which session a Squid request is decided in, chosen by the user name or
// the client address that Squid passes, so that a child's machine or login gets a stricter
// session than a parent's.
//
// Settings file lines (global part, before any "[session N]" section):
//   squid.session.user.NAME = N          the user NAME (as Squid reports it) gets session N
//   squid.session.ADDRESS/BITS = N       clients in the IPv4 or IPv6 range get session N
//   squid.session.ADDRESS = N            one client (/32, or /128 for IPv6)
// A user mapping wins over address ranges; among ranges the longest prefix wins; anything
// else gets the default session (--session). IPv4-mapped IPv6 addresses count as IPv4.
//
// Built once at start (Load*, Add), then read-only: Select is safe from any number of
// threads. Tested by tests/host/squid_helper_test.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zzhost {

inline constexpr std::string_view kSquidSessionPrefix = "squid.session.";

class CSquidSessions {
 public:
  explicit CSquidSessions(std::uint32_t defaultSession = 0) : m_default(defaultSession) {}

  // Takes the squid.session lines of a settings file's text (the other lines are the host
  // settings' business). HostError "NAME:LINE: what" for a malformed mapping.
  void LoadText(std::string_view text, const std::string& name);
  // One mapping: key without the prefix ("user.alice", "10.0.0.0/8"), value the session.
  // Returns the problem, or "" when taken.
  std::string Add(std::string_view key, std::string_view value);

  std::uint32_t Select(std::string_view client, std::string_view user) const;
  // The default session and every mapped one, ascending, each once.
  std::vector<std::uint32_t> Sessions() const;

 private:
  struct Range {
    std::array<std::uint8_t, 16> address{};  // IPv4 in the first 4 bytes
    bool v6 = false;
    unsigned bits = 0;
    std::uint32_t session = 0;
  };
  static bool ParseAddress(std::string_view text, std::array<std::uint8_t, 16>& out, bool& v6);
  static bool Matches(const Range& range, const std::array<std::uint8_t, 16>& address, bool v6);

  std::uint32_t m_default;
  std::map<std::string, std::uint32_t, std::less<>> m_users;
  std::vector<Range> m_ranges;
};

}  // namespace zzhost
