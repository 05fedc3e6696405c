// The block arena: blocks carved side by side and aligned, refusal when a chunk is full or
// too small to be worth one, and a chunk handed back when its last block goes.
#include "engines/urldb/blockarena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "asfn/asfn.h"

namespace {

using ascommon::CBlockArena;

TEST(BlockArenaTest, CarvesAndHandsChunksBack) {
  const std::int64_t blocks = asfn_live_blocks();
  {
    CBlockArena arena;
    EXPECT_EQ(arena.Carve(16), nullptr);  // no chunk yet
    EXPECT_FALSE(arena.StartChunk(CBlockArena::kMinChunkBytes - 1));
    ASSERT_TRUE(arena.StartChunk(CBlockArena::kMinChunkBytes));
    EXPECT_EQ(asfn_live_blocks(), blocks + 1);

    // Side by side, 16-byte aligned, until the chunk is full.
    std::vector<unsigned char*> carved;
    for (std::size_t size = 1;; size = size * 3 % 5000 + 1) {
      auto* block = static_cast<unsigned char*>(arena.Carve(size));
      if (block == nullptr) break;
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
      if (!carved.empty()) {
        ASSERT_GT(block, carved.back());
      }
      block[0] = block[size - 1] = 0xAB;
      carved.push_back(block);
    }
    ASSERT_GT(carved.size(), 1000u);
    EXPECT_EQ(asfn_live_blocks(), blocks + 1);  // all of it from the one chunk

    // A second chunk: the first stays until its last block is released.
    ASSERT_TRUE(arena.StartChunk(CBlockArena::kMinChunkBytes));
    void* newer = arena.Carve(100);
    ASSERT_NE(newer, nullptr);
    EXPECT_EQ(arena.ChunkCount(), 2u);
    int foreign = 0;
    EXPECT_FALSE(arena.Release(&foreign));
    for (std::size_t i = 0; i + 1 < carved.size(); ++i) ASSERT_TRUE(arena.Release(carved[i]));
    EXPECT_EQ(arena.ChunkCount(), 2u);
    ASSERT_TRUE(arena.Release(carved.back()));
    EXPECT_EQ(arena.ChunkCount(), 1u);
    EXPECT_EQ(asfn_live_blocks(), blocks + 1);
    EXPECT_FALSE(arena.Release(carved.back()));  // its chunk is gone
    EXPECT_NE(arena.Carve(100), nullptr);        // the newer chunk still carves
  }
  EXPECT_EQ(asfn_live_blocks(), blocks);  // the destructor returns what is left
}

}  // namespace
