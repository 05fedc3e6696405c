// The build's bin folder, where the tests, the host, the module and the stand-in libraries
// sit together: $ZAZOZOR_BIN, else the folder of the running test program. And the source
// tree the tests were built from, for the sample data under data/.
#pragma once

#include <cstdlib>
#include <filesystem>

namespace zztest {

inline std::filesystem::path BinDir() {
  const char* bin = std::getenv("ZAZOZOR_BIN");
  if (bin != nullptr && *bin != '\0') return bin;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

inline std::filesystem::path SourceDir() {
#ifdef ZAZOZOR_SOURCE_DIR
  return ZAZOZOR_SOURCE_DIR;
#else
  return std::filesystem::current_path();
#endif
}

}  // namespace zztest
