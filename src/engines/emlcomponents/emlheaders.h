// The headers of a message and of its parts: CHeader (the abstract header), CModifiableHeader
// (a header whose value the header actions may change) and CHeaderOther (a plain name/value
// header, the only kind the header actions create or change).
//
// A header holds its name as written, its decoded value as wide text and its raw 8-bit
// text as received (what the heuristics that look at bytes read). The message's headers
// map goes from the upper-case name to the header; whoever fills the map owns the headers.
// Threads: a header belongs to one message, read and changed by one thread at a time.
#pragma once

#include <cstdint>

#include "common/asmemory.h"
#include "common/map.h"
#include "common/ustring.h"

namespace nsEmlComponents {

enum HeaderKind : std::int32_t {
  kHeaderOther = 1,  // plain name/value header (CHeaderOther)
  kHeaderAddress = 2,
  kHeaderReceived = 3,
};

class CHeader : public ascommon::CASAllocated {
 public:
  virtual ~CHeader() = default;
  // The kind of header (HeaderKind).
  virtual std::int32_t GetKind() const noexcept = 0;

  const ascommon::sstring& GetName() const noexcept { return m_name; }
  const ascommon::usstring& GetValue() const noexcept { return m_value; }
  const ascommon::sstring& GetRaw() const noexcept { return m_raw; }

  // Each returns 0, or -2 when the copy cannot be allocated.
  std::int32_t SetName(const char* name) { return m_name.assign(name); }
  std::int32_t SetRaw(const char* raw) { return m_raw.assign(raw); }

 protected:
  ascommon::sstring m_name;
  ascommon::usstring m_value;
  ascommon::sstring m_raw;
};

class CModifiableHeader {
 public:
  virtual ~CModifiableHeader() = default;
  // Replace or extend the header's value; 0, or -2 when memory runs out.
  virtual std::int32_t SetValue(const ascommon::usstring& value) = 0;
  virtual std::int32_t AppendValue(const ascommon::usstring& value) = 0;
};

class CHeaderOther : public CHeader, public CModifiableHeader {
 public:
  std::int32_t GetKind() const noexcept override { return kHeaderOther; }
  std::int32_t SetValue(const ascommon::usstring& value) override;
  std::int32_t AppendValue(const ascommon::usstring& value) override;
};

// Upper-case header name -> header (not owned by the map).
using CHeadersMap = ascommon::CMap<ascommon::sstring, CHeader*>;

}  // namespace nsEmlComponents
