// FakeSettings: an in-memory CASettings for tests: integer values per session (session -1
// holds the values every session sees) and global texts.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "asettings.h"

namespace zztest {

class FakeSettings : public CASettings {
 public:
  static constexpr std::int64_t kAllSessions = -1;

  void SetInt(const std::u16string& key, std::uint32_t value, std::int64_t session = kAllSessions) {
    m_ints[{session, key}] = value;
  }
  void SetString(const std::u16string& key, const std::u16string& value) { m_strings[key] = value; }

  std::uint32_t GetIntValue(std::uint32_t sessionId, const char16_t* key, std::uint32_t dwDefault) override {
    auto own = m_ints.find({sessionId, key});
    if (own != m_ints.end()) return own->second;
    auto all = m_ints.find({kAllSessions, key});
    return all != m_ints.end() ? all->second : dwDefault;
  }
  const char16_t* GetStringValue(const char16_t* key) override {
    auto it = m_strings.find(key);
    return it != m_strings.end() ? it->second.c_str() : nullptr;
  }

 private:
  std::map<std::pair<std::int64_t, std::u16string>, std::uint32_t> m_ints;
  std::map<std::u16string, std::u16string> m_strings;
};

}  // namespace zztest
