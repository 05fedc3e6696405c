// CBinaryStreamer: opening (temporary name, header, unscramble + digest check), the value
// operations, and closing (digest, scrambling).
//
// Whole-file steps (files of at most 50 MB) walk the file in 1 MB blocks, so opening and
// closing cost O(file size) time and at most 1 MB of memory; each value afterwards is a
// few-byte copy through CASFile's buffer. Tested by tests/common/binstreamer_test.cpp.
#include "common/binstreamer.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <optional>

#include "common/asformat.h"
#include "common/astrace.h"
#include "common/convert.h"
#include "common/md5.h"

static_assert(std::endian::native == std::endian::little,
              "values are stored in the machine's layout, which the file format fixes as "
              "little-endian");

namespace ascommon {

namespace {

// Owns one block of the host allocator for the length of a scope.
class CBlock {
 public:
  explicit CBlock(void* pBlock) noexcept : m_pBlock(pBlock) {}
  ~CBlock() { as_free(m_pBlock); }
  CBlock(const CBlock&) = delete;
  CBlock& operator=(const CBlock&) = delete;
  template <class T>
  T* get() const noexcept {
    return static_cast<T*>(m_pBlock);
  }

 private:
  void* m_pBlock;
};

// Longest formatted text of Printf / WPrintf.
constexpr std::size_t kMaxFormatted = 16 * 1024 * 1024;

// Formats into a block of the host allocator that grows until the text fits (FormatV
// reports only what it wrote). Returns the block (caller frees) and its text length, or
// null when memory runs out.
char* FormatAlloc(const char* format, std::va_list args, std::size_t& length) {
  for (std::size_t size = 1024; size <= kMaxFormatted; size *= 2) {
    char* pText = static_cast<char*>(as_alloc_nt(size));
    if (pText == nullptr) return nullptr;
    std::va_list copy;
    va_copy(copy, args);
    length = FormatV(pText, size, format, copy);
    va_end(copy);
    if (length + 1 < size || size == kMaxFormatted) return pText;
    as_free(pText);
  }
  return nullptr;
}

// XORs every byte with the scrambling key, eight at a time.
void Unscramble(std::uint8_t* pBytes, std::size_t n) noexcept {
  constexpr std::uint64_t kKey8 = 0x0101010101010101ull * kStreamerScrambleKey;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, pBytes + i, 8);
    word ^= kKey8;
    std::memcpy(pBytes + i, &word, 8);
  }
  for (; i < n; ++i) pBytes[i] ^= kStreamerScrambleKey;
}

// Size of a plain file through FileExists (as the directory entry tells it).
bool FileSize(const usstring& strPath, std::uint64_t& size) {
  return strPath.c_str() != nullptr && FileExists(strPath.c_str(), &size) == 1;
}

}  // namespace

CBinaryStreamer::CBinaryStreamer(const usstring& strPath, EStreamMode mode,
                                 const usstring& strTempFolder, std::uint32_t version)
    : m_mode(mode), m_strPath(strPath), m_strTempFolder(strTempFolder), m_version(version) {
  if (m_strPath.status() != 0 || m_strTempFolder.status() != 0) {
    AS_THROW(0, ASMemException, "could not copy the file names");
  }
  const char16_t* pFolder = m_strTempFolder.empty() ? u"." : m_strTempFolder.c_str();
  char16_t tempName[1024];
  if (::ascommon::GetTempFileName(pFolder, kStreamerTempPrefix, tempName, 1024) != 1) {
    AS_THROW(0, ASFileException, "Could not create a temp filename in folder \"%S\"", pFolder);
  }
  if (m_strTempFile.assign(tempName) != 0) {
    DeleteFile(tempName);
    AS_THROW(0, ASMemException, "could not copy the file names");
  }
  AS_TRACE(3, "Bin Streamer temp file: %S", tempName);
  try {
    if (m_mode == EStreamMode::Write) {
      OpenForWrite();
    } else {
      OpenForRead();
    }
  } catch (...) {
    DiscardFiles();
    throw;
  }
}

