// Where the running host lives and which folders it uses by default. Linux: the executable
// is found through /proc/self/exe. Pure functions over the process's state; thread-safe.
#pragma once

#include <string>

namespace zzhost {

// The absolute folder of the running executable. Throws HostError when it cannot be found.
std::string ExecutableDir();
// The system's temporary folder (TMPDIR, else /tmp).
std::string TempDir();
// path made absolute against the working folder (unchanged when already absolute).
std::string AbsolutePath(const std::string& path);

}  // namespace zzhost
