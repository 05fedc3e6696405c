#include "settings.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "errors.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::u16string ToUtf16(std::string_view text) {
  return zzplat::Utf8ToUtf16Lenient(std::string(text));
}

[[noreturn]] void LineError(const std::string& name, std::size_t line, const std::string& what) {
  throw HostError(name + ":" + std::to_string(line) + ": " + what);
}

// "[session N]" with optional blanks inside the brackets; returns N or raises.
std::uint32_t ParseSectionHeader(std::string_view line, const std::string& name,
                                 std::size_t lineNo) {
  const std::string bad = "bad section header '" + std::string(line) + "' (expected '[session N]')";
  if (line.size() < 2 || line.back() != ']') LineError(name, lineNo, bad);
  std::string_view inner = Trim(line.substr(1, line.size() - 2));
  constexpr std::string_view kWord = "session";
  if (inner.substr(0, kWord.size()) != kWord) LineError(name, lineNo, bad);
  std::string_view rest = inner.substr(kWord.size());
  std::string_view number = Trim(rest);
  if (number.empty() || number.size() == rest.size()) LineError(name, lineNo, bad);
  if (number.find_first_not_of("0123456789") != std::string_view::npos) {
    LineError(name, lineNo, bad);
  }
  const std::optional<std::uint32_t> session = ParseUnsigned32(number);
  if (!session || *session > kMaxSessionId) {
    LineError(name, lineNo,
              "session " + std::string(number) + " out of range (0 to " +
                  std::to_string(kMaxSessionId) + ")");
  }
  return *session;
}

}  // namespace

std::optional<std::uint32_t> ParseUnsigned32(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t firstNonZero = text.find_first_not_of('0');
  if (firstNonZero == std::string_view::npos) return 0;
  text.remove_prefix(firstNonZero);
  if (text.size() > 10) return std::nullopt;  // 4294967295 has ten digits
  std::uint64_t value = 0;
  for (char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// Decided on the key as stored: the lenient conversion can turn other bytes into a path
// key (an overlong sequence reads as ASCII), and such a key must be resolved as well.
bool IsPathKey(std::u16string_view key) {
  for (std::string_view pathKey : {kSharedDataPathKey, kGlobalTempPathKey, kSharedLibsPathKey}) {
    if (key == ToUtf16(pathKey)) return true;
  }
  return false;
}

std::string ResolvePath(const std::string& value, const std::string& baseDir) {
  if (value.empty() || value[0] == '/' || value[0] == '\\') return value;
  return (std::filesystem::path(baseDir) / value).lexically_normal().string();
}

void CHostSettings::Set(std::optional<std::uint32_t> session, std::string_view key,
                        std::string_view value, const std::string& baseDir) {
  Value stored;
  std::u16string storedKey = ToUtf16(key);
  const std::string text = IsPathKey(storedKey) ? ResolvePath(std::string(value), baseDir)
                                                : std::string(value);
  stored.text = zzplat::Utf8ToUtf16Lenient(text);
  stored.number = ParseUnsigned32(text);
  Table& table = session ? m_sessions[*session] : m_global;
  table.insert_or_assign(std::move(storedKey), std::move(stored));
}

void CHostSettings::LoadDefaults(const std::string& exeDir, const std::string& tempDir) {
  Set(std::nullopt, kSharedDataPathKey, "data", exeDir);
  Set(std::nullopt, kGlobalTempPathKey, tempDir, exeDir);
  Set(std::nullopt, kSharedLibsPathKey, exeDir, exeDir);
  for (std::string_view key : {kAllFiltersEnabledKey,
                               std::string_view("/http/filter/bayes/Enabled"),
                               std::string_view("/http/filter/parentalbwlist/Enabled"),
                               std::string_view("/http/filter/parentalbwlistadvanced/Enabled")}) {
    Set(std::nullopt, key, "1", exeDir);
  }
}

void CHostSettings::LoadFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw HostError("cannot read settings file '" + path + "': Is a directory");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw HostError("cannot read settings file '" + path + "': " + std::strerror(errno));
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw HostError("cannot read settings file '" + path + "': read error");
  const std::string baseDir =
      std::filesystem::absolute(std::filesystem::path(path), ec).parent_path().string();
  LoadText(content.str(), path, baseDir);
}

void CHostSettings::LoadText(std::string_view text, const std::string& name,
                             const std::string& baseDir) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
  std::optional<std::uint32_t> section;
  std::size_t lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = ParseSectionHeader(line, name, lineNo);
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) LineError(name, lineNo, "expected 'KEY = VALUE'");
    const std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) LineError(name, lineNo, "empty key before '='");
    Set(section, key, Trim(line.substr(eq + 1)), baseDir);
  }
}

void CHostSettings::ApplyOverride(std::string_view assignment, const std::string& workDir) {
  const std::size_t eq = assignment.find('=');
  if (eq == std::string_view::npos) {
    throw UsageError("--set needs KEY=VALUE, got '" + std::string(assignment) + "'");
  }
  const std::string_view key = Trim(assignment.substr(0, eq));
  if (key.empty()) {
    throw UsageError("--set needs a key before '=', got '" + std::string(assignment) + "'");
  }
  const std::u16string wideKey = ToUtf16(key);
  for (auto& [session, table] : m_sessions) {
    auto it = table.find(wideKey);
    if (it != table.end()) table.erase(it);
  }
  Set(std::nullopt, key, Trim(assignment.substr(eq + 1)), workDir);
}

const CHostSettings::Value* CHostSettings::Find(const Table& table, std::u16string_view key) {
  auto it = table.find(key);
  return it == table.end() ? nullptr : &it->second;
}

const CHostSettings::Value* CHostSettings::Lookup(std::uint32_t sessionId,
                                                  std::u16string_view key) const {
  auto session = m_sessions.find(sessionId);
  if (session != m_sessions.end()) {
    if (const Value* value = Find(session->second, key)) return value;
  }
  return Find(m_global, key);
}

std::uint32_t CHostSettings::GetIntValue(std::uint32_t sessionId, const char16_t* key,
                                         std::uint32_t dwDefault) {
  if (key == nullptr) return dwDefault;
  const Value* value = Lookup(sessionId, key);
  return value != nullptr && value->number ? *value->number : dwDefault;
}

const char16_t* CHostSettings::GetStringValue(const char16_t* key) {
  if (key == nullptr) return nullptr;
  const Value* value = Find(m_global, key);
  return value != nullptr ? value->text.c_str() : nullptr;
}

const std::u16string* CHostSettings::FindText(std::uint32_t sessionId,
                                              std::u16string_view key) const {
  const Value* value = Lookup(sessionId, key);
  return value != nullptr ? &value->text : nullptr;
}

}  // namespace zzhost
