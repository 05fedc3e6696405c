// File access of the engine: CASFile, a buffered binary file with null-argument checks, and
// the free file-system operations on wide paths in the product's form ("C:\data\x.dat";
// "\" and "/" both separate folders). All OS access goes through zzplat/files.h.
//
// CASFile keeps one 64 KB buffer (from the host allocator; when that allocation fails the
// file works unbuffered, with the same results). Reads and writes of a few bytes are
// memcpy's into or out of it, so a million small values cost milliseconds. Buffered data
// reaches the OS on seek, flush, close and GetStream.
// Ownership: CASFile owns its OS file and buffer; the destructor closes. Free operations
// write into the caller's buffers and arrays. Threads: a CASFile belongs to one thread; the
// free operations are safe from any thread (SetCurrentFolder changes the whole process).
// Failures: CASFile throws on invalid arguments and on open failure; read/write shortfalls
// are reported by the return values. The free operations never throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/ustring.h"
#include "zzplat/files.h"

namespace ascommon {

class CASFile : public CASAllocated {
 public:
  // pMode as fopen: "rb", "wb", "ab", "r+b", "w+b", "a+b". A null argument throws
  // "CASFile constructor - invalid input"; an open failure throws code -551 with the path
  // and the runtime's error text. On success the size is taken from the directory entry.
  CASFile(const char16_t* pPath, const char16_t* pMode);
  ~CASFile();
  CASFile(const CASFile&) = delete;
  CASFile& operator=(const CASFile&) = delete;

  // Elements written / read (fwrite / fread rules: a partial element is not counted).
  // A null buffer throws "CASFile::write - invalid input buffer" ("read" likewise).
  std::size_t write(const void* pBuffer, std::size_t elementSize, std::size_t count) {
    const std::size_t bytes = elementSize * count;
    if (pBuffer != nullptr && m_pBuffer != nullptr && m_bCanWrite && m_readEnd == 0 && bytes != 0 &&
        bytes <= kBufferSize - m_writeLength && (count == 0 || bytes / count == elementSize)) {
      std::memcpy(m_pBuffer + m_writeLength, pBuffer, bytes);
      m_writeLength += bytes;
      return count;
    }
    return WriteSlow(pBuffer, elementSize, count);
  }
  std::size_t read(void* pBuffer, std::size_t elementSize, std::size_t count) {
    const std::size_t bytes = elementSize * count;
    if (pBuffer != nullptr && bytes != 0 && bytes <= m_readEnd - m_readPos &&
        (count == 0 || bytes / count == elementSize)) {
      std::memcpy(pBuffer, m_pBuffer + m_readPos, bytes);
      m_readPos += bytes;
      return count;
    }
    return ReadSlow(pBuffer, elementSize, count);
  }
  // fgets: at most size - 1 bytes, up to and including a line feed, zero-terminated.
  // Returns pBuffer, or null at the end of the file with nothing read (or size < 1).
  char* gets(char* pBuffer, int size);

  // fseek origins: 0 begin, 1 current, 2 end. Returns 0 or -3.
  std::int32_t seek(std::int64_t offset, int origin);
  // The logical position, or -1.
  std::int64_t tell() const;
  // Hands buffered writes to the OS; 0 or -3.
  std::int32_t flush();
  // Flushes and closes once; later calls do nothing.
  void close();

  bool is_open() const noexcept { return m_bOpen; }
  // The OS file, synchronised with the buffer (pending writes flushed, read-ahead given
  // back), so direct use sees the logical position. Not owned by the caller.
  zzplat::File* GetStream();
  // Size from the directory entry at open time (later writes do not change it).
  std::uint64_t GetSize() const noexcept { return m_size; }

  static constexpr std::size_t kBufferSize = 64 * 1024;

 private:
  std::size_t WriteSlow(const void* pBuffer, std::size_t elementSize, std::size_t count);
  std::size_t ReadSlow(void* pBuffer, std::size_t elementSize, std::size_t count);
  bool FlushWrites();
  bool DropReadAhead();

  bool m_bOpen = false;
  bool m_bCanRead = false;  // from the open mode, as a stream would refuse the other way
  bool m_bCanWrite = false;
  zzplat::File m_file;
  std::uint64_t m_size = 0;
  std::uint8_t* m_pBuffer = nullptr;  // Owned (host allocator); null = unbuffered.
  std::size_t m_readPos = 0;          // read state: m_pBuffer[m_readPos, m_readEnd)
  std::size_t m_readEnd = 0;
  std::size_t m_writeLength = 0;  // write state: pending bytes
};

// Element of the file lists: the full path of a file.
struct UFileInfo {
  usstring strPath;
  std::int32_t status() const noexcept { return strPath.status(); }
};

// Longest path ListFiles produces, in units, terminator included.
inline constexpr std::size_t kMaxPathUnits = 260;

// 1 when a directory entry matches the path (wildcards "*" and "?" allowed in the last
// part), with its size in *pSize when pSize is given; else 0. Null path: 0.
std::int32_t FileExists(const char16_t* pPath, std::uint64_t* pSize = nullptr);
// 1 when the path exists and is not a folder, else 0.
std::int32_t IsFile(const char16_t* pPath);
// 1 on success, else 0.
std::int32_t DeleteFile(const char16_t* pPath);
// Renames (replacing an existing target; across file systems copies and deletes). 1 only
// when the move succeeded, else 0.
std::int32_t MoveFile(const char16_t* pFrom, const char16_t* pTo);
// 1 on success (the target is overwritten), else 0.
std::int32_t CopyFile(const char16_t* pFrom, const char16_t* pTo);
// Creates an empty file "<folder>\<prefix><hex>.tmp" with a name unique in the folder and
// writes its path into pOut (size units). 1 on success; 0 when anything fails, including a
// zero size or a path that does not fit (then no file is left behind). A null or empty
// folder means the current folder (".").
std::int32_t GetTempFileName(const char16_t* pFolder, const char16_t* pPrefix, char16_t* pOut,
                             std::size_t size);
// A unique temporary name made a folder: 0 or -3.
std::int32_t CreateTempFolder(const char16_t* pFolder, const char16_t* pPrefix, char16_t* pOut,
                              std::size_t size);
// Without bRecursive removes an empty folder (0 / -3). With it removes every file and
// sub-folder first: 0, -2 (no memory) or -3 (something could not be removed; what came
// before is gone, the rest stays). Symbolic links are removed, never followed; a path that
// is itself a link gives -3.
std::int32_t RemoveFolder(const char16_t* pPath, bool bRecursive);
std::int32_t SetCurrentFolder(const char16_t* pPath);
// The current folder in the product's form ("\" separators), zero-terminated; 0 or -3
// (also when it does not fit into size units).
std::int32_t GetCurrentFolder(char16_t* pBuffer, std::size_t size);
// Appends the full path (the pattern's folder part + name, cut to 259 units) of every
// entry matching the pattern that is not a folder. 0 (also when nothing matches, the array
// then unchanged), -1 for a null pattern, or the failed append's status.
std::int32_t ListFiles(const char16_t* pPattern, CArray<UFileInfo>& arrFiles);
std::int32_t ListFiles(const char16_t* pPattern, CArray<usstring>& arrFiles);

// Loads a library by full path and resolves count entry points into ppProcs. Throws
// ASException code -4 "Could not load library %S", or, releasing the library, code -5
// "Could not load procedures from %S". Returns the handle (release with zzplat::FreeLibrary).
void* LoadLibraryProcs(const char16_t* pPath, const char* const* ppNames, void** ppProcs,
                       std::size_t count);

}  // namespace ascommon
