// Operating-system file services on wide paths in the product's form ("C:\data\x.dat";
// mapped with zzplat::LocalPath, so "\" and "/" both separate folders), with Win32
// semantics where the engine relies on them: case-insensitive wildcard enumeration,
// unique temporary names that create their file, rename replacing the target.
//
// File is a thin, unbuffered handle over a file descriptor (buffering is the caller's:
// ascommon::CASFile). Errors are errno values (0 = success). All functions are safe from
// any thread; one File object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zzplat {

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // fopen modes: "r", "w", "a", with "+" for both directions; "b" and "t" are ignored.
  // Returns 0 or an errno value (EINVAL for a bad mode, EISDIR for a folder).
  int Open(const char16_t* path, const char16_t* mode);
  bool IsOpen() const noexcept { return m_fd >= 0; }
  // Bytes transferred; fewer than asked at the end of the file or on error (LastError).
  std::size_t Read(void* buffer, std::size_t size);
  std::size_t Write(const void* buffer, std::size_t size);
  // true on success.
  bool Seek(std::int64_t offset, SeekOrigin origin);
  std::int64_t Tell() const;  // -1 on error
  std::int64_t Size() const;  // -1 on error
  // 0 or an errno value; closing a closed file is 0.
  int Close();
  int LastError() const noexcept { return m_error; }

 private:
  int m_fd = -1;
  int m_error = 0;
};

// The runtime's text for an errno value.
std::string ErrorText(int error);

struct FileStatus {
  bool isDirectory = false;
  std::uint64_t size = 0;
};
// 0 and the status, or an errno value (ENOENT when nothing is there).
int GetFileStatus(const char16_t* path, FileStatus* status);
bool Exists(const char16_t* path);
bool IsDirectory(const char16_t* path);
// true when the path itself is a symbolic link (whatever it points to, even nothing).
bool IsSymbolicLink(const char16_t* path);

// Each returns 0 or an errno value.
int RemoveFile(const char16_t* path);                      // files only
int RenameFile(const char16_t* from, const char16_t* to);  // replaces an existing target
int CopyFile(const char16_t* from, const char16_t* to);    // overwrites the target
int CreateDirectory(const char16_t* path);
int RemoveDirectory(const char16_t* path);  // empty folders only
int SetCurrentDirectory(const char16_t* path);
// The current folder in the product's form ("/" written as "\").
int GetCurrentDirectory(std::u16string* path);

// Win32 wildcard match of one name: "*" any run, "?" one unit, ASCII letters compared
// without case; "*.*" matches every name (also names without a dot).
bool MatchWildcard(const char16_t* pattern, const char16_t* name);

struct DirEntry {
  std::u16string name;
  bool isDirectory = false;  // also for a link to a folder
  bool isLink = false;       // the entry itself is a symbolic link
  std::uint64_t size = 0;
};

// Entries of one folder matching the last part of a pattern ("data\pc*.slf", "dir\*"),
// in the order the OS lists them, "." and ".." included when they match. The folder is read
// whole at Open, so deleting entries while walking is safe.
class FindFiles {
 public:
  // 0, or an errno value (ENOENT when the folder is missing or nothing matches).
  int Open(const char16_t* pattern);
  // The next entry; false when none remain.
  bool Next(DirEntry* entry);

 private:
  std::vector<DirEntry> m_entries;
  std::size_t m_next = 0;
};

// Creates "<folder>\<prefix><hex>.tmp" exclusively (so the name is unique even against
// other threads and processes) and returns its path in the product's form. A null or
// empty folder is ".". 0 or an errno value.
int CreateTempFile(const char16_t* folder, const char16_t* prefix, std::u16string* path);

}  // namespace zzplat
