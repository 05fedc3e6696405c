// CASFile (a buffered file) and the free file operations over zzplat/files.h.
//
// Buffering: one 64 KB block is either read-ahead (m_readPos..m_readEnd) or pending writes
// (m_writeLength), never both; switching direction, seeking and closing settle it first, so
// the bytes on disk and the positions are those of unbuffered calls. Transfers of a buffer
// or more bypass the block. Tested by tests/common/asfile_test.cpp.
#include "common/asfile.h"

#include <cstring>
#include <string>

#include "common/astrace.h"
#include "zzplat/dynlib.h"

namespace ascommon {

CASFile::CASFile(const char16_t* pPath, const char16_t* pMode) {
  if (pPath == nullptr || pMode == nullptr) {
    AS_THROW(0, ASException, "CASFile constructor - invalid input");
  }
  const int error = m_file.Open(pPath, pMode);
  if (error != 0) {
    AS_THROW_CODE(0, ASException, -551, "could not open %S: %s", pPath,
                  zzplat::ErrorText(error).c_str());
  }
  const std::int64_t size = m_file.Size();
  m_size = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  bool bUpdate = false;
  for (const char16_t* p = pMode; *p != 0; ++p) bUpdate = bUpdate || *p == u'+';
  m_bCanRead = bUpdate || pMode[0] == u'r';
  m_bCanWrite = bUpdate || pMode[0] != u'r';
  // Without the block the file simply runs unbuffered.
  m_pBuffer = static_cast<std::uint8_t*>(as_alloc_nt(kBufferSize));
  m_bOpen = true;
}

CASFile::~CASFile() { close(); }

bool CASFile::FlushWrites() {
  if (m_writeLength == 0) return true;
  const std::size_t pending = m_writeLength;
  m_writeLength = 0;
  return m_file.Write(m_pBuffer, pending) == pending;
}

bool CASFile::DropReadAhead() {
  const std::size_t unread = m_readEnd - m_readPos;
  m_readPos = m_readEnd = 0;
  return unread == 0 ||
         m_file.Seek(-static_cast<std::int64_t>(unread), zzplat::SeekOrigin::Current);
}

std::size_t CASFile::WriteSlow(const void* pBuffer, std::size_t elementSize, std::size_t count) {
  if (pBuffer == nullptr) AS_THROW(0, ASException, "CASFile::write - invalid input buffer");
  if (!m_bOpen || !m_bCanWrite || elementSize == 0 || count == 0) return 0;
  if (count > static_cast<std::size_t>(-1) / elementSize) return 0;
  const std::size_t bytes = elementSize * count;
  if (m_readEnd != 0 && !DropReadAhead()) return 0;
  if (m_pBuffer != nullptr && bytes < kBufferSize) {
    if (bytes > kBufferSize - m_writeLength && !FlushWrites()) return 0;
    std::memcpy(m_pBuffer + m_writeLength, pBuffer, bytes);
    m_writeLength += bytes;
    return count;
  }
  if (!FlushWrites()) return 0;
  return m_file.Write(pBuffer, bytes) / elementSize;
}

std::size_t CASFile::ReadSlow(void* pBuffer, std::size_t elementSize, std::size_t count) {
  if (pBuffer == nullptr) AS_THROW(0, ASException, "CASFile::read - invalid input buffer");
  if (!m_bOpen || !m_bCanRead || elementSize == 0 || count == 0) return 0;
  if (count > static_cast<std::size_t>(-1) / elementSize) return 0;
  const std::size_t bytes = elementSize * count;
  if (!FlushWrites()) return 0;
  auto* out = static_cast<std::uint8_t*>(pBuffer);
  std::size_t done = m_readEnd - m_readPos;
  if (done != 0) std::memcpy(out, m_pBuffer + m_readPos, done);
  m_readPos = m_readEnd = 0;
  const std::size_t rest = bytes - done;
  if (m_pBuffer == nullptr || rest >= kBufferSize) {
    done += m_file.Read(out + done, rest);
  } else {
    m_readEnd = m_file.Read(m_pBuffer, kBufferSize);
    m_readPos = rest < m_readEnd ? rest : m_readEnd;
    std::memcpy(out + done, m_pBuffer, m_readPos);
    done += m_readPos;
  }
  return done / elementSize;
}

char* CASFile::gets(char* pBuffer, int size) {
  if (pBuffer == nullptr) AS_THROW(0, ASException, "CASFile::gets - invalid input buffer");
  if (size < 1 || !m_bOpen) return nullptr;
  int length = 0;
  char c = 0;
  while (length < size - 1 && read(&c, 1, 1) == 1) {
    pBuffer[length++] = c;
    if (c == '\n') break;
  }
  if (length == 0 && size > 1) return nullptr;
  pBuffer[length] = '\0';
  return pBuffer;
}

std::int32_t CASFile::seek(std::int64_t offset, int origin) {
  if (!m_bOpen || origin < 0 || origin > 2) return -3;
  // A relative seek counts from the logical position, not the OS one.
  if (origin == 1) offset -= static_cast<std::int64_t>(m_readEnd - m_readPos);
  m_readPos = m_readEnd = 0;
  if (!FlushWrites()) return -3;
  return m_file.Seek(offset, static_cast<zzplat::SeekOrigin>(origin)) ? 0 : -3;
}

std::int64_t CASFile::tell() const {
  if (!m_bOpen) return -1;
  const std::int64_t position = m_file.Tell();
  if (position < 0) return -1;
  return position + static_cast<std::int64_t>(m_writeLength) -
         static_cast<std::int64_t>(m_readEnd - m_readPos);
}

std::int32_t CASFile::flush() {
  if (!m_bOpen) return -3;
  return FlushWrites() ? 0 : -3;
}

void CASFile::close() {
  if (!m_bOpen) return;
  FlushWrites();
  m_file.Close();
  as_free(m_pBuffer);
  m_pBuffer = nullptr;
  m_readPos = m_readEnd = 0;
  m_bOpen = false;
}

zzplat::File* CASFile::GetStream() {
  if (m_bOpen) {
    FlushWrites();
    DropReadAhead();
  }
  return &m_file;
}

// ---------------------------------------------------------------------------------------
// Free operations

namespace {

bool HasWildcard(const char16_t* pPath) {
  for (const char16_t* p = pPath; *p != 0; ++p) {
    if (*p == u'*' || *p == u'?') return true;
  }
  return false;
}

bool CopyOut(const std::u16string& text, char16_t* pOut, std::size_t size) {
  if (pOut == nullptr || text.size() + 1 > size) return false;
  std::memcpy(pOut, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return true;
}

std::int32_t AppendPath(CArray<usstring>& arrFiles, const char16_t* pPath, std::size_t length) {
  usstring strPath(pPath, length);
  if (strPath.status() != 0) return -2;
  return arrFiles.Add(strPath);
}

std::int32_t AppendPath(CArray<UFileInfo>& arrFiles, const char16_t* pPath, std::size_t length) {
  UFileInfo info;
  if (info.strPath.assign(pPath, length) != 0) return -2;
  return arrFiles.Add(info);
}

template <class Array>
std::int32_t ListFilesInto(const char16_t* pPattern, Array& arrFiles) {
  if (pPattern == nullptr) return -1;
  zzplat::FindFiles finder;
  if (finder.Open(pPattern) != 0) return 0;  // nothing matches
  std::size_t folderLength = 0;
  for (std::size_t i = 0; pPattern[i] != 0; ++i) {
    if (pPattern[i] == u'\\' || pPattern[i] == u'/') folderLength = i + 1;
  }
  char16_t path[kMaxPathUnits];
  zzplat::DirEntry entry;
  while (finder.Next(&entry)) {
    if (entry.isDirectory) continue;
    std::size_t length = 0;
    for (std::size_t i = 0; i < folderLength && length + 1 < kMaxPathUnits; ++i) {
      path[length++] = pPattern[i];
    }
    for (char16_t c : entry.name) {
      if (length + 1 >= kMaxPathUnits) break;
      path[length++] = c;
    }
    path[length] = 0;
    const std::int32_t status = AppendPath(arrFiles, path, length);
    if (status != 0) return status;
  }
  return 0;
}

// "<folder>\<name>" in a buffer of kEntryPathUnits; false when it does not fit.
constexpr std::size_t kEntryPathUnits = 1024;
bool JoinEntryPath(const char16_t* pFolder, const std::u16string& name, char16_t* pOut) {
  std::size_t length = 0;
  for (const char16_t* p = pFolder; *p != 0; ++p) {
    if (length + 1 >= kEntryPathUnits) return false;
    pOut[length++] = *p;
  }
  if (length + 1 + name.size() + 1 > kEntryPathUnits) return false;
  pOut[length++] = u'\\';
  std::memcpy(pOut + length, name.c_str(), (name.size() + 1) * sizeof(char16_t));
  return true;
}

}  // namespace

std::int32_t FileExists(const char16_t* pPath, std::uint64_t* pSize) {
  if (pPath == nullptr) return 0;
  if (HasWildcard(pPath)) {
    zzplat::FindFiles finder;
    zzplat::DirEntry entry;
    if (finder.Open(pPath) != 0 || !finder.Next(&entry)) return 0;
    if (pSize != nullptr) *pSize = entry.size;
    return 1;
  }
  zzplat::FileStatus status;
  if (zzplat::GetFileStatus(pPath, &status) != 0) return 0;
  if (pSize != nullptr) *pSize = status.size;
  return 1;
}

std::int32_t IsFile(const char16_t* pPath) {
  zzplat::FileStatus status;
  return pPath != nullptr && zzplat::GetFileStatus(pPath, &status) == 0 && !status.isDirectory ? 1
                                                                                               : 0;
}

std::int32_t DeleteFile(const char16_t* pPath) {
  return pPath != nullptr && zzplat::RemoveFile(pPath) == 0 ? 1 : 0;
}

std::int32_t MoveFile(const char16_t* pFrom, const char16_t* pTo) {
  // A completed rename leaves no source behind, so no separate deletion is needed.
  return pFrom != nullptr && pTo != nullptr && zzplat::RenameFile(pFrom, pTo) == 0 ? 1 : 0;
}

std::int32_t CopyFile(const char16_t* pFrom, const char16_t* pTo) {
  return pFrom != nullptr && pTo != nullptr && zzplat::CopyFile(pFrom, pTo) == 0 ? 1 : 0;
}

std::int32_t GetTempFileName(const char16_t* pFolder, const char16_t* pPrefix, char16_t* pOut,
                             std::size_t size) {
  if (pOut == nullptr || size == 0) return 0;
  std::u16string path;
  if (zzplat::CreateTempFile(pFolder, pPrefix, &path) != 0) return 0;
  if (!CopyOut(path, pOut, size)) {
    zzplat::RemoveFile(path.c_str());
    return 0;
  }
  return 1;
}

std::int32_t CreateTempFolder(const char16_t* pFolder, const char16_t* pPrefix, char16_t* pOut,
                              std::size_t size) {
  if (GetTempFileName(pFolder, pPrefix, pOut, size) != 1) return -3;
  DeleteFile(pOut);
  return zzplat::CreateDirectory(pOut) == 0 ? 0 : -3;
}

std::int32_t RemoveFolder(const char16_t* pPath, bool bRecursive) {
  if (pPath == nullptr) return -1;
  if (!bRecursive) return zzplat::RemoveDirectory(pPath) == 0 ? 0 : -3;
  // Links are never followed: a link named as the folder is not a folder to empty (what it
  // points to may lie anywhere), and a link inside is removed as the link itself below.
  if (zzplat::IsSymbolicLink(pPath)) return -3;

  // Recursion depth is bounded by the 1024-unit entry paths (at most ~512 levels).
  std::size_t length = 0;
  while (pPath[length] != 0) ++length;
  auto* pPattern = as_alloc_array_nt<char16_t>(length + 3);
  if (pPattern == nullptr) return -2;
  std::memcpy(pPattern, pPath, length * sizeof(char16_t));
  std::memcpy(pPattern + length, u"\\*", 3 * sizeof(char16_t));
  zzplat::FindFiles finder;
  const int opened = finder.Open(pPattern);
  as_free(pPattern);
  if (opened != 0) return -3;

  char16_t entryPath[kEntryPathUnits];
  zzplat::DirEntry entry;
  while (finder.Next(&entry)) {
    if (entry.name == u"." || entry.name == u"..") continue;
    if (!JoinEntryPath(pPath, entry.name, entryPath)) return -3;
    if (entry.isDirectory && !entry.isLink) {
      const std::int32_t status = RemoveFolder(entryPath, true);
      if (status != 0) return status;
    } else if (DeleteFile(entryPath) != 1) {
      return -3;
    }
  }
  // The listing ran out of entries: the folder is empty now.
  return RemoveFolder(pPath, false);
}

std::int32_t SetCurrentFolder(const char16_t* pPath) {
  return pPath != nullptr && zzplat::SetCurrentDirectory(pPath) == 0 ? 0 : -3;
}

std::int32_t GetCurrentFolder(char16_t* pBuffer, std::size_t size) {
  std::u16string path;
  if (zzplat::GetCurrentDirectory(&path) != 0) return -3;
  return CopyOut(path, pBuffer, size) ? 0 : -3;
}

std::int32_t ListFiles(const char16_t* pPattern, CArray<UFileInfo>& arrFiles) {
  return ListFilesInto(pPattern, arrFiles);
}

std::int32_t ListFiles(const char16_t* pPattern, CArray<usstring>& arrFiles) {
  return ListFilesInto(pPattern, arrFiles);
}

void* LoadLibraryProcs(const char16_t* pPath, const char* const* ppNames, void** ppProcs,
                       std::size_t count) {
  zzplat::LibraryHandle library = pPath != nullptr ? zzplat::LoadLibraryW(pPath) : nullptr;
  if (library == nullptr) {
    AS_THROW_CODE(0, ASException, -4, "Could not load library %S", pPath);
  }
  for (std::size_t i = 0; i < count; ++i) {
    ppProcs[i] = ppNames[i] != nullptr ? zzplat::GetProcAddress(library, ppNames[i]) : nullptr;
    if (ppProcs[i] == nullptr) {
      zzplat::FreeLibrary(library);
      AS_THROW_CODE(0, ASException, -5, "Could not load procedures from %S", pPath);
    }
  }
  return library;
}

}  // namespace ascommon
