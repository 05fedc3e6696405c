// URL utilities: the URL parse record (CParsedURL), the multi-label suffix set
// (CSuffixTable) and the domain rule that both the parse record and the URL database use.
//
// CParsedURL owns one heap block holding the escaped URL and its lower-case copy; every
// piece (path, host, domain) is a start pointer into one of those two texts and a length,
// valid until the next ParseURL, Reset or the record's destruction. Pieces are not
// zero-terminated. A piece that does not exist has a null start and length 0.
// The host stores the record in an item blackbox as a generic object (key 30012) and keeps
// ownership; filters only read it.
//
// CSuffixTable is an immutable set of byte strings once built: safe for any number of
// concurrent readers. The process-wide table of double extensions is built once, lazily,
// under a function-level shared_locker, and read without locks afterwards.
//
// Matching is on the escaped text, case included: the schemes "http://", "https://",
// "file://", the "www." prefix and the suffix lookup are exact byte comparisons.
//
// Threads: a CParsedURL belongs to one caller; ParseURL may run in many threads at once on
// different records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/blackboxobject.h"
#include "common/ustring.h"

namespace ascommon {

// A set of suffixes (exact, case-sensitive byte strings such as ".co.uk") with an O(1)
// membership test that allocates nothing. Entries are not copied: the texts given to Build
// must outlive the table (the generated tables are static data).
class CSuffixTable : public CASAllocated {
 public:
  CSuffixTable() noexcept = default;
  ~CSuffixTable();
  CSuffixTable(const CSuffixTable&) = delete;
  CSuffixTable& operator=(const CSuffixTable&) = delete;

  // Adds each zero-terminated entry in turn; an entry already present (or null) is
  // skipped. Replaces any earlier content. Returns 0, or -2 when the slot array cannot be
  // allocated: the table then has no buckets and contains nothing.
  std::int32_t Build(const char* const* entries, std::size_t count) noexcept;

  // Membership of the length bytes at text (not zero-terminated). Expected O(1 + length);
  // false when the table has no buckets.
  bool Contains(const char* text, std::size_t length) const noexcept;

  // Number of distinct entries held.
  std::uint32_t GetCount() const noexcept { return m_count; }
  bool HasBuckets() const noexcept { return m_capacity != 0; }

 private:
  struct Slot {
    const char* text;  // Not owned; null marks a free slot.
    std::uint32_t length;
    std::uint32_t hash;
  };
  Slot* m_slots = nullptr;  // Owned; m_capacity entries, a power of two.
  std::uint32_t m_capacity = 0;
  std::uint32_t m_count = 0;
};

// The domain rule. host/length is a host name without user information and port. Scans
// from the end: at the second dot from the end the suffix from that dot to the end (dot
// included) is looked up in table; when it is absent (or the table has no buckets) the
// domain is the last two labels, otherwise the last three. A name with fewer dots is its
// own domain. Returns the offset in host where the domain starts. O(length).
std::size_t FindDomainStart(const char* host, std::size_t length,
                            const CSuffixTable& table) noexcept;

// True when text/length is non-empty, made only of digits and dots, with exactly three dots.
bool IsIPv4Literal(const char* text, std::size_t length) noexcept;

// The process-wide double-extension table, built on first use (traces "loading double
// extensions..." and "done loading %d double extensions" at level 3). Null when it could
// not be built; a later call tries again. Never rebuilt once built.
const CSuffixTable* GetDoubleExtensions() noexcept;

// Membership of suffix (written with its leading dot, e.g. ".co.uk") in the process-wide
// double-extension table; false for a null string or when the table is unavailable.
bool IsDoubleExtension(const sstring& suffix) noexcept;

// Tests only: destroys the process-wide table so that the next use builds it again. No
// other thread may be using the table.
void ResetDoubleExtensionsForTesting() noexcept;

// The URL parse record.
class CParsedURL : public CBlackBoxObject {
 public:
  CParsedURL() noexcept = default;
  ~CParsedURL() override;
  CParsedURL(const CParsedURL&) = delete;
  CParsedURL& operator=(const CParsedURL&) = delete;

  // Parses length characters of text (8-bit, or UTF-16 of which only the low byte of each
  // unit is used). Returns 0; -1 for a null text or length 0; -2 when memory runs out. On
  // failure the record is zeroed. O(length); the texts' block is kept from one parse to the
  // next when it is large enough, so a record that parses URL after URL allocates rarely.
  std::int32_t ParseURL(const char* text, std::size_t length) noexcept;
  std::int32_t ParseURL(const char16_t* text, std::size_t length) noexcept;

  // Releases the texts and zeroes every field.
  void Reset() noexcept;

  // The (start, length) pairs: whole escaped URL, path piece, host, domain, each in the
  // escaped text and in the lower-case text (same offsets in both).
  void GetURL(const char*& start, std::size_t& length) const noexcept {
    start = m_escaped;
    length = m_length;
  }
  void GetURLLower(const char*& start, std::size_t& length) const noexcept {
    start = m_lower;
    length = m_length;
  }
  void GetPath(const char*& start, std::size_t& length) const noexcept {
    start = m_path;
    length = m_pathLength;
  }
  void GetPathLower(const char*& start, std::size_t& length) const noexcept {
    start = m_pathLower;
    length = m_pathLength;
  }
  void GetHost(const char*& start, std::size_t& length) const noexcept {
    start = m_host;
    length = m_hostLength;
  }
  void GetHostLower(const char*& start, std::size_t& length) const noexcept {
    start = m_hostLower;
    length = m_hostLength;
  }
  void GetDomain(const char*& start, std::size_t& length) const noexcept {
    start = m_domain;
    length = m_domainLength;
  }
  void GetDomainLower(const char*& start, std::size_t& length) const noexcept {
    start = m_domainLower;
    length = m_domainLength;
  }

 private:
  // Shared tail of both ParseURL overloads; Unit is char or char16_t.
  template <class Unit>
  std::int32_t Parse(const Unit* text, std::size_t length) noexcept;
  // Steps 4 to 7: locates the pieces in the escaped text and mirrors them into the
  // lower-case text.
  void LocatePieces() noexcept;
  // Zeroes every field but keeps the block and its capacity.
  void ClearPieces() noexcept;

  char* m_escaped = nullptr;  // Owned: escaped text, terminator, lower-case text, terminator.
  char* m_lower = nullptr;    // Into the same block as m_escaped.
  char* m_block = nullptr;    // Owned: the block m_escaped points into while parsed.
  std::size_t m_capacity = 0;  // bytes of m_block
  std::size_t m_length = 0;
  const char* m_path = nullptr;  // Into m_escaped.
  const char* m_pathLower = nullptr;  // Into m_lower.
  std::size_t m_pathLength = 0;
  const char* m_host = nullptr;
  const char* m_hostLower = nullptr;
  std::size_t m_hostLength = 0;
  const char* m_domain = nullptr;
  const char* m_domainLower = nullptr;
  std::size_t m_domainLength = 0;
};

}  // namespace ascommon
