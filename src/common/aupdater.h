// Updatable data sources: AUpdater loads a source from a main streamer file plus an optional
// update file, and records changes into an update file; CSerializableItem is one record's
// item, whose meaning the concrete source decides (the URL database is the one source).
//
// Payload of a loaded file (after the streamer's 128-byte header), repeated to the end:
//   operation code  uint32  1 (apply) or 0xFFFFFFFF (read and skip); anything else is corrupt
//   item            as the item's Serialize writes it
//
// Ownership: AUpdater owns its update streamer (closed, with its digest written, when the
// updater is destroyed or another update file is opened). ApplyItem takes ownership of the
// item it is given; AddItem, ContainsItem and WriteItem only read theirs.
// Threads: Load, OpenUpdateFile, AddItem and WriteItem change the source and need the owner's
// exclusive lock; the concrete source says which of its queries are safe for many readers.
#pragma once

#include <cstdint>

#include "common/blackboxobject.h"

namespace ascommon {

class IStreamer;

// One serialisable record item. Virtual slots: destructor, Serialize, Deserialize.
class CSerializableItem : public CBlackBoxObject {
 public:
  ~CSerializableItem() override = default;
  // Writes the item to pStreamer. Returns 0 or a negative status; stream failures throw.
  virtual std::int32_t Serialize(IStreamer* pStreamer) = 0;
  // Reads the item from pStreamer and adds the number of bytes it consumed to nBytesRead.
  // Returns 0, or non-zero when the bytes do not form an item; stream failures throw.
  virtual std::int32_t Deserialize(IStreamer* pStreamer, std::uint64_t& nBytesRead) = 0;
};

class AUpdater : public CBlackBoxObject {
 public:
  // Operation codes of a record.
  static constexpr std::uint32_t kOpApply = 1;
  static constexpr std::uint32_t kOpSkip = 0xFFFFFFFFu;
  // Format version of the streamer files this updater reads and writes.
  static constexpr std::uint32_t kFileVersion = 0;

  AUpdater() noexcept = default;
  ~AUpdater() override;  // slot 0: closes the update streamer
  AUpdater(const AUpdater&) = delete;
  AUpdater& operator=(const AUpdater&) = delete;

  // Slot 1. Loads pszMainFile, then pszUpdateFile when it exists as a file; the temporary
  // copies go to pszTempFolder ("" = current folder). What is already loaded stays; records
  // are applied on top. Returns 0; -50 for a null argument; otherwise the main file's
  // failure: -13 corrupt record, -14 unreadable item, -3 item not applied or an exception
  // (bad digest, short file, ...). Records applied before a failure stay applied. A failing
  // update file is ignored.
  virtual std::int32_t Load(const char16_t* pszMainFile, const char16_t* pszUpdateFile,
                            const char16_t* pszTempFolder);
  // Slot 2. Applies one record and destroys pItem. 0 on success.
  virtual std::int32_t ApplyItem(std::uint32_t nOperation, CSerializableItem* pItem) = 0;
  // Slot 3. A new empty item of the source's kind (caller owns it), or null.
  virtual CSerializableItem* CreateItem() = 0;
  // Slot 4. Opens a write streamer (format version 0) on pszPath as the update file,
  // closing any earlier one. 0; -50 null path; -2 out of memory; -3 the file cannot be
  // created.
  virtual std::int32_t OpenUpdateFile(const char16_t* pszPath);
  // Slot 5. Records a change of the source.
  virtual std::int32_t AddItem(CSerializableItem* pItem) = 0;
  // Slot 6. Whether the item is already in the source.
  virtual bool ContainsItem(CSerializableItem* pItem) = 0;
  // Slot 7. Serialises pItem into the update streamer. Returns its Serialize status; -3
  // when no update file is open, pItem is null or the write fails.
  virtual std::int32_t WriteItem(CSerializableItem* pItem);

  bool HasUpdateFile() const noexcept { return m_pUpdateStreamer != nullptr; }

  // Reads and applies the items of a load itself, for a source that knows its item layout:
  // the same result as CreateItem, Deserialize and ApplyItem, without an item object.
  class IRecordReader {
   public:
    // Reads the item of a record whose operation code (kOpApply or kOpSkip) was just read
    // and applies it; nBytesRead grows by the item's bytes. 0; -14 when the bytes form no
    // item; -3 when it (or an earlier item not applied yet) cannot be applied. Stream
    // failures throw. A reader may apply items a few records late, in their order.
    virtual std::int32_t ReadRecord(std::uint32_t nOperation, IStreamer& streamer,
                                    std::uint64_t& nBytesRead) = 0;
    // Applies the items read and not applied yet: called once at the end of each file,
    // however its loop ended. 0, or -3 when one of them cannot be applied (the items after
    // it are dropped, as a load stops at the first item it cannot apply).
    virtual std::int32_t Finish() = 0;

   protected:
    ~IRecordReader() = default;
  };

 protected:
  // Load, with the items read by pReader (null: through the item slots).
  std::int32_t LoadFiles(const char16_t* pszMainFile, const char16_t* pszUpdateFile,
                         const char16_t* pszTempFolder, IRecordReader* pReader);
  // Loads the records of one file (see Load). Returns 0, -50, -13, -14 or -3.
  std::int32_t LoadFile(const char16_t* pszPath, const char16_t* pszTempFolder,
                        IRecordReader* pReader = nullptr);

  IStreamer* m_pUpdateStreamer = nullptr;  // Owned; null until OpenUpdateFile.
};

}  // namespace ascommon
