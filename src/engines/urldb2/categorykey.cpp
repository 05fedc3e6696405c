// Category keys. CategoryKeyOf runs CMD5 and keeps digest bytes 0-7. CategoryKeysOf runs
// the MD5 compression of up to three messages in lock-step: each 64-step round is unrolled
// and every step is applied to all lanes, so the three serial dependency chains proceed in
// parallel (about the time of one digest for three short pieces). Messages of different
// lengths are padded per lane; a lane whose blocks are done drops out of the lock-step.
// O(total length), no allocation. Tested by tests/engines/urldb2/categorykey_test.cpp
// (against CMD5 for every length from 0 to 200 and mixed lane lengths).
#include "engines/urldb2/categorykey.h"

#include <bit>
#include <cstring>

#include "common/md5.h"

namespace ascommon {

static_assert(std::endian::native == std::endian::little,
              "keys and message words are read as little-endian");

namespace {

constexpr int kMaxLanes = 3;

// One message being digested: its whole 64-byte blocks are read in place, the rest (the
// final bytes, the 0x80 marker, zeros and the bit length) from a padded tail of one or two
// blocks.
struct Lane {
  const std::uint8_t* text;
  std::size_t wholeBlocks;
  std::size_t blocks;  // wholeBlocks + 1 or 2 tail blocks
  std::uint32_t state[4];
  alignas(8) std::uint8_t tail[128];

  void Start(const char* message, std::size_t length) noexcept {
    text = reinterpret_cast<const std::uint8_t*>(message);
    wholeBlocks = length / 64;
    const std::size_t rest = length % 64;
    const std::size_t tailBlocks = rest < 56 ? 1 : 2;
    blocks = wholeBlocks + tailBlocks;
    std::memset(tail, 0, tailBlocks * 64);
    if (rest != 0) std::memcpy(tail, text + wholeBlocks * 64, rest);
    tail[rest] = 0x80;
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    std::memcpy(tail + tailBlocks * 64 - 8, &bits, 8);
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
  }
  const std::uint8_t* Block(std::size_t j) const noexcept {
    return j < wholeBlocks ? text + j * 64 : tail + (j - wholeBlocks) * 64;
  }
  std::uint64_t Key() const noexcept {
    return static_cast<std::uint64_t>(state[0]) | static_cast<std::uint64_t>(state[1]) << 32;
  }
};

inline std::uint32_t RotateLeft(std::uint32_t x, int n) noexcept {
  return (x << n) | (x >> (32 - n));
}

// The MD5 compression of block j of N lanes, step by step across the lanes.
template <int N>
void CompressLanes(Lane* const lanes[N], std::size_t j) noexcept {
  std::uint32_t w[N][16];
  std::uint32_t a[N], b[N], c[N], d[N];
  for (int l = 0; l < N; ++l) {
    std::memcpy(w[l], lanes[l]->Block(j), 64);
    a[l] = lanes[l]->state[0];
    b[l] = lanes[l]->state[1];
    c[l] = lanes[l]->state[2];
    d[l] = lanes[l]->state[3];
  }
#pragma GCC unroll 64
  for (int i = 0; i < 64; ++i) {
#pragma GCC unroll 3
    for (int l = 0; l < N; ++l) {
      std::uint32_t f;
      int g;
      if (i < 16) {
        f = d[l] ^ (b[l] & (c[l] ^ d[l]));
        g = i;
      } else if (i < 32) {
        f = c[l] ^ (d[l] & (b[l] ^ c[l]));
        g = (5 * i + 1) & 15;
      } else if (i < 48) {
        f = b[l] ^ c[l] ^ d[l];
        g = (3 * i + 5) & 15;
      } else {
        f = c[l] ^ (b[l] | ~d[l]);
        g = (7 * i) & 15;
      }
      const std::uint32_t sum = a[l] + f + kMD5Sines[i] + w[l][g];
      a[l] = d[l];
      d[l] = c[l];
      c[l] = b[l];
      b[l] = b[l] + RotateLeft(sum, kMD5Shifts[i]);
    }
  }
  for (int l = 0; l < N; ++l) {
    lanes[l]->state[0] += a[l];
    lanes[l]->state[1] += b[l];
    lanes[l]->state[2] += c[l];
    lanes[l]->state[3] += d[l];
  }
}

// Digests up to kMaxLanes texts together.
void DigestLanes(const CategoryText* texts, std::size_t count, std::uint64_t* keys) noexcept {
  Lane lanes[kMaxLanes];
  std::size_t mostBlocks = 0;
  for (std::size_t l = 0; l < count; ++l) {
    lanes[l].Start(texts[l].text, texts[l].length);
    if (lanes[l].blocks > mostBlocks) mostBlocks = lanes[l].blocks;
  }
  for (std::size_t j = 0; j < mostBlocks; ++j) {
    Lane* active[kMaxLanes];
    int n = 0;
    for (std::size_t l = 0; l < count; ++l) {
      if (j < lanes[l].blocks) active[n++] = &lanes[l];
    }
    switch (n) {
      case 3:
        CompressLanes<3>(active, j);
        break;
      case 2:
        CompressLanes<2>(active, j);
        break;
      default:
        CompressLanes<1>(active, j);
        break;
    }
  }
  for (std::size_t l = 0; l < count; ++l) keys[l] = lanes[l].Key();
}

}  // namespace

std::uint64_t CategoryKeyOf(const char* text, std::size_t length) noexcept {
  std::uint8_t digest[CMD5::kDigestSize];
  CMD5::Digest(text, length, digest);
  std::uint64_t key;
  std::memcpy(&key, digest, sizeof key);
  return key;
}

void CategoryKeysOf(const CategoryText* texts, std::size_t count, std::uint64_t* keys) noexcept {
  for (std::size_t done = 0; done < count; done += kMaxLanes) {
    const std::size_t n = count - done < kMaxLanes ? count - done : kMaxLanes;
    DigestLanes(texts + done, n, keys + done);
  }
}

void CCategoryProbe::Set(const char* const texts[kCategoryPieceCount],
                         const std::size_t lengths[kCategoryPieceCount]) noexcept {
  // Distinct texts to digest, and which of them each piece takes.
  CategoryText distinct[kCategoryPieceCount];
  std::size_t which[kCategoryPieceCount] = {};
  std::size_t n = 0;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    present[p] = texts[p] != nullptr;
    keys[p] = 0;
    if (!present[p]) continue;
    std::size_t k = 0;
    while (k < n && !(distinct[k].length == lengths[p] &&
                      std::memcmp(distinct[k].text, texts[p], lengths[p]) == 0)) {
      ++k;
    }
    if (k == n) distinct[n++] = CategoryText{texts[p], lengths[p]};
    which[p] = k;
  }
  std::uint64_t digests[kCategoryPieceCount];
  if (n != 0) CategoryKeysOf(distinct, n, digests);
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    if (present[p]) keys[p] = digests[which[p]];
  }
}

}  // namespace ascommon
