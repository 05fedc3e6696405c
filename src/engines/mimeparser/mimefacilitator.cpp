// The facilitator: Bind finds the parsed message in the blackbox or parses the raw message
// once and hands the results to the blackbox (ownership with the raw message); the getters
// read the bound objects. Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#include "engines/mimeparser/mimefacilitator.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/astrace.h"
#include "engines/mimeparser/mailobjects.h"
#include "engines/mimeparser/messagebuilder.h"

namespace mimeparser {

namespace {

// Stores object under id; the blackbox's status (its setters may also throw).
std::int32_t Store(ascommon::CABlackBox& blackbox, std::uint32_t id,
                   ascommon::CBlackBoxObject* object) noexcept {
  try {
    return blackbox.SetGenericObject(id, object);
  } catch (...) {
    return -2;
  }
}

// Stores built under id unless bound already holds such an object; the stored object then
// belongs to the raw message (owner, whose previous object goes) and is bound. 0, or -2.
template <class T>
std::int32_t Keep(ascommon::CABlackBox& blackbox, std::uint32_t id, std::unique_ptr<T>& built,
                  ascommon::CBlackBoxObject*& owner, T*& bound) {
  if (bound != nullptr) return 0;
  if (Store(blackbox, id, built.get()) != 0) return -2;
  delete owner;
  bound = built.get();
  owner = built.release();
  return 0;
}

template <class T>
T* Stored(ascommon::CABlackBox& blackbox, std::uint32_t id, ascommon::CBlackBoxObject*& any) {
  any = blackbox.GetGenericObjectRW(id);
  return dynamic_cast<T*>(any);
}

}  // namespace

CRawMessage::~CRawMessage() {
  delete m_headers;
  delete m_parts;
}

void ReleaseRawMessage(ascommon::CABlackBox& blackbox) noexcept {
  auto* raw = dynamic_cast<CRawMessage*>(blackbox.GetGenericObjectRW(kRawMessageId));
  if (raw == nullptr) return;
  if (raw->m_headers != nullptr && blackbox.GetGenericObjectRW(kHeadersMapId) == raw->m_headers)
    blackbox.RemoveObject(kHeadersMapId);
  if (raw->m_parts != nullptr && blackbox.GetGenericObjectRW(kPartsTreeId) == raw->m_parts)
    blackbox.RemoveObject(kPartsTreeId);
  blackbox.RemoveObject(kRawMessageId);
  delete raw;
}

std::int32_t SetRawMessage(ascommon::CABlackBox& blackbox, const char* data, std::size_t size) {
  ReleaseRawMessage(blackbox);
  auto* raw = new (std::nothrow) CRawMessage();
  if (raw == nullptr) return -2;
  if (data != nullptr && size > 0) {
    if (raw->bytes.SetSize(size, true) != 0) {
      delete raw;
      return -2;
    }
    std::memcpy(raw->bytes.GetData(), data, size);
  }
  const std::int32_t status = Store(blackbox, kRawMessageId, raw);
  if (status != 0) delete raw;
  return status;
}

CMimeFacilitator::CMimeFacilitator(const ascommon::CStringConversion* converter) noexcept
    : m_converter(converter) {}

CMimeFacilitator::~CMimeFacilitator() = default;

std::int32_t CMimeFacilitator::Bind(ascommon::CABlackBox& blackbox) {
  m_headers = nullptr;
  m_parts = nullptr;
  ascommon::CBlackBoxObject* headersObject = nullptr;
  ascommon::CBlackBoxObject* partsObject = nullptr;
  CMessageHeaders* headers = Stored<CMessageHeaders>(blackbox, kHeadersMapId, headersObject);
  CMessageParts* parts = Stored<CMessageParts>(blackbox, kPartsTreeId, partsObject);
  AS_TRACE(3, "BBObj headers: %p; THeadersMap: %p", static_cast<void*>(headersObject),
           headers != nullptr ? static_cast<void*>(&headers->map) : nullptr);
  AS_TRACE(3, "BBObj parts tree: %p; PartsTree: %p", static_cast<void*>(partsObject),
           parts != nullptr ? static_cast<void*>(&parts->tree) : nullptr);
  if ((headersObject != nullptr && headers == nullptr) ||
      (partsObject != nullptr && parts == nullptr)) {
    AS_TRACE(2, "mail item blackbox holds foreign objects under %u/%u", kHeadersMapId,
             kPartsTreeId);
    return -1;
  }
  if (headers == nullptr || parts == nullptr) {
    ascommon::CBlackBoxObject* rawObject = nullptr;
    auto* raw = Stored<CRawMessage>(blackbox, kRawMessageId, rawObject);
    if (raw == nullptr) return -1;
    std::unique_ptr<CMessageHeaders> builtHeaders;
    try {
      builtHeaders.reset(new CMessageHeaders());
    } catch (const std::bad_alloc&) {
      return -2;
    }
    std::unique_ptr<CMessageParts> builtParts(new (std::nothrow) CMessageParts());
    if (builtParts == nullptr ||
        ParseMessage(raw->bytes.GetData(), raw->bytes.GetSize(), m_converter, *builtHeaders,
                     *builtParts) != 0) {
      return -2;
    }
    // What is stored belongs to the raw message; what was not needed goes at once. An object
    // the raw message owned before was removed from the blackbox by someone: it goes too.
    if (Keep(blackbox, kHeadersMapId, builtHeaders, raw->m_headers, headers) != 0 ||
        Keep(blackbox, kPartsTreeId, builtParts, raw->m_parts, parts) != 0) {
      return -2;
    }
  }
  m_headers = headers;
  m_parts = parts;
  return 0;
}

nsEmlComponents::CHeadersMap* CMimeFacilitator::GetHeaders() noexcept {
  return m_headers != nullptr ? &m_headers->map : nullptr;
}

const nsEmlComponents::CPartsTree* CMimeFacilitator::GetPartsTree() const noexcept {
  return m_parts != nullptr ? &m_parts->tree : nullptr;
}

std::uint32_t CMimeFacilitator::GetTotalSize() const noexcept {
  return m_parts != nullptr ? m_parts->totalSize : 0;
}

bool CMimeFacilitator::BodiesHavePhrase(std::int32_t bodyType,
                                        const ascommon::usstring& phrase) const {
  if (m_parts == nullptr || phrase.empty()) return false;
  const int kind = bodyType == nsEmlComponents::kBodyTextPlain  ? CPhraseIndex::kPlain
                   : bodyType == nsEmlComponents::kBodyTextHtml ? CPhraseIndex::kHtml
                                                                : -1;
  return kind >= 0 && m_parts->phrases.HasPhrase(kind, phrase.c_str(), phrase.length());
}

const ascommon::CArray<nsEmlComponents::CHeader*>* CMimeFacilitator::GetHeaderList()
    const noexcept {
  return m_headers != nullptr ? &m_headers->list : nullptr;
}

const ascommon::sstring* CMimeFacilitator::GetHeaderSummary() const noexcept {
  return m_headers != nullptr ? &m_headers->summary : nullptr;
}

}  // namespace mimeparser