CBinaryStreamer::~CBinaryStreamer() {
  try {
    Close();
  } catch (...) {
    // Already traced at the throw site; a destructor cannot report further.
  }
  DiscardFiles();
}

void CBinaryStreamer::DiscardFiles() noexcept {
  delete m_pFile;  // closes
  m_pFile = nullptr;
  m_bOpen = false;
  if (m_strTempFile.empty()) return;
  try {
    DeleteFile(m_strTempFile.c_str());
  } catch (...) {
    // The platform layer may run out of memory mapping the path; the temporary file then
    // stays behind, which is harmless (it has a unique name).
  }
}

// ---------------------------------------------------------------------------------------
// Opening and closing

void CBinaryStreamer::OpenForWrite() {
  AS_TRACE(3, "Opening file [%S] for write", m_strPath.c_str());
  DeleteFile(m_strTempFile.c_str());  // write mode writes the target directly
  m_pFile = new CASFile(m_strPath.c_str(), u"wb");
  std::memset(m_digest, 0, sizeof(m_digest));
  std::memset(m_description, 0, sizeof(m_description));
  std::memcpy(m_description, kStreamerDescription, sizeof(kStreamerDescription));
  m_reserved1 = 0;
  m_reserved2 = 0;
  WriteHeader();
  m_bOpen = true;
}

void CBinaryStreamer::OpenForRead() {
  AS_TRACE(3, "Opening file [%S] for read", m_strPath.c_str());
  Digests digests;
  const std::uint64_t size = TransformFile(m_strPath, m_strTempFile, &digests);
  VerifyDigest(size, digests.stored, digests.computed);
  m_pFile = new CASFile(m_strTempFile.c_str(), u"rb");
  m_fileSize = m_pFile->GetSize();
  ReadHeader();
  m_bOpen = true;
}

void CBinaryStreamer::WriteHeader() {
  const bool ok =
      m_pFile->seek(0, 0) == 0 &&
      m_pFile->write(m_digest, 1, kStreamerDigestSize) == kStreamerDigestSize &&
      m_pFile->write(m_description, 1, kStreamerDescriptionSize) == kStreamerDescriptionSize &&
      m_pFile->write(&m_reserved1, 4, 1) == 1 && m_pFile->write(&m_reserved2, 4, 1) == 1 &&
      m_pFile->write(&m_version, 4, 1) == 1;
  if (!ok) AS_THROW(0, ASException, "Could not write header component from file");
}

void CBinaryStreamer::ReadHeader() {
  const bool ok =
      m_pFile->seek(0, 0) == 0 &&
      m_pFile->read(m_digest, 1, kStreamerDigestSize) == kStreamerDigestSize &&
      m_pFile->read(m_description, 1, kStreamerDescriptionSize) == kStreamerDescriptionSize &&
      m_pFile->read(&m_reserved1, 4, 1) == 1 && m_pFile->read(&m_reserved2, 4, 1) == 1 &&
      m_pFile->read(&m_version, 4, 1) == 1;
  m_description[kStreamerDescriptionSize] = '\0';
  if (!ok) AS_THROW(0, ASException, "Could not read header component from file");
}

// The transform and the digests walk the file in blocks rather than holding it whole: the
// bytes, errors and results are the same, and a 20 MB list costs 1 MB of memory instead of
// 20 MB on top of what it loads into.
constexpr std::size_t kTransformBlock = std::size_t{1} << 20;

