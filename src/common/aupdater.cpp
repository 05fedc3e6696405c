// Loading of an updatable source: open the file through a read streamer (which verifies the
// digest before anything is read), then read (operation code, item) records until the
// payload ends, applying each; the first bad record stops the load and what came before
// stays applied. A source may read its items itself (IRecordReader) instead of through
// item objects. Time O(file size) plus the source's cost per record; memory: one item at a
// time. Tested by tests/engines/urldb/aupdater_test.cpp.
#include "common/aupdater.h"

#include <new>

#include "common/asfile.h"
#include "common/astrace.h"
#include "common/binstreamer.h"
#include "common/ustring.h"

namespace ascommon {

namespace {

// Destroys an item unless ownership was passed on.
class ItemGuard {
 public:
  explicit ItemGuard(CSerializableItem* pItem) noexcept : m_pItem(pItem) {}
  ~ItemGuard() { delete m_pItem; }
  ItemGuard(const ItemGuard&) = delete;
  ItemGuard& operator=(const ItemGuard&) = delete;
  CSerializableItem* Release() noexcept {
    CSerializableItem* pItem = m_pItem;
    m_pItem = nullptr;
    return pItem;
  }

 private:
  CSerializableItem* m_pItem;
};

}  // namespace

AUpdater::~AUpdater() {
  delete m_pUpdateStreamer;  // closes the file: digest and scrambling
}

std::int32_t AUpdater::Load(const char16_t* pszMainFile, const char16_t* pszUpdateFile,
                            const char16_t* pszTempFolder) {
  return LoadFiles(pszMainFile, pszUpdateFile, pszTempFolder, nullptr);
}

std::int32_t AUpdater::LoadFiles(const char16_t* pszMainFile, const char16_t* pszUpdateFile,
                                 const char16_t* pszTempFolder, IRecordReader* pReader) {
  AS_TRACE(3, "Entering...");
  if (pszMainFile == nullptr || pszUpdateFile == nullptr || pszTempFolder == nullptr) {
    return -50;
  }
  const std::int32_t result = LoadFile(pszMainFile, pszTempFolder, pReader);
  if (result != 0) return result;
  // The update file is optional, and a damaged one must not take the main list down.
  try {
    if (IsFile(pszUpdateFile)) LoadFile(pszUpdateFile, pszTempFolder, pReader);
  } catch (...) {
    AS_TRACE(0, "Exception caught while loading URLDB from file");
  }
  AS_TRACE(3, "Exiting. OK..");
  return 0;
}

std::int32_t AUpdater::LoadFile(const char16_t* pszPath, const char16_t* pszTempFolder,
                                IRecordReader* pReader) {
  AS_TRACE(3, "Entering...");
  if (pszPath == nullptr || pszTempFolder == nullptr) return -50;
  AS_TRACE(3, "Will open file %S", pszPath);
  std::int32_t result = 0;
  try {
    CBinaryStreamer streamer(usstring(pszPath), EStreamMode::Read, usstring(pszTempFolder),
                             kFileVersion);
    std::uint64_t position = kStreamerHeaderSize;
    const std::uint64_t size = streamer.GetFileSize();
    // Each pass consumes at least the 4-byte operation code, so the loop ends within
    // size / 4 records.
    while (position < size) {
      const std::uint32_t operation = streamer.ReadUInt();
      if (operation != kOpApply && operation != kOpSkip) {
        AS_TRACE(0, "The URL database is corrupt");
        result = -13;
        break;
      }
      position += 4;
      if (position >= size) {  // an operation code with no item behind it
        AS_TRACE(0, "The URL database is corrupt");
        result = -13;
        break;
      }
      if (pReader != nullptr) {
        result = pReader->ReadRecord(operation, streamer, position);
        if (result != 0) break;
        continue;
      }
      CSerializableItem* pItem = CreateItem();
      if (pItem == nullptr) {
        // A source that cannot make an item ends the load with what it has (result 0).
        AS_TRACE(0, "NULL CSerializableItem");
        break;
      }
      ItemGuard owner(pItem);
      if (pItem->Deserialize(&streamer, position) != 0) {
        result = -14;
        break;
      }
      if (ApplyItem(operation, owner.Release()) != 0) {
        result = -3;
        break;
      }
    }
    // Items read before the record the loop stopped at come first: a late failure among
    // them is the load's failure.
    if (pReader != nullptr && pReader->Finish() != 0) result = -3;
    streamer.Close();
  } catch (...) {
    AS_TRACE(0, "Exception caught while loading URLDB from file");
    if (pReader != nullptr) pReader->Finish();
    return -3;
  }
  return result;
}

std::int32_t AUpdater::OpenUpdateFile(const char16_t* pszPath) {
  if (pszPath == nullptr) return -50;
  delete m_pUpdateStreamer;
  m_pUpdateStreamer = nullptr;
  try {
    // The streamer's scratch name goes beside the update file, whose folder is writable.
    const usstring strPath(pszPath);
    usstring strTemp(u"");
    std::size_t folderEnd = 0;
    for (std::size_t i = 0; i < strPath.length(); ++i) {
      if (pszPath[i] == u'\\' || pszPath[i] == u'/') folderEnd = i + 1;
    }
    if (folderEnd != 0) strTemp.assign(pszPath, folderEnd);
    if (strPath.status() != 0 || strTemp.status() != 0) return -2;
    m_pUpdateStreamer = new (std::nothrow)
        CBinaryStreamer(strPath, EStreamMode::Write, strTemp, kFileVersion);
  } catch (const std::bad_alloc&) {
    return -2;
  } catch (...) {
    AS_TRACE(0, "could not open the update file %S", pszPath);
    return -3;
  }
  return m_pUpdateStreamer == nullptr ? -2 : 0;
}

std::int32_t AUpdater::WriteItem(CSerializableItem* pItem) {
  if (m_pUpdateStreamer == nullptr || pItem == nullptr) return -3;
  try {
    return pItem->Serialize(m_pUpdateStreamer);
  } catch (...) {
    AS_TRACE(0, "could not write the item to the update file");
    return -3;
  }
}

}  // namespace ascommon
