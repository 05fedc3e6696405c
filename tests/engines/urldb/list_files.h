// Fixture verbs for list-file tests: a scratch folder, hand-made records, list files
// written through the streamer with any payload, and byte surgery on the scrambled file.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "common/streamer_format.h"
#include "zzplat/paths.h"

namespace zztest {

namespace fs = std::filesystem;

// A folder under /tmp, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/zz_urldb_XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_path = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  const fs::path& Path() const { return m_path; }
  fs::path operator/(const std::string& name) const { return m_path / name; }
  std::u16string Wide() const { return zzplat::Utf8ToUtf16Lenient(m_path.string()); }

 private:
  fs::path m_path;
};

inline std::u16string Wide(const fs::path& path) {
  return zzplat::Utf8ToUtf16Lenient(path.string());
}

inline std::string LittleEndian32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// One list record: operation, key length, key bytes.
inline std::string Record(std::uint32_t operation, const std::string& key) {
  return LittleEndian32(operation) + LittleEndian32(static_cast<std::uint32_t>(key.size())) + key;
}

inline std::string AddRecords(const std::vector<std::string>& keys) {
  std::string payload;
  for (const std::string& key : keys) payload += Record(1, key);
  return payload;
}

// A valid streamer file (digest, scrambling, version 0) around the payload.
inline void WriteListFile(const fs::path& path, const std::string& payload) {
  ascommon::CBinaryStreamer streamer(ascommon::usstring(Wide(path).c_str()),
                                     ascommon::EStreamMode::Write,
                                     ascommon::usstring(Wide(path.parent_path()).c_str()), 0);
  if (!payload.empty()) streamer.WriteString(payload.data(), payload.size());
  streamer.Close();
}

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The plain payload of a list file (unscrambled, header dropped).
inline std::string Payload(const fs::path& path) {
  std::string bytes = ReadBytes(path);
  for (char& c : bytes) c = static_cast<char>(c ^ ascommon::kStreamerScrambleKey);
  return bytes.size() < ascommon::kStreamerHeaderSize
             ? std::string()
             : bytes.substr(ascommon::kStreamerHeaderSize);
}

// Flips one bit of the file as stored (the same bit of the plain form).
inline void FlipBit(const fs::path& path, std::size_t offset, int bit = 0) {
  std::string bytes = ReadBytes(path);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = static_cast<char>(bytes[offset] ^ (1 << bit));
  WriteBytes(path, bytes);
}

}  // namespace zztest