std::uint64_t CBinaryStreamer::TransformFile(const usstring& strSource, const usstring& strTarget,
                                             Digests* pDigest) {
  std::uint64_t size = 0;
  if (!FileSize(strSource, size)) {
    AS_THROW_CODE(0, ASFileException, -3, "Could not access file [%S]", strSource.c_str());
  }
  if (size > kStreamerMaxFileSize) {
    AS_THROW_CODE(0, ASFileException, -51, "file [%S]ize exceeds 50 MB. It is to large [%S]",
                  strSource.c_str(), strSource.c_str());
  }
  const std::size_t length = static_cast<std::size_t>(size);
  const std::size_t blockSize = length < kTransformBlock ? (length != 0 ? length : 1)
                                                         : kTransformBlock;
  CBlock block(as_alloc_nt(blockSize));
  auto* pBytes = block.get<std::uint8_t>();
  if (pBytes == nullptr) {
    AS_THROW_CODE(0, ASFileException, -2, "Not enough memory to read the entire file [%S]",
                  strSource.c_str());
  }
  // In place (scrambling a finished file) one handle reads each block and writes it back;
  // otherwise the target is a new file.
  const bool inPlace = strSource == strTarget;
  CASFile source(strSource.c_str(), inPlace ? u"r+b" : u"rb");
  std::optional<CASFile> separateTarget;
  if (!inPlace) separateTarget.emplace(strTarget.c_str(), u"wb");
  CASFile& target = inPlace ? source : *separateTarget;
  CMD5 md5;
  for (std::size_t done = 0; done < length;) {
    const std::size_t n = length - done < blockSize ? length - done : blockSize;
    if (source.read(pBytes, 1, n) != n) {
      AS_THROW_CODE(0, ASFileException, -3, "Could not read entire file [%S]", strSource.c_str());
    }
    Unscramble(pBytes, n);
    if (pDigest != nullptr) {
      if (done < kStreamerDigestSize) {
        std::memcpy(pDigest->stored + done, pBytes, std::min(n, kStreamerDigestSize - done));
      }
      if (done + n > kStreamerPayloadOffset) {
        const std::size_t from = done < kStreamerPayloadOffset ? kStreamerPayloadOffset - done : 0;
        md5.Update(pBytes + from, n - from);
      }
    }
    if ((inPlace && target.seek(static_cast<std::int64_t>(done), 0) != 0) ||
        target.write(pBytes, 1, n) != n) {
      AS_THROW(0, ASException, "Could not write to file [%S]", strTarget.c_str());
    }
    done += n;
    if (inPlace && source.seek(static_cast<std::int64_t>(done), 0) != 0) {
      AS_THROW_CODE(0, ASFileException, -3, "Could not read entire file [%S]", strSource.c_str());
    }
  }
  if (target.flush() != 0) {
    AS_THROW(0, ASException, "Could not write to file [%S]", strTarget.c_str());
  }
  if (pDigest != nullptr) md5.Final(pDigest->computed);
  return size;
}

// MD5 of the bytes from the payload offset to the end of an open file, read block by block.
// False when a block cannot be allocated (allocationFailed set) or read.
static bool DigestPayload(CASFile& file, std::uint64_t size, std::uint8_t digest[16],
                   bool& allocationFailed) {
  allocationFailed = false;
  const std::size_t payload =
      size > kStreamerHeaderSize ? static_cast<std::size_t>(size - kStreamerHeaderSize) : 0;
  const std::size_t blockSize = payload < kTransformBlock ? (payload != 0 ? payload : 1)
                                                          : kTransformBlock;
  CBlock block(as_alloc_nt(blockSize));
  if (block.get<void>() == nullptr) {
    allocationFailed = true;
    return false;
  }
  if (file.seek(kStreamerPayloadOffset, 0) != 0) return false;
  CMD5 md5;
  for (std::size_t done = 0; done < payload;) {
    const std::size_t n = payload - done < blockSize ? payload - done : blockSize;
    if (file.read(block.get<void>(), 1, n) != n) return false;
    md5.Update(block.get<void>(), n);
    done += n;
  }
  md5.Final(digest);
  return true;
}

void CBinaryStreamer::VerifyDigest(std::uint64_t size, const std::uint8_t stored[16],
                                   const std::uint8_t computed[16]) {
  if (size < kStreamerHeaderSize) {
    AS_THROW(0, ASException, "Could not read header component from file");
  }
  for (std::size_t i = 0; i < kStreamerDigestSize; ++i) {
    if (computed[i] != stored[i]) {
      AS_THROW(0, ASException, "File CRC does not match with its stored CRC! [%S] position %d",
               m_strPath.c_str(), static_cast<int>(i));
    }
  }
}

