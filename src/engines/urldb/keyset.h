// CKeySet: a compact set of byte strings (list keys) built for millions of entries and
// lookups that allocate nothing.
//
// Layout: each key is stored as one packed record whose first byte (its header) says the
// form. A key made only of host characters (a-z, 0-9, '.', '-', '_') is coded in 40
// symbols, those 39 characters and one for ".com", three symbols per 16 bits; a key of at
// most 64 characters of the 64 characters of host names and URL punctuation takes 6 bits
// per character; any other key is stored raw. The form and the ".com" symbols (taken left
// to right) are fixed by the key, so two keys are equal exactly when their records are.
// Records are spread over 2^k partitions by the top k bits of their key's hash (the hash
// of its text); a partition is one block holding a directory of 128 bucket offsets and
// filters (the next 7 hash bits) followed by its records in bucket order. A lookup hashes
// the caller's key, reads one partition's directory entry and, when the bucket's filter
// lets the key pass, packs it and compares the few records of that bucket: expected
// O(1 + length) at any set size, with the partitions kept at 384-768 keys (3-6 per
// bucket). An insert or removal shifts the rest of one partition (a few kilobytes); when
// the set outgrows its partitions they are all split in two: amortised O(1 + length). A
// split holds the old and the new blocks until it is complete, so a large load reserves
// its partitions first.
// A load that knows its keys' hashes and sizes beforehand (Plan) allocates every
// partition once at its final size with room left at the end of each bucket, so that its
// inserts neither move records nor reallocate. The partitions a large load lays out (Plan,
// Appender) are carved side by side from one arena chunk (engines/urldb/blockarena.h),
// which the host backs with huge pages: a lookup then costs no page-table walk.
// Memory at one million 15-character host names, planned: about 12 bytes per key (10.9 of
// packed records, 1.1 of directory), against 32 for a plain hash table.
// Limits: 2^20 partitions of at most 64 KB of records each (keys longer than 61 bytes that
// are not packed are kept out of line, in a block of their own). Inserts beyond them fail
// with -2.
//
// Ownership: the set owns its partitions (host allocator). Pointers handed to a visitor
// are valid during that call only.
// Threads: Contains, GetCount and the visits are const and safe for any number of
// concurrent readers; Insert, Remove, Reserve, Plan, Compact and Clear need exclusive
// access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"
#include "engines/urldb/blockarena.h"

namespace ascommon {

class CKeySet : public CASAllocated {
 public:
  CKeySet() noexcept = default;
  ~CKeySet();
  CKeySet(const CKeySet&) = delete;
  CKeySet& operator=(const CKeySet&) = delete;

  // Adds the length bytes at pKey (null only with length 0). Returns 0 when added, 1 when
  // already present, -2 when memory (or a limit above) runs out; the set is then unchanged.
  std::int32_t Insert(const char* pKey, std::size_t length) noexcept;

  // A key hashed (and, unless made for lookups only, packed) once, to be looked up in any
  // number of sets. It refers to the caller's text, which must outlive the probe. A key's
  // hash is that of its text (HashKeyBytes), whatever form its record takes.
  struct Probe {
    const char* key;
    std::size_t keyLength;
    std::uint32_t hash;
    std::uint32_t payloadLength;
    std::uint8_t headerLength;  // 0: the key cannot be stored (never a member)
    bool packed;
    bool lookupOnly;  // header, payload and bits not made yet (MakeLookupProbe)
    unsigned char header[5];
    unsigned char bits[96];  // the packed payload (packed keys only)
    const unsigned char* Payload() const noexcept {
      return packed ? bits : reinterpret_cast<const unsigned char*>(key);
    }
    // Bytes of its record (a long key's record holds its address, not its bytes).
    std::uint32_t RecordSize() const noexcept {
      return headerLength == 5 ? 13 : headerLength + payloadLength;
    }
  };
  static Probe MakeProbe(const char* pKey, std::size_t length) noexcept;
  // A probe for Contains only, hashed but not packed: a lookup packs the key when the
  // bucket's filter lets it pass, so a key that is plainly absent costs its hash alone.
  static Probe MakeLookupProbe(const char* pKey, std::size_t length) noexcept;
  // Insert of a probe's key (the same results); not of a lookup probe.
  std::int32_t Insert(const Probe& probe) noexcept;
  // Asks the processor to fetch what a lookup or insert of the probe reads: first its
  // bucket's directory and filter, then (once those have arrived) its records. A load
  // that prefetches a few keys ahead waits far less on memory.
  void Prefetch(const Probe& probe, bool records) const noexcept;

