// IStreamer: untagged little-endian values in a data file; CBinaryStreamer: its file form
// with a 128-byte header (MD5 digest of the payload, description, format version) and
// whole-file scrambling. The byte layout is in docs/streamer_format.md and its constants
// in common/streamer_format.h.
//
// A streamer is opened by its constructor either for writing or for reading; reader and
// writer must agree on the sequence of values (no type tags are written). Every failure
// throws (ASException family) after its trace line; a value read never comes back partly.
//
// Write mode writes the target file directly; closing computes the digest over bytes
// 128..end, stores it at offset 0 and scrambles the file in place. Read mode unscrambles the
// target into a temporary file ("kvtz<hex>.tmp" in the temporary-files folder), verifies its
// digest before anything is read, and reads from that copy; closing deletes the copy.
//
// Ownership: the streamer owns its open file and its temporary file. Threads: one streamer
// belongs to one thread; separate streamers are independent (temporary names are unique).
// Limits: a file holds at most 50 MB (kStreamerMaxFileSize), checked when it is scrambled
// or unscrambled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asfile.h"
#include "common/blackboxobject.h"
#include "common/streamer_format.h"
#include "common/ustring.h"

namespace ascommon {

// The value interface. Slot order is fixed (29 operations, destructor first). With the
// 32-bit flag, integers and sizes use their 4-byte form; a 4-byte size reads back
// sign-extended to 64 bits (0xFFFFFFFF becomes SIZE_MAX).
class IStreamer : public CBlackBoxObject {
 public:
  ~IStreamer() override = default;  // 0

  // 4 bytes, without the mode check of the other operations (on a read streamer the write
  // itself fails).
  virtual void WriteUInt32Raw(std::uint32_t value) = 0;  // 1
  virtual void WriteUInt(std::uint32_t value) = 0;       // 2
  // 4 bytes; with b32Bit through WriteUInt32Raw.
  virtual void WriteInt(std::int32_t value, bool b32Bit = false) = 0;  // 3
  // 4 bytes ("long" is the 32-bit integer of the data files); with b32Bit through WriteUInt.
  virtual void WriteLong(std::int32_t value, bool b32Bit = false) = 0;  // 4
  // 8 bytes; with b32Bit the low 4 bytes through WriteUInt.
  virtual void WriteSizeT(std::size_t value, bool b32Bit = false) = 0;  // 5
  virtual void WriteFloat(float value) = 0;                             // 6
  virtual void WriteDouble(double value) = 0;                           // 7
  virtual void WriteChar(char value) = 0;                               // 8
  virtual void WriteWChar(char16_t value) = 0;                          // 9
  // The text's bytes / units only: no length, no terminator.
  virtual void WriteString(const sstring& strValue) = 0;                      // 10
  virtual void WriteString(const char* pBuffer, std::size_t count) = 0;       // 11
  virtual void WriteWString(const usstring& strValue) = 0;                    // 12
  virtual void WriteWString(const char16_t* pBuffer, std::size_t count) = 0;  // 13
  // Formatted text (printf rules plus %S for UTF-16), written without terminator. WPrintf
  // takes a wide format with the same conversion letters and writes UTF-16 units.
  virtual void Printf(const char* format, ...) = 0;       // 14
  virtual void WPrintf(const char16_t* format, ...) = 0;  // 15

  virtual std::uint32_t ReadUInt32Raw() = 0;               // 16
  virtual std::uint32_t ReadUInt() = 0;                    // 17
  virtual std::int32_t ReadInt(bool b32Bit = false) = 0;   // 18
  virtual std::int32_t ReadLong(bool b32Bit = false) = 0;  // 19
  virtual std::size_t ReadSizeT(bool b32Bit = false) = 0;  // 20
  virtual float ReadFloat() = 0;                           // 21
  virtual double ReadDouble() = 0;                         // 22
  virtual char ReadChar() = 0;                             // 23
  virtual char16_t ReadWChar() = 0;                        // 24
  // count characters into the string; a zero character among them is refused.
  virtual void ReadString(sstring& strValue, std::size_t count) = 0;  // 25
  // count bytes into the caller's buffer (no terminator added).
  virtual void ReadString(char* pBuffer, std::size_t count) = 0;        // 26
  virtual void ReadWString(usstring& strValue, std::size_t count) = 0;  // 27
  virtual void ReadWString(char16_t* pBuffer, std::size_t count) = 0;   // 28
};

enum class EStreamMode { Write = 0, Read = 1 };

class CBinaryStreamer : public IStreamer {
 public:
  // Opens strPath for the mode (see the file comment); strTempFolder is where the
  // temporary file goes (the current folder when empty); version is stored in write mode
  // and read back in read mode. Throws on any failure, leaving no temporary file behind.
  CBinaryStreamer(const usstring& strPath, EStreamMode mode, const usstring& strTempFolder,
                  std::uint32_t version);
  // Closes (see Close); failures there are traced and swallowed.
  ~CBinaryStreamer() override;
  CBinaryStreamer(const CBinaryStreamer&) = delete;
  CBinaryStreamer& operator=(const CBinaryStreamer&) = delete;

