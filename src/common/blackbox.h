// CABlackBox / CBlackBox: the typed property bag that carries an item's fields, the
// filters' verdicts and engine parameters, keyed by unsigned 32-bit ids.
//
// Value kinds: 1 scalar (bool, 32-bit, 64-bit, double; all one kind), 2 raw array, 3
// container (a CArray of numbers or strings made by the array setters), 4 usstring copy,
// 5 sstring copy, 6 generic object.
// Ownership: the bag owns every payload of kinds 1 to 5 and releases it on replacement,
// RemoveObject and destruction. Kind 6 objects stay owned by the caller, who must keep them
// alive while they are stored. Pointers returned by the text and array getters point into
// the bag's own copies and stay valid until that id is replaced or removed.
// Setters take (value, id, bForceReplace) and return 0, or trace and throw ASException with
// the status as code: -2 out of memory, -500 forced replacement by another kind, -502 id
// present and no force. Getters throw code -501 for an absent id or another kind. The
// string-id (strId) flavours store and find nothing: they trace one "Unused param" notice
// per parameter and return a neutral value.
// Id 0 passed as a plain literal is ambiguous between the id and strId flavours; write 0u.
// Threads: no locking; one filter uses an item's bag at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/blackboxobject.h"
#include "common/map.h"
#include "common/ustring.h"

namespace ascommon {

// The abstract bag: 47 virtual operations in a fixed slot order (the destructor first).
// The signed 32-bit "long" array flavour is named SetLongArray/GetLongArray: its elements
// are std::int32_t like SetArray's, but the two are distinct container types, so a
// GetArray of an id stored with SetLongArray answers "of other type" and vice versa.
class CABlackBox : public CASAllocated {
 public:
  virtual ~CABlackBox() = default;

  virtual std::int32_t InitHashTable(std::uint32_t nBuckets) = 0;
  virtual void RemoveObject(const char* strId) = 0;
  virtual void RemoveObject(std::uint32_t id) = 0;
  virtual void Reserved() = 0;
  virtual std::int32_t SetGenericObject(const char* strId, CBlackBoxObject* pObject) = 0;
  virtual std::int32_t SetGenericObject(std::uint32_t id, CBlackBoxObject* pObject) = 0;
  virtual const CBlackBoxObject* GetGenericObject(const char* strId) const = 0;
  virtual const CBlackBoxObject* GetGenericObject(std::uint32_t id) const = 0;
  virtual CBlackBoxObject* GetGenericObjectRW(std::uint32_t id) = 0;
  virtual CBlackBoxObject* GetGenericObjectRW(const char* strId) = 0;
  virtual std::int32_t SetBool(bool value, const char* strId, bool bForceReplace) = 0;
  virtual std::int32_t SetBool(bool value, std::uint32_t id, bool bForceReplace) = 0;
  virtual bool GetBool(const char* strId) const = 0;
  virtual bool GetBool(std::uint32_t id) const = 0;
  virtual std::int32_t SetUInt(std::uint32_t value, std::uint32_t id, bool bForceReplace) = 0;
  virtual std::uint32_t GetUInt(std::uint32_t id) const = 0;
  virtual std::int32_t SetInt(std::int32_t value, const char* strId, bool bForceReplace) = 0;
  virtual std::int32_t SetInt(std::int32_t value, std::uint32_t id, bool bForceReplace) = 0;
  virtual std::int32_t GetInt(const char* strId) const = 0;
  virtual std::int32_t GetInt(std::uint32_t id) const = 0;
  virtual std::int32_t SetSizeT(std::size_t value, const char* strId, bool bForceReplace) = 0;
  virtual std::int32_t SetSizeT(std::size_t value, std::uint32_t id, bool bForceReplace) = 0;
  virtual std::size_t GetSizeT(const char* strId) const = 0;
  virtual std::size_t GetSizeT(std::uint32_t id) const = 0;
  virtual std::int32_t SetDouble(double value, std::uint32_t id, bool bForceReplace) = 0;
  virtual double GetDouble(std::uint32_t id) const = 0;
  virtual std::int32_t SetCharBuf(const char* text, const char* strId, bool bForceReplace) = 0;
  virtual std::int32_t SetCharBuf(const char* text, std::uint32_t id, bool bForceReplace) = 0;
  virtual const char* GetCharBuf(const char* strId) const = 0;
  virtual const char* GetCharBuf(std::uint32_t id) const = 0;
  virtual std::int32_t SetUCharBuf(const char16_t* text, const char* strId, bool bForceReplace) = 0;
  virtual std::int32_t SetUCharBuf(const char16_t* text, std::uint32_t id, bool bForceReplace) = 0;
  virtual const char16_t* GetUCharBuf(const char* strId) const = 0;
  virtual const char16_t* GetUCharBuf(std::uint32_t id) const = 0;
  // Array getters: with a null output they return the element count; otherwise they copy
  // every element (for texts, pointers into the bag's copies) and return the count. A null
  // output must be typed, e.g. GetArray(static_cast<double*>(nullptr), id).
  virtual std::int32_t SetCharBufArray(const char* const* texts, std::size_t count,
                                       std::uint32_t id, bool bForceReplace) = 0;
  virtual std::size_t GetCharBufArray(const char** out, std::uint32_t id) const = 0;
  virtual std::int32_t SetUCharBufArray(const char16_t* const* texts, std::size_t count,
                                        std::uint32_t id, bool bForceReplace) = 0;
  virtual std::size_t GetUCharBufArray(const char16_t** out, std::uint32_t id) const = 0;
  virtual std::int32_t SetArray(const std::int32_t* values, std::size_t count, std::uint32_t id,
                                bool bForceReplace) = 0;
  virtual std::size_t GetArray(std::int32_t* out, std::uint32_t id) const = 0;
  virtual std::int32_t SetLongArray(const std::int32_t* values, std::size_t count, std::uint32_t id,
                                    bool bForceReplace) = 0;
  virtual std::size_t GetLongArray(std::int32_t* out, std::uint32_t id) const = 0;
  virtual std::int32_t SetArray(const std::uint64_t* values, std::size_t count, std::uint32_t id,
                                bool bForceReplace) = 0;
  virtual std::size_t GetArray(std::uint64_t* out, std::uint32_t id) const = 0;
  virtual std::int32_t SetArray(const double* values, std::size_t count, std::uint32_t id,
                                bool bForceReplace) = 0;
  virtual std::size_t GetArray(double* out, std::uint32_t id) const = 0;
};

// The one implementation: a CMap from id to MElement. Lookups and sets cost one hash and
// a walk of one chain (64 buckets by default, so O(1) for the few dozen ids of an item).
class CBlackBox : public CABlackBox {
 public:
  enum Kind : std::uint32_t {
    kNone = 0,  // GetKind of an absent id.
    kScalar = 1,
    kRawArray = 2,
    kContainer = 3,
    kWideText = 4,
    kText = 5,
    kGenericObject = 6,
  };

