// CHostSettings: the host's CASettings, a key/value store per session.
//
// Global values apply to every session; values of a "[session N]" section override them
// for session N only; --set overrides replace both, for every session. Keys and values are
// held as UTF-16. The three path settings are made absolute when they are stored (relative
// to the settings file's folder, or to the working folder for --set).
//
// Build the store with the Load*/Apply* calls first, then hand it to the modules: once
// handed out it must not change. From then on it is immutable and safe for any number of
// concurrent readers; a pointer returned by GetStringValue stays valid for the store's
// lifetime. The store must outlive every module that holds it.
//
// File format (one setting per line, UTF-8):
//   # comment                     lines whose first non-blank character is '#'
//   KEY = VALUE                   blanks around '=' and around the line are ignored
//   [session N]                   N from 0 to 999; following lines apply to session N only
// Blank lines are ignored. Tested by tests/host/settings_test.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "asettings.h"

namespace zzhost {

// Setting keys the host itself supplies or resolves.
inline constexpr std::string_view kSharedDataPathKey = "/http/global/SharedDataPath";
inline constexpr std::string_view kGlobalTempPathKey = "/http/global/GlobalTempPath";
inline constexpr std::string_view kSharedLibsPathKey = "/http/global/SharedLibsPath";
inline constexpr std::string_view kAllFiltersEnabledKey =
    "/http/global/AllParentalFiltersEnabled";

inline constexpr std::uint32_t kMaxSessionId = 999;

class CHostSettings final : public CASettings {
 public:
  CHostSettings() = default;
  CHostSettings(const CHostSettings&) = delete;
  CHostSettings& operator=(const CHostSettings&) = delete;

  // The embedded defaults for a host installed in exeDir: the data folder next to the
  // executable, the given temporary folder, the executable's folder for libraries, and all
  // four parental filters enabled.
  void LoadDefaults(const std::string& exeDir, const std::string& tempDir);
  // Reads a settings file. Throws HostError "FILE:LINE: what" for a malformed line and
  // "cannot read settings file 'FILE': reason" when it cannot be read.
  void LoadFile(const std::string& path);
  // Parses settings text; name stands for the source in error messages and baseDir is the
  // folder that relative path values are taken from.
  void LoadText(std::string_view text, const std::string& name, const std::string& baseDir);
  // A "--set KEY=VALUE" override: applies to every session and replaces what the file set,
  // section values included. Throws UsageError without '=' or with an empty key.
  void ApplyOverride(std::string_view assignment, const std::string& workDir);
  // Stores one value (UTF-8) globally (no session) or for one session; path values are
  // resolved against baseDir.
  void Set(std::optional<std::uint32_t> session, std::string_view key, std::string_view value,
           const std::string& baseDir);

  // CASettings. The session's value, else the global one, as an unsigned decimal number
  // that fits 32 bits; dwDefault when the key is absent or its value is no such number.
  std::uint32_t GetIntValue(std::uint32_t sessionId, const char16_t* key,
                            std::uint32_t dwDefault) override;
  // The global text of the key, or null. O(log n) in the number of keys.
  const char16_t* GetStringValue(const char16_t* key) override;

  // The text for a session (the session's value, else the global one), or null.
  const std::u16string* FindText(std::uint32_t sessionId, std::u16string_view key) const;

 private:
  struct Value {
    std::u16string text;
    std::optional<std::uint32_t> number;
  };
  using Table = std::map<std::u16string, Value, std::less<>>;

  static const Value* Find(const Table& table, std::u16string_view key);
  const Value* Lookup(std::uint32_t sessionId, std::u16string_view key) const;

  Table m_global;
  std::map<std::uint32_t, Table> m_sessions;
};

// Helpers, exposed for the tests.
// text as an unsigned decimal number fitting 32 bits: digits only, no sign, no blanks.
std::optional<std::uint32_t> ParseUnsigned32(std::string_view text);
// value unchanged when empty or absolute ("/..." or "\..."), else baseDir/value normalised.
std::string ResolvePath(const std::string& value, const std::string& baseDir);

}  // namespace zzhost
