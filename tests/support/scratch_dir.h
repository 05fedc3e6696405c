// ScratchDir: a fresh folder under /tmp for one test, removed with everything in it when the
// object goes; and the whole-file reads and writes the tests make in such folders.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "zzplat/paths.h"

namespace zztest {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/zz_test_XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& Path() const { return m_path; }
  fs::path operator/(const std::string& name) const { return m_path / name; }
  std::u16string Wide() const { return zzplat::Utf8ToUtf16Lenient(m_path.string()); }

 private:
  fs::path m_path;
};

inline std::u16string Wide(const fs::path& path) {
  return zzplat::Utf8ToUtf16Lenient(path.string());
}

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace zztest
