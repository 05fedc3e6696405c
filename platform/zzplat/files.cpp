// POSIX implementation of the file services (zzplat/files.h). Paths arrive in the
// product's form and are mapped into a fixed buffer (LocalPathBuffer); names read back from
// folders are decoded from UTF-8. Inside the module every allocation comes from the host
// allocator and may fail: the few calls that allocate report that as ENOMEM, never as an
// exception, so callers that promise not to throw can use them. Tested by
// tests/platform/files_test.cpp.
#include "zzplat/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "zzplat/paths.h"

#if defined(_WIN32)
#error "The Windows build maps these calls straight to the Win32 wide file functions."
#endif

namespace zzplat {

namespace {

constexpr std::size_t kCopyChunk = 64 * 1024;

int Errno() { return errno != 0 ? errno : EIO; }

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Parses an fopen mode into open(2) flags; false for an unknown mode.
bool ParseMode(const char16_t* mode, int* flags) {
  if (mode == nullptr) return false;
  int access = 0;
  int extra = 0;
  switch (mode[0]) {
    case u'r':
      access = O_RDONLY;
      break;
    case u'w':
      access = O_WRONLY;
      extra = O_CREAT | O_TRUNC;
      break;
    case u'a':
      access = O_WRONLY;
      extra = O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  for (const char16_t* p = mode + 1; *p != 0; ++p) {
    if (*p == u'+') {
      access = O_RDWR;
    } else if (*p == u'x') {
      extra |= O_EXCL;
    } else if (*p != u'b' && *p != u't') {
      return false;
    }
  }
  *flags = access | extra | O_CLOEXEC;
  return true;
}

// The GNU and the XSI strerror_r differ in their result type.
[[maybe_unused]] const char* PickErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* PickErrorText(const char* result, const char*) { return result; }

// The folder part of a pattern (without the separator; "." when there is none) and the
// name part after the last separator.
void SplitPattern(const char16_t* pattern, std::u16string* folder, std::u16string* name) {
  std::u16string text(pattern);
  std::size_t cut = text.find_last_of(u"\\/");
  if (cut == std::u16string::npos) {
    folder->assign(1, u'.');
    *name = text;
  } else {
    *folder = cut == 0 ? text.substr(0, 1) : text.substr(0, cut);
    *name = text.substr(cut + 1);
  }
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

}  // namespace

int File::Open(const char16_t* path, const char16_t* mode) {
  Close();
  int flags = 0;
  if (path == nullptr || !ParseMode(mode, &flags)) return m_error = EINVAL;
  const LocalPathBuffer local(path);
  if (!local.ok()) return m_error = ENAMETOOLONG;
  const int fd = ::open(local.c_str(), flags, 0666);
  if (fd < 0) return m_error = Errno();
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    return m_error = EISDIR;
  }
  m_fd = fd;
  return m_error = 0;
}

std::size_t File::Read(void* buffer, std::size_t size) {
  std::size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < size) {
    const ssize_t got = ::read(m_fd, out + done, size - done);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      m_error = Errno();
      break;
    }
  }
  return done;
}

