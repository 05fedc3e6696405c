#include "exe_path.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "errors.h"

namespace zzhost {

std::string ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw HostError("cannot find the executable's folder: " + ec.message());
  return exe.parent_path().string();
}

std::string TempDir() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec || dir.empty()) return "/tmp";
  std::string text = dir.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

}  // namespace zzhost