  // The containers the array setters create (grow step 64).
  using IntArray = CArray<std::int32_t, 64>;
  using UInt64Array = CArray<std::uint64_t, 64>;
  using DoubleArray = CArray<double, 64>;
  using TextArray = CArray<sstring, 64>;
  using WideTextArray = CArray<usstring, 64>;

  // 64 buckets; throws std::bad_alloc when the bucket table cannot be allocated.
  CBlackBox();
  // nBuckets buckets (0 leaves the bag without a table, so every setter fails with -2).
  explicit CBlackBox(std::uint32_t nBuckets);
  ~CBlackBox() override;
  CBlackBox(const CBlackBox&) = delete;
  CBlackBox& operator=(const CBlackBox&) = delete;

  std::int32_t InitHashTable(std::uint32_t nBuckets) override;
  void RemoveObject(const char* strId) override;
  void RemoveObject(std::uint32_t id) override;
  void Reserved() override;
  std::int32_t SetGenericObject(const char* strId, CBlackBoxObject* pObject) override;
  std::int32_t SetGenericObject(std::uint32_t id, CBlackBoxObject* pObject) override;
  const CBlackBoxObject* GetGenericObject(const char* strId) const override;
  const CBlackBoxObject* GetGenericObject(std::uint32_t id) const override;
  CBlackBoxObject* GetGenericObjectRW(std::uint32_t id) override;
  CBlackBoxObject* GetGenericObjectRW(const char* strId) override;
  std::int32_t SetBool(bool value, const char* strId, bool bForceReplace) override;
  std::int32_t SetBool(bool value, std::uint32_t id, bool bForceReplace) override;
  bool GetBool(const char* strId) const override;
  bool GetBool(std::uint32_t id) const override;
  std::int32_t SetUInt(std::uint32_t value, std::uint32_t id, bool bForceReplace) override;
  std::uint32_t GetUInt(std::uint32_t id) const override;
  std::int32_t SetInt(std::int32_t value, const char* strId, bool bForceReplace) override;
  std::int32_t SetInt(std::int32_t value, std::uint32_t id, bool bForceReplace) override;
  std::int32_t GetInt(const char* strId) const override;
  std::int32_t GetInt(std::uint32_t id) const override;
  std::int32_t SetSizeT(std::size_t value, const char* strId, bool bForceReplace) override;
  std::int32_t SetSizeT(std::size_t value, std::uint32_t id, bool bForceReplace) override;
  std::size_t GetSizeT(const char* strId) const override;
  std::size_t GetSizeT(std::uint32_t id) const override;
  std::int32_t SetDouble(double value, std::uint32_t id, bool bForceReplace) override;
  double GetDouble(std::uint32_t id) const override;
  std::int32_t SetCharBuf(const char* text, const char* strId, bool bForceReplace) override;
  std::int32_t SetCharBuf(const char* text, std::uint32_t id, bool bForceReplace) override;
  const char* GetCharBuf(const char* strId) const override;
  const char* GetCharBuf(std::uint32_t id) const override;
  std::int32_t SetUCharBuf(const char16_t* text, const char* strId, bool bForceReplace) override;
  std::int32_t SetUCharBuf(const char16_t* text, std::uint32_t id, bool bForceReplace) override;
  const char16_t* GetUCharBuf(const char* strId) const override;
  const char16_t* GetUCharBuf(std::uint32_t id) const override;
  std::int32_t SetCharBufArray(const char* const* texts, std::size_t count, std::uint32_t id,
                               bool bForceReplace) override;
  std::size_t GetCharBufArray(const char** out, std::uint32_t id) const override;
  std::int32_t SetUCharBufArray(const char16_t* const* texts, std::size_t count, std::uint32_t id,
                                bool bForceReplace) override;
  std::size_t GetUCharBufArray(const char16_t** out, std::uint32_t id) const override;
  std::int32_t SetArray(const std::int32_t* values, std::size_t count, std::uint32_t id,
                        bool bForceReplace) override;
  std::size_t GetArray(std::int32_t* out, std::uint32_t id) const override;
  std::int32_t SetLongArray(const std::int32_t* values, std::size_t count, std::uint32_t id,
                            bool bForceReplace) override;
  std::size_t GetLongArray(std::int32_t* out, std::uint32_t id) const override;
  std::int32_t SetArray(const std::uint64_t* values, std::size_t count, std::uint32_t id,
                        bool bForceReplace) override;
  std::size_t GetArray(std::uint64_t* out, std::uint32_t id) const override;
  std::int32_t SetArray(const double* values, std::size_t count, std::uint32_t id,
                        bool bForceReplace) override;
  std::size_t GetArray(double* out, std::uint32_t id) const override;

