// CDictReader and CDictWriter: the buffered byte streams the dictionary file, its text
// list and its printed summary go through (over zzplat::File, so any path of the product's
// form works and no open failure throws or traces on its own).
//
// Each keeps one 64 KB block from the host allocator; without it they work unbuffered,
// with the same results. Reads of a few bytes are memcpy's from the block, so reading a
// million-word file costs one system call per 64 KB.
// Ownership: each owns its OS file and block; the destructor closes (a writer's pending
// bytes are then flushed, errors ignored: call Finish to see them).
// Threads: an object belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"
#include "zzplat/files.h"

namespace nsEngineBayesClassifier {

class CDictReader : public ascommon::CASAllocated {
 public:
  CDictReader() noexcept = default;
  ~CDictReader();
  CDictReader(const CDictReader&) = delete;
  CDictReader& operator=(const CDictReader&) = delete;

  // fopen-style mode ("rb", "r+b", "r"). Returns 0 or an errno value.
  int Open(const char16_t* pPath, const char16_t* pMode) noexcept;
  // Bytes delivered, fewer than size only at the end of the file or on an error.
  std::size_t ReadSome(void* pBuffer, std::size_t size) noexcept;
  bool Read(void* pBuffer, std::size_t size) noexcept { return ReadSome(pBuffer, size) == size; }
  // fgets: at most size - 1 bytes up to and including a line feed, zero-terminated;
  // null at the end of the file with nothing read.
  char* Gets(char* pBuffer, std::size_t size) noexcept;
  // File size in bytes, or -1.
  std::int64_t Size() const noexcept { return m_file.Size(); }
  void Close() noexcept;

 private:
  bool Fill() noexcept;

  zzplat::File m_file;
  std::uint8_t* m_pBuffer = nullptr;  // Owned; null = unbuffered.
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
};

class CDictWriter : public ascommon::CASAllocated {
 public:
  CDictWriter() noexcept = default;
  ~CDictWriter();
  CDictWriter(const CDictWriter&) = delete;
  CDictWriter& operator=(const CDictWriter&) = delete;

  // fopen-style mode ("wb", "w"). Returns 0 or an errno value.
  int Open(const char16_t* pPath, const char16_t* pMode) noexcept;
  // False when the bytes could not be handed on (the writer then refuses everything).
  bool Write(const void* pBuffer, std::size_t size) noexcept;
  bool WriteU32(std::uint32_t value) noexcept;  // little-endian
  // Flushes and closes; false when any write or the close failed.
  bool Finish() noexcept;

 private:
  bool Flush() noexcept;

  zzplat::File m_file;
  std::uint8_t* m_pBuffer = nullptr;  // Owned; null = unbuffered.
  std::size_t m_length = 0;
  bool m_failed = false;
};

}  // namespace nsEngineBayesClassifier