  // Membership of the length bytes at pKey, compared byte for byte. Allocates nothing.
  bool Contains(const char* pKey, std::size_t length) const noexcept;
  bool Contains(const Probe& probe) const noexcept;
  // Splits the partitions for count keys at once, so a large load does not split them
  // step by step. 0, or -2 when memory runs out (the set is unchanged and still usable).
  std::int32_t Reserve(std::uint32_t count) noexcept;

  // Record bytes of the keys about to be inserted, summed per hash bin: bin i counts the
  // keys whose hash has i in its top binBits bits (saturating at 0xFFFF).
  struct Bins {
    std::uint16_t* bytes;  // 2^binBits counters; not owned
    unsigned binBits;      // at most 24
    std::uint32_t keys;    // how many keys were counted
    static std::uint32_t Of(const Probe& probe, unsigned binBits) noexcept {
      return probe.hash >> (32 - binBits);
    }
  };
  // Reserves the partitions for the held keys plus bins.keys, then gives each partition
  // its final size once, with room at the end of each bucket for the counted bytes, so
  // the inserts that follow go straight into their buckets. Keys that do not match the
  // plan are inserted as without it (the plan only saves moves and reallocations). The
  // bins must be fine enough to tell buckets apart (binBits >= partition bits + 7), else
  // only the partitions are reserved. 0, or -2 when memory ran out (the set stays usable
  // and unchanged in content).
  std::int32_t Plan(const Bins& bins) noexcept;
  // Partition bits the set would have after Reserve(count).
  std::uint32_t PartitionBitsFor(std::uint32_t count) const noexcept;
  static constexpr unsigned kBucketBits = 7;

  // Builds an empty set from keys that arrive in ascending hash order, as
  // ForEachInHashOrder visits them (the order list files are written in): each partition
  // is gathered in one scratch block and then copied once into a block of its final size,
  // so the load needs no plan, no prefetching, no moves and no splits. Append returns 0
  // (added), 1 (already present), -2 (memory ran out: the keys of the partition being
  // gathered are dropped) or kNotInOrder: the key does not follow the previous one in the
  // set's bucket order, or cannot be appended (a key kept out of line, a full partition);
  // the appender has then finished and the caller inserts this key and the rest with
  // Insert. A set that is not empty, or scratch memory that cannot be had, leaves the
  // appender finished from the start. Finish (also run by the destructor) completes the
  // last partition; 0 or -2 as Append. The set must not be used otherwise meanwhile.
  // recordBytes, when not 0, bounds the record bytes to come (a list file's payload does):
  // the partitions are then carved from one arena chunk when that is large enough.
  class Appender {
   public:
    static constexpr std::int32_t kNotInOrder = 2;
    Appender(CKeySet& set, std::uint32_t expected, std::uint64_t recordBytes = 0) noexcept;
    ~Appender() { Finish(); }
    Appender(const Appender&) = delete;
    Appender& operator=(const Appender&) = delete;
    bool Active() const noexcept { return m_scratch != nullptr; }
    std::int32_t Append(const Probe& probe) noexcept;
    std::int32_t Finish() noexcept;