  // Not part of the interface: inspection without exceptions.
  // The kind stored under id, kNone when absent.
  std::uint32_t GetKind(std::uint32_t id) const noexcept {
    const MElement* element = Locate(id);
    return element == nullptr ? static_cast<std::uint32_t>(kNone) : element->kind;
  }
  // The value SetBool stored under id: 0 or 1; -1 when id holds nothing or another kind or
  // width of value (where GetBool would throw).
  int PeekBool(std::uint32_t id) const noexcept {
    const MElement* element = Locate(id);
    if (element == nullptr || element->kind != kScalar || element->detail != 1) return -1;
    return element->cell[0] != 0 ? 1 : 0;
  }
  // The container stored under id (kind 3: IntArray, UInt64Array, DoubleArray, TextArray or
  // WideTextArray), or null for an absent id or another kind. Owned by the bag.
  const CBlackBoxObject* GetContainer(std::uint32_t id) const noexcept;
  // Number of stored ids.
  std::uint32_t GetCount() const noexcept { return m_elements.GetCount(); }
  // Calls visit(id, kind, scalarBytes) for every stored id, in no particular order;
  // scalarBytes is the width a scalar was stored with (1 for SetBool, 4 for the 32-bit
  // setters, 8 for SetSizeT and SetDouble), 0 for the other kinds. The bag must not change
  // during the walk. O(ids + buckets).
  template <class Visitor>
  void ForEachId(Visitor&& visit) const {
    m_elements.ForEach([&](std::uint32_t id, const MElement& element) {
      visit(id, element.kind, element.kind == kScalar ? element.detail : std::uint32_t{0});
    });
  }
  // Releases every owned payload and forgets every id, keeping the bucket table, so one
  // bag can carry item after item without rebuilding its table.
  void RemoveAll() noexcept;