std::size_t File::Write(const void* buffer, std::size_t size) {
  std::size_t done = 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (done < size) {
    const ssize_t put = ::write(m_fd, in + done, size - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (put == 0 || errno != EINTR) {
      m_error = put == 0 ? EIO : Errno();
      break;
    }
  }
  return done;
}

bool File::Seek(std::int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  if (::lseek(m_fd, static_cast<off_t>(offset), whence) < 0) {
    m_error = Errno();
    return false;
  }
  return true;
}

std::int64_t File::Tell() const { return ::lseek(m_fd, 0, SEEK_CUR); }

std::int64_t File::Size() const {
  struct stat info;
  if (::fstat(m_fd, &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

int File::Close() {
  if (m_fd < 0) return 0;
  const int result = ::close(m_fd) == 0 ? 0 : Errno();
  m_fd = -1;
  return result;
}

std::string ErrorText(int error) {
  char buffer[256] = {};
  return PickErrorText(strerror_r(error, buffer, sizeof(buffer)), buffer);
}

int GetFileStatus(const char16_t* path, FileStatus* status) {
  if (path == nullptr) return EINVAL;
  struct stat info;
  const LocalPathBuffer local(path);
  if (!local.ok()) return ENAMETOOLONG;
  if (::stat(local.c_str(), &info) != 0) return Errno();
  if (status != nullptr) {
    status->isDirectory = S_ISDIR(info.st_mode);
    status->size = static_cast<std::uint64_t>(info.st_size);
  }
  return 0;
}

bool IsSymbolicLink(const char16_t* path) {
  if (path == nullptr) return false;
  const LocalPathBuffer local(path);
  struct stat info;
  return local.ok() && ::lstat(local.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool Exists(const char16_t* path) { return GetFileStatus(path, nullptr) == 0; }

bool IsDirectory(const char16_t* path) {
  FileStatus status;
  return GetFileStatus(path, &status) == 0 && status.isDirectory;
}

int RemoveFile(const char16_t* path) {
  if (path == nullptr) return EINVAL;
  const LocalPathBuffer local(path);
  if (!local.ok()) return ENAMETOOLONG;
  return ::unlink(local.c_str()) == 0 ? 0 : Errno();
}

int CopyFile(const char16_t* from, const char16_t* to) {
  try {
    if (from == nullptr || to == nullptr) return EINVAL;
    File source;
    if (int error = source.Open(from, u"rb")) return error;
    // Opening the target would truncate the source when both name one file.
    struct stat sourceInfo, targetInfo;
    const LocalPathBuffer localFrom(from), localTo(to);
    if (::stat(localFrom.c_str(), &sourceInfo) == 0 &&
        ::stat(localTo.c_str(), &targetInfo) == 0 && sourceInfo.st_dev == targetInfo.st_dev &&
        sourceInfo.st_ino == targetInfo.st_ino) {
      return EINVAL;
    }
    File target;
    if (int error = target.Open(to, u"wb")) return error;
    std::vector<unsigned char> chunk(kCopyChunk);
    for (;;) {
      const std::size_t got = source.Read(chunk.data(), chunk.size());
      if (source.LastError() != 0) return source.LastError();
      if (got == 0) break;
      if (target.Write(chunk.data(), got) != got) return target.LastError();
    }
    return target.Close();
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

int RenameFile(const char16_t* from, const char16_t* to) {
  if (from == nullptr || to == nullptr) return EINVAL;
  const LocalPathBuffer localFrom(from), localTo(to);
  if (!localFrom.ok() || !localTo.ok()) return ENAMETOOLONG;
  if (::rename(localFrom.c_str(), localTo.c_str()) == 0) return 0;
  if (errno != EXDEV) return Errno();
  if (IsDirectory(from)) return EXDEV;
  if (int error = CopyFile(from, to)) return error;
  return RemoveFile(from);
}

int CreateDirectory(const char16_t* path) {
  if (path == nullptr) return EINVAL;
  const LocalPathBuffer local(path);
  if (!local.ok()) return ENAMETOOLONG;
  return ::mkdir(local.c_str(), 0777) == 0 ? 0 : Errno();
}

int RemoveDirectory(const char16_t* path) {
  if (path == nullptr) return EINVAL;
  const LocalPathBuffer local(path);
  if (!local.ok()) return ENAMETOOLONG;
  return ::rmdir(local.c_str()) == 0 ? 0 : Errno();
}

int SetCurrentDirectory(const char16_t* path) {
  if (path == nullptr) return EINVAL;
  const LocalPathBuffer local(path);
  if (!local.ok()) return ENAMETOOLONG;
  return ::chdir(local.c_str()) == 0 ? 0 : Errno();
}

int GetCurrentDirectory(std::u16string* path) {
  try {
    std::vector<char> buffer(1024);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE || buffer.size() > (1u << 20)) return Errno();
      buffer.resize(buffer.size() * 2);
    }
    *path = Utf8ToUtf16Lenient(buffer.data());
    for (char16_t& c : *path) {
      if (c == u'/') c = u'\\';
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

bool MatchWildcard(const char16_t* pattern, const char16_t* name) {
  if (pattern == nullptr || name == nullptr) return false;
  if (std::u16string_view(pattern) == u"*.*") pattern = u"*";
  // Greedy scan with one backtrack point (the last "*"): linear in practice,
  // O(pattern x name) at worst.
  const char16_t* starPattern = nullptr;
  const char16_t* starName = nullptr;
  while (*name != 0) {
    if (*pattern == u'*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern != 0 && (*pattern == u'?' || FoldAscii(*pattern) == FoldAscii(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern != nullptr) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == u'*') ++pattern;
  return *pattern == 0;
}

int FindFiles::Open(const char16_t* pattern) {
  try {
    m_entries.clear();
    m_next = 0;
    if (pattern == nullptr) return EINVAL;
    std::u16string folder, namePattern;
    SplitPattern(pattern, &folder, &namePattern);
    if (namePattern.empty()) return ENOENT;
    const std::string localFolder = LocalPath(folder.c_str());
    // Closed on every path, also when memory runs out while the entries are copied.
    const std::unique_ptr<DIR, int (*)(DIR*)> opened(::opendir(localFolder.c_str()), ::closedir);
    DIR* dir = opened.get();
    if (dir == nullptr) return Errno();
    int readError = 0;
    for (;;) {
      errno = 0;
      const dirent* item = ::readdir(dir);
      if (item == nullptr) {
        readError = errno;
        break;
      }
      DirEntry entry;
      entry.name = Utf8ToUtf16Lenient(item->d_name);
      if (!MatchWildcard(namePattern.c_str(), entry.name.c_str())) continue;
      struct stat info;
      entry.isLink = item->d_type == DT_LNK;
      if (item->d_type == DT_UNKNOWN &&
          ::fstatat(::dirfd(dir), item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.isLink = S_ISLNK(info.st_mode);
      }
      if (::fstatat(::dirfd(dir), item->d_name, &info, 0) == 0) {
        entry.isDirectory = S_ISDIR(info.st_mode);
        entry.size = static_cast<std::uint64_t>(info.st_size);
      } else {
        entry.isDirectory = item->d_type == DT_DIR;
      }
      m_entries.push_back(std::move(entry));
    }
    if (readError != 0) return readError;
    return m_entries.empty() ? ENOENT : 0;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

bool FindFiles::Next(DirEntry* entry) {
  try {
    if (m_next >= m_entries.size()) return false;
    *entry = std::move(m_entries[m_next++]);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int CreateTempFile(const char16_t* folder, const char16_t* prefix, std::u16string* path) {
  try {
    if (path == nullptr) return EINVAL;
    // One process-wide counter, started at a clock- and process-dependent value; exclusive
    // creation settles races with other processes.
    static std::atomic<std::uint32_t> counter{
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                                   (static_cast<std::uint32_t>(::getpid()) << 16))};
    std::u16string base = (folder == nullptr || *folder == 0) ? u"." : folder;
    if (!IsSeparator(base.back())) base += u'\\';
    if (prefix != nullptr) base += prefix;
    for (int attempt = 0; attempt < 65536; ++attempt) {
      std::uint32_t unique = counter.fetch_add(1, std::memory_order_relaxed);
      if (unique == 0) continue;
      char hex[16];
      std::snprintf(hex, sizeof(hex), "%X", static_cast<unsigned>(unique));
      std::u16string candidate = base;
      for (const char* p = hex; *p != 0; ++p) candidate += static_cast<char16_t>(*p);
      candidate += u".tmp";
      const int fd =
          ::open(LocalPath(candidate.c_str()).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        *path = std::move(candidate);
        return 0;
      }
      if (errno != EEXIST) return Errno();
    }
    return EEXIST;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

}  // namespace zzplat
