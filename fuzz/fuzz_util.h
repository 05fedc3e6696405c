// Shared verbs of the fuzz targets: a failed property aborts with a message (libFuzzer saves
// the input as a crash), a scratch folder that lives as long as the fuzzing process, files
// written into it, and list/category files built around a fuzzed payload with the streamer.
// One fuzzing process runs one input at a time; nothing here is thread-safe.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "common/binstreamer.h"
#include "zzplat/paths.h"

// Inputs above this size are skipped: the parsers are linear, and small inputs keep the
// executions per second high.
inline constexpr std::size_t kFuzzMaxInput = 64 * 1024;

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace zzfuzz {

namespace fs = std::filesystem;

// The process's scratch folder under /tmp, removed when the process exits normally.
inline const fs::path& ScratchDir() {
  static const fs::path dir = [] {
    char pattern[] = "/tmp/zz_fuzz_XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(ScratchDir(), ec);
    });
    return fs::path(pattern);
  }();
  return dir;
}

inline std::u16string Wide(const fs::path& path) {
  return zzplat::Utf8ToUtf16Lenient(path.string());
}

inline void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

// A valid streamer file (digest, scrambling, version 0) around the payload, so that the
// fuzzer reaches the record readers instead of stopping at the digest.
inline void WriteStreamerFile(const fs::path& path, std::string_view payload) {
  ascommon::CBinaryStreamer streamer(ascommon::usstring(Wide(path).c_str()),
                                     ascommon::EStreamMode::Write,
                                     ascommon::usstring(Wide(path.parent_path()).c_str()), 0);
  if (!payload.empty()) streamer.WriteString(payload.data(), payload.size());
  streamer.Close();
}

// The first byte chooses how a data-file input is used: odd writes the rest as the file's
// bytes exactly as stored (header, digest and scrambling fuzzed too), even wraps the rest
// as the payload of a valid streamer file.
inline void WriteDataFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    WriteBytes(path, rest);
  } else {
    WriteStreamerFile(path, rest);
  }
}

// No streamer temporary file ("kvtz*.tmp") may outlive a load, whatever it read.
inline void CheckNoTempFiles() {
  for (const fs::directory_entry& entry : fs::directory_iterator(ScratchDir())) {
    const std::string name = entry.path().filename().string();
    FUZZ_CHECK(name.rfind("kvtz", 0) != 0);
  }
}

}  // namespace zzfuzz