   private:
    std::int32_t Flush() noexcept;  // the gathered partition into its block
    CKeySet& m_set;
    unsigned char* m_scratch = nullptr;  // owned; kMaxPartitionBytes of records
    std::uint32_t m_directory[(1u << kBucketBits) + 1] = {};
    std::uint32_t m_part = 0;     // the partition being gathered (when m_open)
    std::uint32_t m_bucket = 0;   // its last bucket that has a start
    std::uint32_t m_used = 0;     // record bytes gathered
    std::uint32_t m_pending = 0;  // keys gathered
    bool m_open = false;
  };

  // Calls visit(const char* key, std::size_t length) for every key in ascending order of
  // its hash (equal hashes in a fixed order of their records), the order Appender takes.
  // The same set always gives the same sequence. begin() runs once, after the sort buffer
  // (256 KB) is ready and before the first visit. 0, or -2 when that buffer cannot be
  // allocated: then neither begin nor visit runs.
  template <class Begin, class Visitor>
  std::int32_t ForEachInHashOrder(Begin&& begin, Visitor&& visit) const {
    const Refs refs{as_alloc_array_nt<std::uint64_t>(kMaxPartitionRecords)};
    if (refs.p == nullptr) return -2;
    begin();
    char buffer[kMaxUnpacked];
    for (std::uint32_t p = 0; p < PartitionCount(); ++p) {
      const std::uint32_t n = HashOrderedRefs(m_parts[p], refs.p);
      for (std::uint32_t i = 0; i < n; ++i) {
        const char* pKey = nullptr;
        std::size_t length = 0;
        Unpack(Records(m_parts[p]) + (refs.p[i] & 0xFFFF), buffer, pKey, length);
        visit(pKey, length);
      }
    }
    return 0;
  }

  // Removes the key; false when it was absent.
  bool Remove(const char* pKey, std::size_t length) noexcept;
  // Sorts the keys inserted since into their buckets and closes the room a plan left
  // unused (a lookup then reads one bucket only). A load calls it at its end. O(size).
  void Compact() noexcept;
  // Empties the set and releases all memory.
  void Clear() noexcept;

  std::uint32_t GetCount() const noexcept { return m_count; }

  // Calls visit(const char* key, std::size_t length) for every key, in storage order.
  template <class Visitor>
  void ForEach(Visitor&& visit) const {
    char buffer[kMaxUnpacked];
    for (std::uint32_t p = 0; p < PartitionCount(); ++p) {
      const Partition& part = m_parts[p];
      for (std::uint32_t at = 0; at < part.used;) {
        if (Records(part)[at] == kGapByte) {
          ++at;
          continue;
        }
        const char* pKey = nullptr;
        std::size_t length = 0;
        at += Unpack(Records(part) + at, buffer, pKey, length);
        visit(pKey, length);
      }
    }
  }

  // Calls visit(const char* key, std::size_t length) for every key in ascending unsigned byte
  // order (a proper prefix first). begin() runs once, after the sort buffer (8 bytes per
  // key) is ready and before the first visit. Returns 0, or -2 when that buffer cannot be
  // allocated: then neither begin nor visit runs. O(n log n) comparisons.
  template <class Begin, class Visitor>
  std::int32_t ForEachSorted(Begin&& begin, Visitor&& visit) const {
    Refs refs;
    const std::int32_t status = SortedRefs(refs.p);
    if (status != 0) return status;
    begin();
    char buffer[kMaxUnpacked];
    for (std::uint32_t i = 0; i < m_count; ++i) {
      const char* pKey = nullptr;
      std::size_t length = 0;
      Unpack(RecordAt(refs.p[i]), buffer, pKey, length);
      visit(pKey, length);
    }
    return 0;
  }
  template <class Visitor>
  std::int32_t ForEachSorted(Visitor&& visit) const {
    return ForEachSorted([] {}, static_cast<Visitor&&>(visit));
  }

  // Longest key text a packed record unpacks to (128 symbols of ".com").
  static constexpr std::size_t kMaxUnpacked = 512;