 private:
  // One stored value. Scalars live in the element itself rather than in a separately
  // allocated cell: a forced scalar write (the per-list verdict flags, many per page)
  // then costs no allocation, and nothing a caller can see changes (values, kinds,
  // replacement rules and errors are the same; only fewer calls can run out of memory).
  struct MElement {
    std::uint32_t kind = kNone;
    // Kind 1: the width in bytes the scalar was stored with (1, 4 or 8), so a getter of
    // another width answers "of other type" instead of reading a different cell size.
    // Kind 3: which container type the payload is (an ArrayType).
    std::uint32_t detail = 0;
    union {
      CBlackBoxObject* object;  // Kinds 3 to 6. Owned for 3 to 5, not owned for 6.
      void* raw;                // Kind 2. Owned.
      unsigned char cell[8];    // Kind 1.
    };
    MElement() noexcept : object(nullptr) {}
    bool HasPayload() const noexcept {
      return kind == kScalar || (kind == kRawArray ? raw != nullptr : object != nullptr);
    }
  };
  enum ArrayType : std::uint32_t {
    kIntArray = 1,
    kLongArray,
    kUInt64Array,
    kDoubleArray,
    kTextArray,
    kWideTextArray,
  };

  // 0 when an element of `kind` may be stored under id, with `existing` set when it
  // replaces one; -502 (present, no force) or -500 (present, other kind) otherwise.
  std::int32_t Admit(std::uint32_t id, std::uint32_t kind, bool bForceReplace,
                     MElement*& existing) noexcept;
  // Stores fresh in place of existing (releasing the old payload) or under a new id.
  // On failure the fresh payload is released and the status returned.
  std::int32_t Place(std::uint32_t id, MElement* existing, const MElement& fresh) noexcept;
  static void Release(const MElement& element) noexcept;

  template <class T>
  std::int32_t PutScalar(T value, std::uint32_t id, bool bForceReplace) noexcept;
  // A scalar setter: rewrites a scalar stored recently under id in place (the common case
  // of a bag reused for item after item) and leaves everything else, the exception
  // included, to SetScalarSlow, out of line, so the common case saves no registers.
  template <class T>
  std::int32_t SetScalar(T value, std::uint32_t id, bool bForceReplace, int traceLevel);
  template <class T>
  std::int32_t SetScalarSlow(T value, std::uint32_t id, bool bForceReplace, int traceLevel);
  template <class T>
  bool ReadScalar(std::uint32_t id, T& value) const noexcept;
  template <class Array, class T>
  std::int32_t PutNumbers(const T* values, std::size_t count, std::uint32_t id, bool bForceReplace,
                          ArrayType type);
  template <class Array, class T>
  std::size_t ReadNumbers(T* out, std::uint32_t id, ArrayType type) const;
  template <class Array, class Char>
  std::int32_t PutTexts(const Char* const* texts, std::size_t count, std::uint32_t id,
                        bool bForceReplace, ArrayType type);
  template <class Array, class Char>
  std::size_t ReadTexts(const Char** out, std::uint32_t id, ArrayType type) const;
  // The element of kind `kind` with a payload under id, or null.
  const MElement* Find(std::uint32_t id, std::uint32_t kind) const noexcept;
  [[noreturn]] static void ThrowMissing(std::uint32_t id);

  // Recently stored ids: a direct-mapped table of (id, element) pairs, filled when an id is
  // stored and cleared when it is removed, with the number of stored ids that fall on each
  // table slot. A lookup of a recently stored id then costs a multiply and a load instead
  // of the map's hash and chain walk, and a lookup of an absent id stops when its slot
  // holds no id, or only another; everything else falls through to the map. Only writers
  // change it, so concurrent readers of an unchanging bag stay safe.
  struct RecentId {
    std::uint32_t id;
    MElement* element;  // null: no entry (the slot's ids, if any, are in the map only)
  };
  static constexpr unsigned kRecentSlots = 64;
  static unsigned RecentSlot(std::uint32_t id) noexcept { return (id * 0x9E3779B1u) >> 26; }
  // The element stored under id, or null.
  MElement* Locate(std::uint32_t id) const noexcept {
    const unsigned slot = RecentSlot(id);
    const std::uint32_t stored = m_slotCounts[slot];
    if (stored == 0) return nullptr;
    const RecentId& recent = m_recent[slot];
    if (recent.element != nullptr) {
      if (recent.id == id) return recent.element;
      if (stored == 1) return nullptr;  // the slot's one id is another
    }
    return const_cast<MElement*>(m_elements.Lookup(id));
  }
  // Stores fresh under a new id and remembers it. 0, or the map's status.
  std::int32_t Insert(std::uint32_t id, const MElement& fresh) noexcept;

  CMap<std::uint32_t, MElement> m_elements;
  RecentId m_recent[kRecentSlots] = {};
  std::uint32_t m_slotCounts[kRecentSlots] = {};  // stored ids per slot of m_recent
};

}  // namespace ascommon