  // Finishes the file: write mode stores the digest and scrambles; read mode deletes the
  // temporary copy. Throws on failure; a second call does nothing.
  void Close();

  // The 16-byte MD5 digest of data. Null data or out throws ASBadPtrException.
  static void ComputeCRC(const void* pData, std::size_t length,
                         std::uint8_t pOut[kStreamerDigestSize]);

  bool IsOpen() const noexcept { return m_bOpen; }
  EStreamMode GetMode() const noexcept { return m_mode; }
  std::uint32_t GetVersion() const noexcept { return m_version; }
  // Header fields as read (read mode) or to be written (write mode).
  const char* GetDescription() const noexcept { return m_description; }
  std::uint32_t GetReserved1() const noexcept { return m_reserved1; }
  std::uint32_t GetReserved2() const noexcept { return m_reserved2; }
  // Read mode: the plain file's size in bytes, header included.
  std::uint64_t GetFileSize() const noexcept { return m_fileSize; }
  // The temporary file's path ("<folder>\kvtz<hex>.tmp").
  const usstring& GetTempFilePath() const noexcept { return m_strTempFile; }

  void WriteUInt32Raw(std::uint32_t value) override;
  void WriteUInt(std::uint32_t value) override;
  void WriteInt(std::int32_t value, bool b32Bit = false) override;
  void WriteLong(std::int32_t value, bool b32Bit = false) override;
  void WriteSizeT(std::size_t value, bool b32Bit = false) override;
  void WriteFloat(float value) override;
  void WriteDouble(double value) override;
  void WriteChar(char value) override;
  void WriteWChar(char16_t value) override;
  void WriteString(const sstring& strValue) override;
  void WriteString(const char* pBuffer, std::size_t count) override;
  void WriteWString(const usstring& strValue) override;
  void WriteWString(const char16_t* pBuffer, std::size_t count) override;
  void Printf(const char* format, ...) override;
  void WPrintf(const char16_t* format, ...) override;

  std::uint32_t ReadUInt32Raw() override;
  std::uint32_t ReadUInt() override;
  std::int32_t ReadInt(bool b32Bit = false) override;
  std::int32_t ReadLong(bool b32Bit = false) override;
  std::size_t ReadSizeT(bool b32Bit = false) override;
  float ReadFloat() override;
  double ReadDouble() override;
  char ReadChar() override;
  char16_t ReadWChar() override;
  void ReadString(sstring& strValue, std::size_t count) override;
  void ReadString(char* pBuffer, std::size_t count) override;
  void ReadWString(usstring& strValue, std::size_t count) override;
  void ReadWString(char16_t* pBuffer, std::size_t count) override;

 private:
  void OpenForWrite();
  void OpenForRead();
  void WriteHeader();
  void ReadHeader();
  void StoreDigest();
  // Compares the digest stored in an unscrambled file of size bytes with the one computed
  // over its payload.
  void VerifyDigest(std::uint64_t size, const std::uint8_t stored[16],
                    const std::uint8_t computed[16]);
  // XORs every byte of strSource with the key and writes the result to strTarget (the
  // same path scrambles in place). When pDigest is given, it also takes the result's
  // stored digest (its first 16 bytes, zero when shorter) and computes the MD5 of its
  // payload, so that a read need not read the copy back for it. Returns the size.
  struct Digests {
    std::uint8_t stored[16] = {};
    std::uint8_t computed[16] = {};
  };
  std::uint64_t TransformFile(const usstring& strSource, const usstring& strTarget,
                              Digests* pDigest = nullptr);
  void CloseImpl();
  void DiscardFiles() noexcept;

  void CheckWrite() const;
  void CheckRead() const;
  // Throws the short-read error when count units of unitSize cannot remain in the file.
  void CheckRemaining(std::size_t count, std::size_t unitSize) const;
  void Put(const void* pData, std::size_t size);
  void Get(void* pData, std::size_t size);

  EStreamMode m_mode;
  usstring m_strPath;
  usstring m_strTempFolder;
  usstring m_strTempFile;
  CASFile* m_pFile = nullptr;  // Owned; null while closed.
  bool m_bOpen = false;
  std::uint64_t m_fileSize = 0;

  std::uint8_t m_digest[kStreamerDigestSize] = {};
  char m_description[kStreamerDescriptionSize + 1] = {};  // always terminated
  std::uint32_t m_reserved1 = 0;
  std::uint32_t m_reserved2 = 0;
  std::uint32_t m_version = 0;
};

// The plain payload of a streamer file read straight from the file as stored: no
// temporary copy and no digest check, for a quick look ahead at a file that is then opened
// with CBinaryStreamer. The constructor throws as CASFile does when the file cannot be
// opened. Owns its open file; one reader belongs to one thread.
class CPayloadReader {
 public:
  explicit CPayloadReader(const char16_t* pszPath);
  // Up to count plain bytes into pBuffer; fewer only at the end of the file (0 after it,
  // or for a file shorter than its header).
  std::size_t Read(void* pBuffer, std::size_t count);

 private:
  CASFile m_file;
  bool m_bAtPayload;
};

}  // namespace ascommon