 private:
  // A byte between records that belongs to no record: the room a plan leaves at the end of
  // a bucket until its keys arrive.
  static constexpr unsigned char kGapByte = 254;
  static constexpr std::uint32_t kBuckets = 1u << kBucketBits;
  static constexpr unsigned kMaxPartitionBits = 20;
  static constexpr std::uint32_t kKeysPerPartition = 768;  // split at this average

  // One block: kBuckets + 1 directory entries, then capacity bytes for records. Entry b
  // holds the offset of bucket b's records in its low 16 bits and the bucket's filter in
  // its high 16 bits (the FilterBits of its keys, so most absent keys are told from the
  // filter alone); a lookup finds filter and range in one cache line. The last entry is
  // where the bucketed records end and the tail of recent, unsorted ones begins. A
  // planned partition holds gap bytes at the end of its buckets (gaps counts them; they
  // are part of used) and no tail. Records are at most 87 bytes (longer keys are kept out
  // of line), so a partition of a few hundred keys stays far below kMaxPartitionBytes;
  // one that reaches it makes the set split.
  struct Partition {
    std::uint32_t* block = nullptr;  // Owned; null while the partition is empty.
    std::uint32_t used = 0;          // bytes of records (and gaps)
    std::uint32_t capacity = 0;      // bytes available for records
    std::uint32_t gaps = 0;          // gap bytes among the records
  };

