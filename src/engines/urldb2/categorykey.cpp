// Category keys. CategoryKeyOf runs CMD5 and keeps digest bytes 0-7. CategoryKeysOf runs
// the MD5 compression of up to three messages in lock-step: with SSE2 the lanes are the
// 32-bit lanes of one vector register (one instruction per operation for all of them, the
// message words transposed into lanes first); elsewhere, and for a single lane, each step is
// applied to each lane in scalar code, unrolled, so the serial dependency chains still
// proceed in parallel. Messages of different lengths are padded per lane; a lane whose
// blocks are done drops out of the lock-step.
// O(total length), no allocation. Tested by tests/engines/urldb2/categorykey_test.cpp
// (against CMD5 for every length from 0 to 200 and mixed lane lengths).
#include "engines/urldb2/categorykey.h"

#include <bit>
#include <cstring>

#include "common/md5.h"

#if defined(__SSE2__)
#include <immintrin.h>
#include <utility>
#endif

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
    std::memcpy(state, kMD5Initial, sizeof state);
  }
  const std::uint8_t* Block(std::size_t j) const noexcept {
    return j < wholeBlocks ? text + j * 64 : tail + (j - wholeBlocks) * 64;
  }
  std::uint64_t Key() const noexcept {
    return static_cast<std::uint64_t>(state[0]) | static_cast<std::uint64_t>(state[1]) << 32;
  }
};

// The message word that step i of the compression adds.
constexpr int MessageIndex(int i) noexcept {
  return i < 16 ? i : i < 32 ? (5 * i + 1) & 15 : i < 48 ? (3 * i + 5) & 15 : (7 * i) & 15;
}

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
      if (i < 16) {
        f = d[l] ^ (b[l] & (c[l] ^ d[l]));
      } else if (i < 32) {
        f = c[l] ^ (d[l] & (b[l] ^ c[l]));
      } else if (i < 48) {
        f = b[l] ^ c[l] ^ d[l];
      } else {
        f = c[l] ^ (b[l] | ~d[l]);
      }
      const std::uint32_t sum = a[l] + f + kMD5Sines[i] + w[l][MessageIndex(i)];
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

#if defined(__SSE2__)
// Step I of the compression on four lanes at once (a, b, c, d: one lane per 32-bit part).
template <int I>
inline void VectorStep(__m128i& a, __m128i& b, __m128i& c, __m128i& d,
                       const __m128i* w) noexcept {
  constexpr int g = MessageIndex(I);
  constexpr int s = kMD5Shifts[I];
  // What does not wait for b goes first.
  __m128i sum = _mm_add_epi32(_mm_add_epi32(a, w[g]),
                              _mm_set1_epi32(static_cast<int>(kMD5Sines[I])));
  if constexpr (I < 16) {
    sum = _mm_add_epi32(sum, _mm_xor_si128(d, _mm_and_si128(b, _mm_xor_si128(c, d))));
  } else if constexpr (I < 32) {
    // (b & d) | (c & ~d): the two halves share no bit, so they may be added.
    sum = _mm_add_epi32(sum, _mm_andnot_si128(d, c));
    sum = _mm_add_epi32(sum, _mm_and_si128(b, d));
  } else if constexpr (I < 48) {
    sum = _mm_add_epi32(sum, _mm_xor_si128(b, _mm_xor_si128(c, d)));
  } else {
    const __m128i notD = _mm_xor_si128(d, _mm_set1_epi32(-1));
    sum = _mm_add_epi32(sum, _mm_xor_si128(c, _mm_or_si128(b, notD)));
  }
  const __m128i rotated = _mm_or_si128(_mm_slli_epi32(sum, s), _mm_srli_epi32(sum, 32 - s));
  a = d;
  d = c;
  c = b;
  b = _mm_add_epi32(b, rotated);
}

template <int... I>
inline void VectorSteps(std::integer_sequence<int, I...>, __m128i& a, __m128i& b, __m128i& c,
                        __m128i& d, const __m128i* w) noexcept {
  (VectorStep<I>(a, b, c, d, w), ...);
}