void CBinaryStreamer::StoreDigest() {
  CASFile file(m_strPath.c_str(), u"r+b");
  const std::uint64_t size = file.GetSize();
  bool allocationFailed = false;
  if (!DigestPayload(file, size, m_digest, allocationFailed)) {
    if (allocationFailed) {
      AS_THROW(0, ASException,
               "Cannot allocate enough memory for the entire file [%S], size needed: %d",
               m_strPath.c_str(),
               static_cast<int>(size > kStreamerHeaderSize ? size - kStreamerHeaderSize : 0));
    }
    AS_THROW(0, ASException, "Unable to read from file [%S]", m_strPath.c_str());
  }
  if (file.seek(kStreamerDigestOffset, 0) != 0 ||
      file.write(m_digest, 1, kStreamerDigestSize) != kStreamerDigestSize || file.flush() != 0) {
    AS_THROW(0, ASException, "Could not write the entire file during crc [%S]", m_strPath.c_str());
  }
}

void CBinaryStreamer::Close() {
  if (!m_bOpen) return;
  m_bOpen = false;
  AS_TRACE(3, "Closing file [%S]", m_strPath.c_str());
  if (m_mode == EStreamMode::Read) {
    DiscardFiles();
    return;
  }
  const bool flushed = m_pFile->flush() == 0;
  delete m_pFile;
  m_pFile = nullptr;
  if (!flushed) AS_THROW(0, ASException, "Cannot write to file");
  StoreDigest();
  TransformFile(m_strPath, m_strPath);
}

void CBinaryStreamer::ComputeCRC(const void* pData, std::size_t length,
                                 std::uint8_t pOut[kStreamerDigestSize]) {
  if (pData == nullptr || pOut == nullptr) {
    AS_THROW(0, ASBadPtrException, "Invalid parameters in ComputeCRC");
  }
  CMD5::Digest(pData, length, pOut);
}

// ---------------------------------------------------------------------------------------
// Values

void CBinaryStreamer::CheckWrite() const {
  if (m_mode != EStreamMode::Write) AS_THROW(0, ASException, "wrong stream mode: read-only");
  if (m_pFile == nullptr) AS_THROW(0, ASException, "invalid reference to file");
}

void CBinaryStreamer::CheckRead() const {
  if (m_mode != EStreamMode::Read) AS_THROW(0, ASException, "wrong stream mode: write-only");
  if (m_pFile == nullptr) AS_THROW(0, ASException, "invalid reference to file");
}

void CBinaryStreamer::CheckRemaining(std::size_t count, std::size_t unitSize) const {
  // A length read from a damaged file must not size an allocation beyond the file itself:
  // such a read cannot succeed, so it fails as a short read before allocating.
  const std::int64_t position = m_pFile->tell();
  const std::uint64_t remaining = position >= 0 && static_cast<std::uint64_t>(position) < m_fileSize
                                      ? m_fileSize - static_cast<std::uint64_t>(position)
                                      : 0;
  if (count > remaining / unitSize) AS_THROW(0, ASException, "cannot read from file");
}

void CBinaryStreamer::Put(const void* pData, std::size_t size) {
  if (size != 0 && m_pFile->write(pData, 1, size) != size) {
    AS_THROW(0, ASException, "Cannot write to file");
  }
}

void CBinaryStreamer::Get(void* pData, std::size_t size) {
  if (size != 0 && m_pFile->read(pData, 1, size) != size) {
    AS_THROW(0, ASException, "cannot read from file");
  }
}

void CBinaryStreamer::WriteUInt32Raw(std::uint32_t value) {
  if (m_pFile == nullptr) AS_THROW(0, ASException, " invalid reference to file");
  if (m_pFile->write(&value, 1, 4) != 4) AS_THROW(0, ASException, " Cannot write to file");
}

void CBinaryStreamer::WriteUInt(std::uint32_t value) {
  CheckWrite();
  Put(&value, 4);
}

void CBinaryStreamer::WriteInt(std::int32_t value, bool b32Bit) {
  if (b32Bit) return WriteUInt32Raw(static_cast<std::uint32_t>(value));
  CheckWrite();
  Put(&value, 4);
}