  std::uint32_t PartitionCount() const noexcept { return m_parts == nullptr ? 0 : 1u << m_bits; }
  static constexpr std::uint32_t kOffsetMask = 0xFFFF;
  static constexpr std::uint32_t kMaxPartitionBytes = kOffsetMask;
  static const unsigned char* Records(const Partition& part) noexcept {
    return reinterpret_cast<const unsigned char*>(part.block + kBuckets + 1);
  }
  static unsigned char* MutableRecords(Partition& part) noexcept {
    return reinterpret_cast<unsigned char*>(part.block + kBuckets + 1);
  }
  // The bits a key sets in its bucket's filter: two of the sixteen, from hash bits that
  // do not choose the bucket (for sets of up to a few million keys). A bucket holds about
  // four keys, so an absent key passes the filter about one time in seven (one in five
  // with a single bit); each pass costs a read of the bucket's records from memory.
  static std::uint16_t FilterBits(std::uint32_t hash) noexcept {
    return static_cast<std::uint16_t>(1u << (hash & 15) | 1u << (hash >> 4 & 15));
  }
  static bool FilterHolds(std::uint32_t entry, std::uint32_t hash) noexcept {
    const std::uint32_t bits = std::uint32_t{FilterBits(hash)} << 16;
    return (entry & bits) == bits;
  }
  std::uint32_t PartitionOf(std::uint32_t hash) const noexcept {
    return m_bits == 0 ? 0 : hash >> (32 - m_bits);
  }
  static std::uint32_t BucketOf(std::uint32_t hash, unsigned bits) noexcept {
    return static_cast<std::uint32_t>((std::uint64_t{hash} << bits) >> (32 - kBucketBits)) &
           (kBuckets - 1);
  }
  static constexpr std::uint32_t kMaxTailBytes = 512;
  // Sorts the partition's tail into its buckets (bits: the set's partition bits).
  static void MergeTail(Partition& part, unsigned bits) noexcept;
  // Moves a planned partition's records over its gaps, leaving it unplanned.
  static void CloseGaps(Partition& part) noexcept;
  // A partition block of bytes: carved from the arena while its newest chunk has room,
  // else from the host's allocator. FreeBlock releases either (null is allowed).
  std::uint32_t* NewBlock(std::size_t bytes) noexcept;
  void FreeBlock(std::uint32_t* block) noexcept;
  // Offset of the probe's record within its partition's records (its bucket, then the
  // tail), or UINT32_MAX.
  std::uint32_t Find(const Partition& part, const Probe& probe) const noexcept;
  // Writes the key of the record at pRecord (unpacking into buffer, kMaxUnpacked bytes,
  // when packed); returns the record's size.
  static std::uint32_t Unpack(const unsigned char* pRecord, char* buffer, const char*& pKey,
                              std::size_t& length) noexcept;
  static std::uint32_t RecordSize(const unsigned char* pRecord) noexcept;
  // The key bytes a raw record holds (in place, or out of line for a long key).
  static const unsigned char* Payload(const unsigned char* pRecord,
                                      std::uint32_t& length) noexcept;
  // Frees the out-of-line keys of a partition's records.
  static void ReleaseLongKeys(const Partition& part) noexcept;
  // Writes the probe's record (size bytes; pLong: the out-of-line copy of a long key)
  // into its partition, splitting the set when that partition is full. 0 or -2.
  std::int32_t Place(const Probe& probe, std::uint32_t size,
                     const unsigned char* pLong) noexcept;
  // The hash of a record's key (its text unpacked).
  static std::uint32_t RecordHash(const unsigned char* pRecord) noexcept;
  // Makes the header and payload of a probe's key.
  static void Pack(Probe& probe) noexcept;
  // A sorted reference: the key's first 28 bits, its partition (20 bits), its offset (16).
  static constexpr unsigned kRefPrefixShift = 36;
  const unsigned char* RecordAt(std::uint64_t ref) const noexcept {
    return Records(m_parts[(ref >> 16) & ((1u << kMaxPartitionBits) - 1)]) + (ref & 0xFFFF);
  }
  // Moves the partition into a new block of exactly kDirectoryBytes + capacity bytes
  // (at least its used bytes), from the host's allocator. 0 or -2 (the partition unchanged).
  std::int32_t Reallocate(Partition& part, std::uint64_t capacity) noexcept;
  // Gives the partition room for extra more record bytes. 0 or -2.
  std::int32_t Grow(Partition& part, std::uint64_t extra) noexcept;
  // Doubles the partition count (each partition split by its next hash bit). 0 or -2.
  std::int32_t Split() noexcept;
  // A sort buffer of record references, freed when it goes out of scope.
  struct Refs {
    std::uint64_t* p = nullptr;  // Owned (host allocator).
    ~Refs() { as_free(p); }
  };
  // Most records a partition can hold (the smallest record is one byte, the empty key,
  // and the set holds it once; every other record has at least two).
  static constexpr std::uint32_t kMaxPartitionRecords = kMaxPartitionBytes / 2 + 1;
  // The partition's records as (hash << 32 | offset), sorted by hash and then by record
  // (header, payload length, payload bytes); refs holds kMaxPartitionRecords. Returns the
  // count.
  static std::uint32_t HashOrderedRefs(const Partition& part, std::uint64_t* refs) noexcept;
  // Offset of the probe's record in bucket `bucket` of the partition (whose directory entry
  // is entry) or in its tail, or UINT32_MAX.
  static std::uint32_t FindInBucket(const Partition& part, std::uint32_t bucket,
                                    std::uint32_t entry, const Probe& probe) noexcept;
  // Offset of the probe's record among records[at, end) (stopping at a gap byte), or
  // UINT32_MAX.
  static std::uint32_t FindIn(const unsigned char* records, std::uint32_t at, std::uint32_t end,
                              const Probe& probe) noexcept;
  // An allocated array of every record reference (see RecordAt), sorted by key.
  std::int32_t SortedRefs(std::uint64_t*& refs) const noexcept;

  Partition* m_parts = nullptr;  // Owned; 2^m_bits entries, or null while empty.
  CBlockArena m_arena;           // the blocks of partitions a bulk load laid out
  unsigned m_bits = 0;
  std::uint32_t m_count = 0;
  std::uint32_t m_longKeys = 0;  // records whose key is kept out of line
};

// The hash of a byte range as CKeySet uses it on packed records (64-bit multiply-fold over
// 8-byte words, folded to 32 bits). Exposed for tests.
std::uint32_t HashKeyBytes(const char* pKey, std::size_t length) noexcept;

}  // namespace ascommon
