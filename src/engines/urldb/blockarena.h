// CBlockArena: many blocks carved one after another out of a few large chunks, for a table
// whose blocks are laid out once by a bulk load and then read at random addresses on every
// lookup. The host's allocator gives blocks of kMinChunkBytes and more whole huge pages,
// so carving a large list's partitions from one chunk lets a lookup that misses the cache
// skip the page-table walk it would make on a page of its own.
//
// A carved block is released with Release; a chunk is returned to the host's allocator
// when its last block is released (or on Clear), so tables that are reloaded or grow
// block by block do not keep dead chunks. Blocks are 16-byte aligned, like malloc's.
//
// Ownership: the arena owns its chunks; blocks stay valid until released or cleared.
// Threads: none of it is safe for concurrent use (the owning set serialises its writers).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

class CBlockArena {
 public:
  // The smallest chunk worth its bookkeeping: the host's allocator gives huge pages from
  // this size up.
  static constexpr std::size_t kMinChunkBytes = std::size_t{4} << 20;

  CBlockArena() noexcept = default;
  ~CBlockArena() { Clear(); }
  CBlockArena(const CBlockArena&) = delete;
  CBlockArena& operator=(const CBlockArena&) = delete;

  // Starts a new chunk with room for bytes of blocks, when bytes is at least
  // kMinChunkBytes; the blocks carved after it come from it. False when the size is too
  // small or memory runs out (Carve then keeps using the chunk before, if any).
  bool StartChunk(std::uint64_t bytes) noexcept;
  // A block of size bytes from the newest chunk, or null when it has no room left.
  void* Carve(std::size_t size) noexcept;
  // Releases a carved block: false (and nothing done) when it was not carved here.
  bool Release(const void* block) noexcept;
  // Returns every chunk; every carved block becomes invalid.
  void Clear() noexcept;

  // Chunks held (for tests).
  std::size_t ChunkCount() const noexcept;

 private:
  struct Chunk {
    Chunk* next;
    std::size_t size;   // bytes of blocks after the header
    std::size_t used;   // bytes carved
    std::size_t live;   // blocks carved and not released
  };
  static unsigned char* Blocks(Chunk* chunk) noexcept {
    return reinterpret_cast<unsigned char*>(chunk) + sizeof(Chunk);
  }
  Chunk* ChunkOf(const void* block) const noexcept;

  Chunk* m_chunks = nullptr;  // Owned; the newest first (the one Carve uses).
};

}  // namespace ascommon
