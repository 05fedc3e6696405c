// LocaleScope: switches the C locale for one test and restores the previous one.
#pragma once

#include <clocale>
#include <string>

namespace zztest {

class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : m_ok(std::setlocale(LC_ALL, name) != nullptr) {}
  ~LocaleScope() { std::setlocale(LC_ALL, m_previous.c_str()); }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;
  bool ok() const { return m_ok; }

 private:
  const std::string m_previous = std::setlocale(LC_ALL, nullptr);  // Read before m_ok sets.
  const bool m_ok;
};

}  // namespace zztest