void CBinaryStreamer::WriteLong(std::int32_t value, bool b32Bit) {
  if (b32Bit) return WriteUInt(static_cast<std::uint32_t>(value));
  CheckWrite();
  Put(&value, 4);
}

void CBinaryStreamer::WriteSizeT(std::size_t value, bool b32Bit) {
  if (b32Bit) return WriteUInt(static_cast<std::uint32_t>(value));
  CheckWrite();
  const std::uint64_t wide = value;
  Put(&wide, 8);
}

void CBinaryStreamer::WriteFloat(float value) {
  CheckWrite();
  Put(&value, 4);
}

void CBinaryStreamer::WriteDouble(double value) {
  CheckWrite();
  Put(&value, 8);
}

void CBinaryStreamer::WriteChar(char value) {
  CheckWrite();
  Put(&value, 1);
}

void CBinaryStreamer::WriteWChar(char16_t value) {
  CheckWrite();
  Put(&value, 2);
}

void CBinaryStreamer::WriteString(const sstring& strValue) {
  CheckWrite();
  Put(strValue.c_str(), strValue.length());
}

void CBinaryStreamer::WriteString(const char* pBuffer, std::size_t count) {
  if (pBuffer == nullptr) AS_THROW(0, ASException, "invalid argument string");
  CheckWrite();
  Put(pBuffer, count);
}

void CBinaryStreamer::WriteWString(const usstring& strValue) {
  CheckWrite();
  Put(strValue.c_str(), strValue.length() * sizeof(char16_t));
}

void CBinaryStreamer::WriteWString(const char16_t* pBuffer, std::size_t count) {
  if (pBuffer == nullptr) AS_THROW(0, ASException, "invalid argument string");
  CheckWrite();
  Put(pBuffer, count * sizeof(char16_t));
}

void CBinaryStreamer::Printf(const char* format, ...) {
  if (format == nullptr) AS_THROW(0, ASException, "invalid format string");
  CheckWrite();
  std::va_list args;
  va_start(args, format);
  std::size_t length = 0;
  CBlock text(FormatAlloc(format, args, length));
  va_end(args);
  if (text.get<char>() == nullptr) AS_THROW(0, ASException, "could not allocate temporary buffer");
  Put(text.get<char>(), length);
}

void CBinaryStreamer::WPrintf(const char16_t* format, ...) {
  if (format == nullptr) AS_THROW(0, ASException, "invalid format string");
  CheckWrite();
  // The wide format goes through the 8-bit formatter as UTF-8 and comes back as UTF-16.
  std::size_t units = 0;
  while (format[units] != 0) ++units;
  std::size_t bound = 0;
  WideToUtf8(format, units, nullptr, 0, bound);
  CBlock narrow(as_alloc_nt(bound + 1));
  std::size_t narrowLength = 0;
  if (narrow.get<char>() == nullptr ||
      WideToUtf8(format, units, narrow.get<char>(), bound, narrowLength) != 0) {
    AS_THROW(0, ASException, "invalid format string");
  }
  narrow.get<char>()[narrowLength] = '\0';
  std::va_list args;
  va_start(args, format);
  std::size_t length = 0;
  CBlock text(FormatAlloc(narrow.get<char>(), args, length));
  va_end(args);
  CBlock wide(as_alloc_array_nt<char16_t>(length + 1));
  if (text.get<char>() == nullptr || wide.get<char16_t>() == nullptr) {
    AS_THROW(0, ASException, "could not allocate temporary buffer");
  }
  std::size_t produced = 0;
  Utf8ToUtf16(text.get<char>(), length, wide.get<char16_t>(), length + 1, produced);
  Put(wide.get<char16_t>(), produced * sizeof(char16_t));
}

std::uint32_t CBinaryStreamer::ReadUInt32Raw() {
  CheckRead();
  std::uint32_t value = 0;
  Get(&value, 4);
  return value;
}

std::uint32_t CBinaryStreamer::ReadUInt() {
  CheckRead();
  std::uint32_t value = 0;
  Get(&value, 4);
  return value;
}