// Block j of n lanes (2 to 4) as the compression reads it: w[k] holds word k of every
// lane (lane l in 32-bit part l), state[k] the lanes' state word k. Missing lanes take
// lane 0's block again; their results are dropped.
struct VectorBlock {
  __m128i w[16];
  alignas(16) std::uint32_t state[4][4];  // [word][lane]
};
void LoadLanes(Lane* const lanes[], int n, std::size_t j, VectorBlock& block) noexcept {
  __m128i rows[4][4];  // [lane][quarter of the block]
  for (int l = 0; l < 4; ++l) {
    const Lane& lane = *lanes[l < n ? l : 0];
    const auto* bytes = reinterpret_cast<const __m128i*>(lane.Block(j));
    for (int q = 0; q < 4; ++q) rows[l][q] = _mm_loadu_si128(bytes + q);
    for (int k = 0; k < 4; ++k) block.state[k][l] = lane.state[k];
  }
  for (int q = 0; q < 4; ++q) {  // 4x4 transposes: w[4q + k] holds word 4q + k of each lane
    const __m128i t0 = _mm_unpacklo_epi32(rows[0][q], rows[1][q]);
    const __m128i t1 = _mm_unpacklo_epi32(rows[2][q], rows[3][q]);
    const __m128i t2 = _mm_unpackhi_epi32(rows[0][q], rows[1][q]);
    const __m128i t3 = _mm_unpackhi_epi32(rows[2][q], rows[3][q]);
    block.w[4 * q + 0] = _mm_unpacklo_epi64(t0, t1);
    block.w[4 * q + 1] = _mm_unpackhi_epi64(t0, t1);
    block.w[4 * q + 2] = _mm_unpacklo_epi64(t2, t3);
    block.w[4 * q + 3] = _mm_unpackhi_epi64(t2, t3);
  }
}
// Adds the compression's result (a, b, c, d) to the lanes' states.
void StoreLanes(Lane* const lanes[], int n, VectorBlock& block, __m128i a, __m128i b, __m128i c,
                __m128i d) noexcept {
  const __m128i result[4] = {a, b, c, d};
  for (int k = 0; k < 4; ++k) {
    auto* word = reinterpret_cast<__m128i*>(block.state[k]);
    _mm_store_si128(word, _mm_add_epi32(result[k], _mm_load_si128(word)));
  }
  for (int l = 0; l < n; ++l) {
    for (int k = 0; k < 4; ++k) lanes[l]->state[k] = block.state[k][l];
  }
}
__m128i StateWord(const VectorBlock& block, int k) noexcept {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(block.state[k]));
}

