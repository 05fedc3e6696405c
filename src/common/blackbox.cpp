// CBlackBox over CMap<id, MElement>.
//
// A set looks the id up once to apply the replacement rules (-502 without force, -500 for
// another kind) before building anything, then builds the payload (none for scalars, one
// string or container otherwise) and either swaps it into the existing element or inserts
// a new one. Every failure releases what was built, so the bag keeps its old content.
// Tested by tests/common/blackbox_test.cpp.
#include "common/blackbox.h"

#include <cstring>
#include <new>

#include "common/astrace.h"

// Fully qualified names for the "Unused param" notices of the string-id flavours.
#define BB_NAME(op) "ascommon::CBlackBox::" op

namespace ascommon {

CBlackBox::CBlackBox() : CBlackBox(64) {}

CBlackBox::CBlackBox(std::uint32_t nBuckets) {
  if (m_elements.InitHashTable(nBuckets) != 0) throw std::bad_alloc();
}

CBlackBox::~CBlackBox() {
  m_elements.ForEach([](std::uint32_t, const MElement& element) { Release(element); });
}

void CBlackBox::RemoveAll() noexcept {
  m_elements.ForEach([](std::uint32_t, const MElement& element) { Release(element); });
  m_elements.RemoveAll();
  // An entry of m_recent is not read again before its slot is stored anew.
  for (std::uint32_t& count : m_slotCounts) count = 0;
}

std::int32_t CBlackBox::Insert(std::uint32_t id, const MElement& fresh) noexcept {
  MElement* stored = nullptr;
  const std::int32_t status = m_elements.SetAt(id, fresh, &stored);
  if (status != 0) return status;
  const unsigned slot = RecentSlot(id);
  m_recent[slot] = RecentId{id, stored};
  ++m_slotCounts[slot];
  return 0;
}

std::int32_t CBlackBox::InitHashTable(std::uint32_t nBuckets) {
  return m_elements.InitHashTable(nBuckets);
}

void CBlackBox::Release(const MElement& element) noexcept {
  switch (element.kind) {
    case kRawArray:
      as_free(element.raw);
      break;
    case kContainer:
    case kWideText:
    case kText:
      delete element.object;
      break;
    default:  // Scalars are held inline; generic objects belong to the caller.
      break;
  }
}

std::int32_t CBlackBox::Admit(std::uint32_t id, std::uint32_t kind, bool bForceReplace,
                              MElement*& existing) noexcept {
  existing = Locate(id);
  if (existing == nullptr) return 0;
  if (!bForceReplace) return -502;
  if (existing->kind != kind) return -500;
  return 0;
}

std::int32_t CBlackBox::Place(std::uint32_t id, MElement* existing,
                              const MElement& fresh) noexcept {
  if (existing != nullptr) {
    Release(*existing);
    *existing = fresh;
    return 0;
  }
  const std::int32_t status = Insert(id, fresh);
  if (status != 0) Release(fresh);
  return status;
}

const CBlackBox::MElement* CBlackBox::Find(std::uint32_t id, std::uint32_t kind) const noexcept {
  const MElement* element = Locate(id);
  if (element == nullptr || element->kind != kind || !element->HasPayload()) return nullptr;
  return element;
}

void CBlackBox::ThrowMissing(std::uint32_t id) {
  AS_THROW_CODE(2, ASException, -501, "there is no object with id = %d or is of other type",
                static_cast<int>(id));
}

const CBlackBoxObject* CBlackBox::GetContainer(std::uint32_t id) const noexcept {
  const MElement* element = Find(id, kContainer);
  return element == nullptr ? nullptr : element->object;
}

// ---- removal, generic objects ----

void CBlackBox::RemoveObject(const char*) { AS_TRACE_UNUSED(BB_NAME("RemoveObject"), "strId"); }

void CBlackBox::RemoveObject(std::uint32_t id) {
  const MElement* element = Locate(id);
  if (element == nullptr) return;
  Release(*element);
  const unsigned slot = RecentSlot(id);
  if (m_recent[slot].id == id) m_recent[slot] = RecentId{};
  --m_slotCounts[slot];
  m_elements.RemoveKey(id);
}

void CBlackBox::Reserved() {}

std::int32_t CBlackBox::SetGenericObject(const char*, CBlackBoxObject*) {
  AS_TRACE_UNUSED(BB_NAME("SetGenericObject"), "strId");
  AS_TRACE_UNUSED(BB_NAME("SetGenericObject"), "pObject");
  return -1;
}

std::int32_t CBlackBox::SetGenericObject(std::uint32_t id, CBlackBoxObject* pObject) {
  if (Locate(id) != nullptr) return -502;
  MElement fresh;
  fresh.kind = kGenericObject;
  fresh.object = pObject;
  return Insert(id, fresh);
}

const CBlackBoxObject* CBlackBox::GetGenericObject(const char*) const {
  AS_TRACE_UNUSED(BB_NAME("GetGenericObject"), "strId");
  return nullptr;
}

const CBlackBoxObject* CBlackBox::GetGenericObject(std::uint32_t id) const {
  const MElement* element = Locate(id);
  return element != nullptr && element->kind == kGenericObject ? element->object : nullptr;
}

CBlackBoxObject* CBlackBox::GetGenericObjectRW(std::uint32_t id) {
  const MElement* element = Locate(id);
  return element != nullptr && element->kind == kGenericObject ? element->object : nullptr;
}

CBlackBoxObject* CBlackBox::GetGenericObjectRW(const char*) {
  AS_TRACE_UNUSED(BB_NAME("GetGenericObjectRW"), "strId");
  return nullptr;
}

// ---- scalars ----

template <class T>
std::int32_t CBlackBox::PutScalar(T value, std::uint32_t id, bool bForceReplace) noexcept {
  static_assert(sizeof(T) <= sizeof(MElement::cell));
  MElement* existing = nullptr;
  const std::int32_t status = Admit(id, kScalar, bForceReplace, existing);
  if (status != 0) return status;
  if (existing != nullptr) {  // a scalar (Admit checked the kind): rewritten in place
    existing->detail = sizeof(T);
    std::memset(existing->cell, 0, sizeof(existing->cell));
    std::memcpy(existing->cell, &value, sizeof(T));
    return 0;
  }
  MElement fresh;
  fresh.kind = kScalar;
  fresh.detail = sizeof(T);
  std::memset(fresh.cell, 0, sizeof(fresh.cell));
  std::memcpy(fresh.cell, &value, sizeof(T));
  return Place(id, existing, fresh);
}

#if defined(__GNUC__)
#define BB_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define BB_NOINLINE __declspec(noinline)
#else
#define BB_NOINLINE
#endif

template <class T>
BB_NOINLINE std::int32_t CBlackBox::SetScalarSlow(T value, std::uint32_t id, bool bForceReplace,
                                                  int traceLevel) {
  const std::int32_t status = PutScalar(value, id, bForceReplace);
  if (status != 0) AS_THROW_CODE(traceLevel, ASException, status, "Problems adding the value");
  return 0;
}

template <class T>
inline std::int32_t CBlackBox::SetScalar(T value, std::uint32_t id, bool bForceReplace,
                                         int traceLevel) {
  // As in Locate: a recent entry is the stored element while its slot counts stored ids
  // (removing its id clears it; RemoveAll only zeroes the counts).
  const unsigned slot = RecentSlot(id);
  const RecentId& recent = m_recent[slot];
  if (bForceReplace && m_slotCounts[slot] != 0 && recent.element != nullptr && recent.id == id &&
      recent.element->kind == kScalar) {
    MElement& element = *recent.element;
    element.detail = sizeof(T);
    std::memset(element.cell, 0, sizeof(element.cell));
    std::memcpy(element.cell, &value, sizeof(T));
    return 0;
  }
  return SetScalarSlow(value, id, bForceReplace, traceLevel);
}

template <class T>
bool CBlackBox::ReadScalar(std::uint32_t id, T& value) const noexcept {
  const MElement* element = Find(id, kScalar);
  if (element == nullptr || element->detail != sizeof(T)) return false;
  std::memcpy(&value, element->cell, sizeof(T));
  return true;
}

std::int32_t CBlackBox::SetBool(bool, const char*, bool) {
  AS_TRACE_UNUSED(BB_NAME("SetBool"), "value");
  AS_TRACE_UNUSED(BB_NAME("SetBool"), "strId");
  AS_TRACE_UNUSED(BB_NAME("SetBool"), "bForceReplace");
  return 0;
}

std::int32_t CBlackBox::SetBool(bool value, std::uint32_t id, bool bForceReplace) {
  return SetScalar(static_cast<std::uint8_t>(value ? 1 : 0), id, bForceReplace, 0);
}

bool CBlackBox::GetBool(const char*) const {
  AS_TRACE_UNUSED(BB_NAME("GetBool"), "strId");
  return false;
}

bool CBlackBox::GetBool(std::uint32_t id) const {
  std::uint8_t byte = 0;
  if (!ReadScalar(id, byte)) ThrowMissing(id);
  return byte != 0;
}

std::int32_t CBlackBox::SetUInt(std::uint32_t value, std::uint32_t id, bool bForceReplace) {
  return SetScalar(value, id, bForceReplace, 2);
}

std::uint32_t CBlackBox::GetUInt(std::uint32_t id) const {
  std::uint32_t value = 0;
  if (!ReadScalar(id, value)) ThrowMissing(id);
  return value;
}

std::int32_t CBlackBox::SetInt(std::int32_t, const char*, bool) {
  AS_TRACE_UNUSED(BB_NAME("SetInt"), "value");
  AS_TRACE_UNUSED(BB_NAME("SetInt"), "strId");
  AS_TRACE_UNUSED(BB_NAME("SetInt"), "bForceReplace");
  return 0;
}

std::int32_t CBlackBox::SetInt(std::int32_t value, std::uint32_t id, bool bForceReplace) {
  return SetScalar(value, id, bForceReplace, 2);
}

std::int32_t CBlackBox::GetInt(const char*) const {
  AS_TRACE_UNUSED(BB_NAME("GetInt"), "strId");
  return 0;
}

std::int32_t CBlackBox::GetInt(std::uint32_t id) const {
  std::int32_t value = 0;
  if (!ReadScalar(id, value)) ThrowMissing(id);
  return value;
}

std::int32_t CBlackBox::SetSizeT(std::size_t, const char*, bool) {
  AS_TRACE_UNUSED(BB_NAME("SetSizeT"), "value");
  AS_TRACE_UNUSED(BB_NAME("SetSizeT"), "strId");
  AS_TRACE_UNUSED(BB_NAME("SetSizeT"), "bForceReplace");
  return 0;
}

std::int32_t CBlackBox::SetSizeT(std::size_t value, std::uint32_t id, bool bForceReplace) {
  return SetScalar(value, id, bForceReplace, 2);
}

std::size_t CBlackBox::GetSizeT(const char*) const {
  AS_TRACE_UNUSED(BB_NAME("GetSizeT"), "strId");
  return 0;
}

std::size_t CBlackBox::GetSizeT(std::uint32_t id) const {
  std::size_t value = 0;
  if (!ReadScalar(id, value)) ThrowMissing(id);
  return value;
}

std::int32_t CBlackBox::SetDouble(double value, std::uint32_t id, bool bForceReplace) {
  return SetScalar(value, id, bForceReplace, 2);
}

double CBlackBox::GetDouble(std::uint32_t id) const {
  double value = 0;
  if (!ReadScalar(id, value)) ThrowMissing(id);
  return value;
}

// ---- texts ----

namespace {

// A heap copy of a zero-terminated text (null gives a null string), or null when memory
// runs out.
template <class String, class Char>
String* CopyText(const Char* text) noexcept {
  String* copy = new (std::nothrow) String();
  if (copy != nullptr && copy->assign(text) != 0) {
    delete copy;
    copy = nullptr;
  }
  return copy;
}

}  // namespace

std::int32_t CBlackBox::SetCharBuf(const char*, const char*, bool) {
  AS_TRACE_UNUSED(BB_NAME("SetCharBuf"), "strId");
  AS_TRACE_UNUSED(BB_NAME("SetCharBuf"), "bForceReplace");
  return 0;
}

std::int32_t CBlackBox::SetCharBuf(const char* text, std::uint32_t id, bool bForceReplace) {
  MElement* existing = nullptr;
  std::int32_t status = Admit(id, kText, bForceReplace, existing);
  if (status == 0) {
    MElement fresh;
    fresh.kind = kText;
    fresh.object = CopyText<sstring>(text);
    status = fresh.object == nullptr ? -2 : Place(id, existing, fresh);
  }
  if (status != 0) AS_THROW_CODE(2, ASException, status, "Problmes adding the buffer");
  return 0;
}

const char* CBlackBox::GetCharBuf(const char*) const {
  AS_TRACE_UNUSED(BB_NAME("GetCharBuf"), "strId");
  return nullptr;
}

const char* CBlackBox::GetCharBuf(std::uint32_t id) const {
  const MElement* element = Find(id, kText);
  if (element == nullptr) ThrowMissing(id);
  return static_cast<const sstring*>(element->object)->c_str();
}

std::int32_t CBlackBox::SetUCharBuf(const char16_t*, const char*, bool) {
  AS_TRACE_UNUSED(BB_NAME("SetUCharBuf"), "strId");
  AS_TRACE_UNUSED(BB_NAME("SetUCharBuf"), "bForceReplace");
  return 0;
}

std::int32_t CBlackBox::SetUCharBuf(const char16_t* text, std::uint32_t id, bool bForceReplace) {
  MElement* existing = nullptr;
  std::int32_t status = Admit(id, kWideText, bForceReplace, existing);
  if (status == 0) {
    MElement fresh;
    fresh.kind = kWideText;
    fresh.object = CopyText<usstring>(text);
    status = fresh.object == nullptr ? -2 : Place(id, existing, fresh);
  }
  if (status != 0) AS_THROW_CODE(2, ASException, status, "Problems adding the buffer");
  return 0;
}

const char16_t* CBlackBox::GetUCharBuf(const char*) const {
  AS_TRACE_UNUSED(BB_NAME("GetUCharBuf"), "strId");
  return nullptr;
}

const char16_t* CBlackBox::GetUCharBuf(std::uint32_t id) const {
  const MElement* element = Find(id, kWideText);
  if (element == nullptr) ThrowMissing(id);
  return static_cast<const usstring*>(element->object)->c_str();
}

// ---- arrays ----

template <class Array, class Char>
std::int32_t CBlackBox::PutTexts(const Char* const* texts, std::size_t count, std::uint32_t id,
                                 bool bForceReplace, ArrayType type) {
  MElement* existing = nullptr;
  std::int32_t status = texts == nullptr && count != 0 ? -1 : 0;
  if (status == 0) status = Admit(id, kContainer, bForceReplace, existing);
  if (status == 0) {
    Array* copy = new (std::nothrow) Array();
    if (copy == nullptr || (count != 0 && copy->SetSize(count, true) != 0)) {
      delete copy;
      AS_THROW(0, ASMemException, "Problems creating the copy");
    }
    for (std::size_t i = 0; i < count; ++i) {
      if ((*copy)[i].assign(texts[i]) != 0) {
        delete copy;
        AS_THROW(0, ASMemException, "Problems adding a new string to the copy");
      }
    }
    MElement fresh;
    fresh.kind = kContainer;
    fresh.detail = type;
    fresh.object = copy;
    status = Place(id, existing, fresh);
  }
  if (status != 0) AS_THROW_CODE(0, ASException, status, "Problems adding the array");
  return 0;
}

template <class Array, class Char>
std::size_t CBlackBox::ReadTexts(const Char** out, std::uint32_t id, ArrayType type) const {
  const MElement* element = Locate(id);
  if (element == nullptr || !element->HasPayload()) {
    AS_THROW_CODE(0, ASException, -501, "No object with that id");
  }
  if (element->kind != kContainer || element->detail != type) {
    AS_THROW_CODE(0, ASException, -501, "Object with that id is of other type");
  }
  const Array& texts = *static_cast<const Array*>(element->object);
  const std::size_t count = texts.GetSize();
  if (out != nullptr) {
    for (std::size_t i = 0; i < count; ++i) out[i] = texts[i].c_str();
  }
  return count;
}

template <class Array, class T>
std::int32_t CBlackBox::PutNumbers(const T* values, std::size_t count, std::uint32_t id,
                                   bool bForceReplace, ArrayType type) {
  MElement* existing = nullptr;
  std::int32_t status = values == nullptr && count != 0 ? -1 : 0;
  if (status == 0) status = Admit(id, kContainer, bForceReplace, existing);
  if (status == 0) {
    Array* copy = new (std::nothrow) Array();
    if (copy == nullptr || (count != 0 && copy->SetSize(count, true) != 0)) {
      delete copy;
      AS_THROW(0, ASMemException, "Could not create bbo");
    }
    if (count != 0) std::memcpy(copy->GetData(), values, count * sizeof(T));
    MElement fresh;
    fresh.kind = kContainer;
    fresh.detail = type;
    fresh.object = copy;
    status = Place(id, existing, fresh);
  }
  if (status != 0) AS_THROW_CODE(0, ASException, status, "Could not add to bb");
  return 0;
}

template <class Array, class T>
std::size_t CBlackBox::ReadNumbers(T* out, std::uint32_t id, ArrayType type) const {
  const MElement* element = Locate(id);
  if (element == nullptr || !element->HasPayload()) {
    AS_THROW_CODE(0, ASException, -501, "No object with that id");
  }
  if (element->kind != kContainer || element->detail != type) {
    AS_THROW_CODE(0, ASException, -501, "Object with the id is of other type");
  }
  const Array& numbers = *static_cast<const Array*>(element->object);
  const std::size_t count = numbers.GetSize();
  if (out != nullptr && count != 0) std::memcpy(out, numbers.GetData(), count * sizeof(T));
  return count;
}

std::int32_t CBlackBox::SetCharBufArray(const char* const* texts, std::size_t count,
                                        std::uint32_t id, bool bForceReplace) {
  return PutTexts<TextArray>(texts, count, id, bForceReplace, kTextArray);
}

std::size_t CBlackBox::GetCharBufArray(const char** out, std::uint32_t id) const {
  return ReadTexts<TextArray>(out, id, kTextArray);
}

std::int32_t CBlackBox::SetUCharBufArray(const char16_t* const* texts, std::size_t count,
                                         std::uint32_t id, bool bForceReplace) {
  return PutTexts<WideTextArray>(texts, count, id, bForceReplace, kWideTextArray);
}

std::size_t CBlackBox::GetUCharBufArray(const char16_t** out, std::uint32_t id) const {
  return ReadTexts<WideTextArray>(out, id, kWideTextArray);
}

std::int32_t CBlackBox::SetArray(const std::int32_t* values, std::size_t count, std::uint32_t id,
                                 bool bForceReplace) {
  return PutNumbers<IntArray>(values, count, id, bForceReplace, kIntArray);
}

std::size_t CBlackBox::GetArray(std::int32_t* out, std::uint32_t id) const {
  return ReadNumbers<IntArray>(out, id, kIntArray);
}

std::int32_t CBlackBox::SetLongArray(const std::int32_t* values, std::size_t count,
                                     std::uint32_t id, bool bForceReplace) {
  return PutNumbers<IntArray>(values, count, id, bForceReplace, kLongArray);
}

std::size_t CBlackBox::GetLongArray(std::int32_t* out, std::uint32_t id) const {
  return ReadNumbers<IntArray>(out, id, kLongArray);
}

std::int32_t CBlackBox::SetArray(const std::uint64_t* values, std::size_t count, std::uint32_t id,
                                 bool bForceReplace) {
  return PutNumbers<UInt64Array>(values, count, id, bForceReplace, kUInt64Array);
}

std::size_t CBlackBox::GetArray(std::uint64_t* out, std::uint32_t id) const {
  return ReadNumbers<UInt64Array>(out, id, kUInt64Array);
}

std::int32_t CBlackBox::SetArray(const double* values, std::size_t count, std::uint32_t id,
                                 bool bForceReplace) {
  return PutNumbers<DoubleArray>(values, count, id, bForceReplace, kDoubleArray);
}

std::size_t CBlackBox::GetArray(double* out, std::uint32_t id) const {
  return ReadNumbers<DoubleArray>(out, id, kDoubleArray);
}

}  // namespace ascommon

#undef BB_NAME