std::int32_t CBinaryStreamer::ReadInt(bool b32Bit) {
  if (b32Bit) return static_cast<std::int32_t>(ReadUInt32Raw());
  CheckRead();
  std::int32_t value = 0;
  Get(&value, 4);
  return value;
}

std::int32_t CBinaryStreamer::ReadLong(bool b32Bit) {
  if (b32Bit) return static_cast<std::int32_t>(ReadUInt());
  CheckRead();
  std::int32_t value = 0;
  Get(&value, 4);
  return value;
}

std::size_t CBinaryStreamer::ReadSizeT(bool b32Bit) {
  if (b32Bit) {
    // The 4-byte form is signed on reading: 0xFFFFFFFF comes back as SIZE_MAX.
    const auto narrow = static_cast<std::int32_t>(ReadUInt());
    return static_cast<std::size_t>(static_cast<std::int64_t>(narrow));
  }
  CheckRead();
  std::uint64_t value = 0;
  Get(&value, 8);
  return static_cast<std::size_t>(value);
}

float CBinaryStreamer::ReadFloat() {
  CheckRead();
  float value = 0;
  Get(&value, 4);
  return value;
}

double CBinaryStreamer::ReadDouble() {
  CheckRead();
  double value = 0;
  Get(&value, 8);
  return value;
}

char CBinaryStreamer::ReadChar() {
  CheckRead();
  char value = 0;
  Get(&value, 1);
  return value;
}

char16_t CBinaryStreamer::ReadWChar() {
  CheckRead();
  char16_t value = 0;
  Get(&value, 2);
  return value;
}

void CBinaryStreamer::ReadString(sstring& strValue, std::size_t count) {
  CheckRead();
  CheckRemaining(count, 1);
  CBlock buffer(as_alloc_nt(count + 1));
  char* pText = buffer.get<char>();
  if (pText == nullptr) AS_THROW(0, ASException, "could not allocate temporary buffer");
  Get(pText, count);
  pText[count] = '\0';
  if (std::memchr(pText, 0, count) != nullptr) {
    AS_THROW(0, ASException, "read string contains terminating characters!");
  }
  if (strValue.assign(pText, count) != 0) AS_THROW(0, ASException, "problems duplicating string");
}

void CBinaryStreamer::ReadString(char* pBuffer, std::size_t count) {
  if (pBuffer == nullptr) AS_THROW(0, ASException, "invalid argument string");
  CheckRead();
  Get(pBuffer, count);
}

void CBinaryStreamer::ReadWString(usstring& strValue, std::size_t count) {
  CheckRead();
  CheckRemaining(count, sizeof(char16_t));
  CBlock buffer(as_alloc_array_nt<char16_t>(count + 1));
  auto* pText = buffer.get<char16_t>();
  if (pText == nullptr) AS_THROW(0, ASException, "could not allocate temporary buffer");
  Get(pText, count * sizeof(char16_t));
  pText[count] = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (pText[i] == 0) AS_THROW(0, ASException, "read string contains terminating characters!");
  }
  if (strValue.assign(pText, count) != 0) AS_THROW(0, ASException, "problems duplicating string");
}

void CBinaryStreamer::ReadWString(char16_t* pBuffer, std::size_t count) {
  if (pBuffer == nullptr) AS_THROW(0, ASException, "invalid argument string");
  CheckRead();
  Get(pBuffer, count * sizeof(char16_t));
}

// ---------------------------------------------------------------------------------------
// Payload look-ahead

CPayloadReader::CPayloadReader(const char16_t* pszPath)
    : m_file(pszPath, u"rb"), m_bAtPayload(m_file.seek(kStreamerPayloadOffset, 0) == 0) {}

std::size_t CPayloadReader::Read(void* pBuffer, std::size_t count) {
  if (!m_bAtPayload) return 0;
  const std::size_t n = m_file.read(pBuffer, 1, count);
  Unscramble(static_cast<std::uint8_t*>(pBuffer), n);
  return n;
}

}  // namespace ascommon
