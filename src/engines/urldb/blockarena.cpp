#include "engines/urldb/blockarena.h"

#include <functional>

#include "common/asmemory.h"

namespace ascommon {

namespace {
constexpr std::size_t kAlign = 16;
static_assert(sizeof(void*) * 4 % kAlign == 0, "the chunk header keeps blocks aligned");
}  // namespace

bool CBlockArena::StartChunk(std::uint64_t bytes) noexcept {
  if (bytes < kMinChunkBytes || bytes > (std::uint64_t{1} << 40)) return false;
  const std::size_t size = (static_cast<std::size_t>(bytes) + kAlign - 1) & ~(kAlign - 1);
  auto* chunk = static_cast<Chunk*>(as_alloc_nt(sizeof(Chunk) + size));
  if (chunk == nullptr) return false;
  *chunk = Chunk{m_chunks, size, 0, 0};
  m_chunks = chunk;
  return true;
}

void* CBlockArena::Carve(std::size_t size) noexcept {
  Chunk* chunk = m_chunks;
  if (chunk == nullptr) return nullptr;
  const std::size_t rounded = (size + kAlign - 1) & ~(kAlign - 1);
  if (rounded < size || rounded > chunk->size - chunk->used) return nullptr;
  void* block = Blocks(chunk) + chunk->used;
  chunk->used += rounded;
  ++chunk->live;
  return block;
}

CBlockArena::Chunk* CBlockArena::ChunkOf(const void* block) const noexcept {
  // std::less gives a total order over unrelated pointers.
  const std::less<const void*> before;
  for (Chunk* chunk = m_chunks; chunk != nullptr; chunk = chunk->next) {
    if (!before(block, Blocks(chunk)) && before(block, Blocks(chunk) + chunk->used)) {
      return chunk;
    }
  }
  return nullptr;
}

bool CBlockArena::Release(const void* block) noexcept {
  Chunk* chunk = ChunkOf(block);
  if (chunk == nullptr) return false;
  if (--chunk->live == 0) {
    Chunk** link = &m_chunks;
    while (*link != chunk) link = &(*link)->next;
    *link = chunk->next;
    as_free(chunk);
  }
  return true;
}

void CBlockArena::Clear() noexcept {
  while (m_chunks != nullptr) {
    Chunk* next = m_chunks->next;
    as_free(m_chunks);
    m_chunks = next;
  }
}

std::size_t CBlockArena::ChunkCount() const noexcept {
  std::size_t n = 0;
  for (Chunk* chunk = m_chunks; chunk != nullptr; chunk = chunk->next) ++n;
  return n;
}

}  // namespace ascommon
