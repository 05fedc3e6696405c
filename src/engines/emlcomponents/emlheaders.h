// The headers of a message and of its parts: CHeader (the abstract header), CModifiableHeader
// (a header whose value the header actions may change) and CHeaderOther (a plain name/value
// header, the only kind the header actions create or change), and the two parsed kinds the
// path heuristics read: CHeaderReceived (the relays of the "Received" lines) and
// CHeaderAddress (the addresses of an address header).
//
// A header holds its name as written, its decoded value as wide text and its raw 8-bit
// text as received (what the heuristics that look at bytes read). The message's headers
// map goes from the upper-case name to the header; whoever fills the map owns the headers.
// Threads: a header belongs to one message, read and changed by one thread at a time.
#pragma once

#include <cstdint>

#include "common/array.h"
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
  // The decoded value as the message builder sets it (any kind of header).
  std::int32_t AssignValue(const ascommon::usstring& value) { return m_value.assign(value); }

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

// One relay of the message's path, as a "Received" line names it: the sending host's name and
// its IP address, both as written (empty when the line does not give them).
struct CReceivedHop {
  ascommon::sstring host;
  ascommon::sstring ip;
};

// The message's "Received" lines parsed into hops, the topmost line first. Its value and raw
// text are those of all the lines, one per line.
class CHeaderReceived : public CHeader {
 public:
  std::int32_t GetKind() const noexcept override { return kHeaderReceived; }
  ascommon::CArray<CReceivedHop> hops;
};

// An address header ("TO", "CC", ...) with its parsed addresses ("user@domain") in order.
class CHeaderAddress : public CHeader {
 public:
  std::int32_t GetKind() const noexcept override { return kHeaderAddress; }
  ascommon::CArray<ascommon::usstring> addresses;
};

// Upper-case header name -> header (not owned by the map).
using CHeadersMap = ascommon::CMap<ascommon::sstring, CHeader*>;

}  // namespace nsEmlComponents