// The MD5 compression of block j of n lanes (2 to 4), each lane a 32-bit part of the
// registers.
void CompressVector(Lane* const lanes[], int n, std::size_t j) noexcept {
  VectorBlock block;
  LoadLanes(lanes, n, j, block);
  __m128i a = StateWord(block, 0), b = StateWord(block, 1), c = StateWord(block, 2),
          d = StateWord(block, 3);
  VectorSteps(std::make_integer_sequence<int, 64>(), a, b, c, d, block.w);
  StoreLanes(lanes, n, block, a, b, c, d);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define ZZ_AVX512_LANES 1
// The same steps with AVX-512 (VL) on the same registers, where the processor has it: each
// round function is one ternary-logic instruction and each rotation one instruction, which
// shortens every step's chain of dependent operations from six to four.
// kSliced: w holds word g of the lanes at w[(g % 4) * 4 + g / 4] (as ShortWide lays them out)
// instead of w[g].
template <int I, bool kSliced>
__attribute__((target("avx512f,avx512vl"))) inline void WideStep(__m128i& a, __m128i& b,
                                                                 __m128i& c, __m128i& d,
                                                                 const __m128i* w) noexcept {
  constexpr int g = kSliced ? MessageIndex(I) % 4 * 4 + MessageIndex(I) / 4 : MessageIndex(I);
  // The round functions as truth tables of (b, c, d): F = b ? c : d, G = d ? b : c,
  // H = b ^ c ^ d, I = c ^ (b | ~d).
  constexpr int kLogic = I < 16 ? 0xCA : I < 32 ? 0xE4 : I < 48 ? 0x96 : 0x39;
  constexpr int kShift = kMD5Shifts[I];
  __m128i sum = _mm_add_epi32(_mm_add_epi32(a, w[g]),
                              _mm_set1_epi32(static_cast<int>(kMD5Sines[I])));
  // Made before b is known, so that after it come only the round function, one addition,
  // the rotation and the addition of b (the compiler would otherwise add the constant
  // behind the round function).
  asm("" : "+x"(sum));
  const __m128i f = _mm_ternarylogic_epi32(b, c, d, kLogic);
  a = d;
  d = c;
  c = b;
  b = _mm_add_epi32(b, _mm_rol_epi32(_mm_add_epi32(sum, f), kShift));
}

template <bool kSliced, int... I>
__attribute__((target("avx512f,avx512vl"))) inline void WideSteps(
    std::integer_sequence<int, I...>, __m128i& a, __m128i& b, __m128i& c, __m128i& d,
    const __m128i* w) noexcept {
  (WideStep<I, kSliced>(a, b, c, d, w), ...);
}

__attribute__((target("avx512f,avx512vl"))) void CompressWide(Lane* const lanes[], int n,
                                                               std::size_t j) noexcept {
  VectorBlock block;
  LoadLanes(lanes, n, j, block);
  __m128i a = StateWord(block, 0), b = StateWord(block, 1), c = StateWord(block, 2),
          d = StateWord(block, 3);
  WideSteps<false>(std::make_integer_sequence<int, 64>(), a, b, c, d, block.w);
  StoreLanes(lanes, n, block, a, b, c, d);
}

// GCC 12's 512-bit unpack intrinsics start from an "undefined" register it then warns about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
// The keys of up to four texts of at most 55 bytes each (one padded block apiece, nearly
// every URL piece) without staging them in memory: each block is made in a 64-byte
// register (a masked load of the text, which reads nothing past its end, the 0x80 marker
// and the bit length merged in), four blocks are transposed into the lanes' message words,
// and the keys come straight out of the final a and b.
__attribute__((target("avx512f,avx512vl,avx512bw"))) void ShortWide(const CategoryText* texts,
                                                                     std::size_t count,
                                                                     std::uint64_t* keys) noexcept {
  __m512i rows[4];
  for (std::size_t l = 0; l < 4; ++l) {
    const CategoryText& text = texts[l < count ? l : 0];
    const __mmask64 bytes = (std::uint64_t{1} << text.length) - 1;
    __m512i block = _mm512_maskz_loadu_epi8(bytes, text.text);
    block = _mm512_mask_set1_epi8(block, std::uint64_t{1} << text.length,
                                  static_cast<char>(0x80));
    rows[l] = _mm512_mask_set1_epi64(block, 0x80, static_cast<long long>(text.length * 8));
  }
  // Within each 16-byte quarter q, the 4x4 transposes of the SSE2 path: w[k] quarter q holds
  // word 4q + k of every lane.
  const __m512i t0 = _mm512_unpacklo_epi32(rows[0], rows[1]);
  const __m512i t1 = _mm512_unpacklo_epi32(rows[2], rows[3]);
  const __m512i t2 = _mm512_unpackhi_epi32(rows[0], rows[1]);
  const __m512i t3 = _mm512_unpackhi_epi32(rows[2], rows[3]);
  __m512i w[4];
  w[0] = _mm512_unpacklo_epi64(t0, t1);
  w[1] = _mm512_unpackhi_epi64(t0, t1);
  w[2] = _mm512_unpacklo_epi64(t2, t3);
  w[3] = _mm512_unpackhi_epi64(t2, t3);
  const __m128i a0 = _mm_set1_epi32(static_cast<int>(kMD5Initial[0]));
  const __m128i b0 = _mm_set1_epi32(static_cast<int>(kMD5Initial[1]));
  __m128i a = a0, b = b0, c = _mm_set1_epi32(static_cast<int>(kMD5Initial[2])),
          d = _mm_set1_epi32(static_cast<int>(kMD5Initial[3]));
  WideSteps<true>(std::make_integer_sequence<int, 64>(), a, b, c, d,
                  reinterpret_cast<const __m128i*>(w));
  a = _mm_add_epi32(a, a0);
  b = _mm_add_epi32(b, b0);
  alignas(16) std::uint64_t out[4];  // a key is state words 0 and 1 of its lane
  _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(a, b));
  _mm_store_si128(reinterpret_cast<__m128i*>(out + 2), _mm_unpackhi_epi32(a, b));
  std::memcpy(keys, out, count * sizeof *keys);
}
#pragma GCC diagnostic pop
#endif

#endif

// Digests up to kMaxLanes texts together.
void DigestLanes(const CategoryText* texts, std::size_t count, std::uint64_t* keys) noexcept {
#if defined(ZZ_AVX512_LANES)
  if (g_categoryKeysWide) {
    bool short_ = true;
    for (std::size_t l = 0; l < count; ++l) short_ = short_ && texts[l].length < 56;
    if (short_) return ShortWide(texts, count, keys);
  }
#endif
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
#if defined(__SSE2__)
    if (n > 1) {
#if defined(ZZ_AVX512_LANES)
      if (g_categoryKeysWide) {
        CompressWide(active, n, j);
        continue;
      }
#endif
      CompressVector(active, n, j);
    } else {
      CompressLanes<1>(active, j);
    }
#else
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
#endif
  }
  for (std::size_t l = 0; l < count; ++l) keys[l] = lanes[l].Key();
}

}  // namespace

#if defined(ZZ_AVX512_LANES)
bool g_categoryKeysWide = [] {
  __builtin_cpu_init();  // static initialisers may run before the runtime's own
  return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512vl") != 0 &&
         __builtin_cpu_supports("avx512bw") != 0;
}();
#else
bool g_categoryKeysWide = false;
#endif

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
