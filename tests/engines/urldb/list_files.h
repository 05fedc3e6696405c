// Fixture verbs for list-file tests: hand-made records, list files written through the
// streamer with any payload, and byte surgery on the scrambled file (scratch folders and
// whole-file reads and writes come from support/scratch_dir.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "common/streamer_format.h"
#include "support/scratch_dir.h"
#include "zzplat/paths.h"

namespace zztest {

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
