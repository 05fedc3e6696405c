// MD5 after RFC 1321: 64-byte blocks, four rounds of sixteen steps (written out), little-endian
// words.
// O(n) time, constant memory. Tested by tests/common/md5_test.cpp (the RFC's test suite).
#include "common/md5.h"

#include <cstring>

namespace ascommon {

namespace {

inline std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void CMD5::Init() {
  for (int k = 0; k < 4; ++k) m_state[k] = kMD5Initial[k];
  m_bytes = 0;
}

// One step of round r: a = b + ((a + F(b, c, d) + word + sine) <<< shift). The 64 steps are
// written out (the round functions and word orders as RFC 1321 gives them), so each uses
// its constants directly: about twice as fast as a loop that picks them per step. Each
// step waits for b from the step before, so what does not need b is added first: the word
// and the sine, and in the second round the half of G without b ((b & d) | (c & ~d): the
// halves share no bit, so they can be added apart).
#define ZZ_MD5_STEP(f, a, b, c, d, word, sine, shift) \
  a += (word) + (sine);                                \
  a += f(b, c, d);                                     \
  a = RotateLeft(a, shift) + b
#define ZZ_MD5_STEP_G(a, b, c, d, word, sine, shift) \
  a += (word) + (sine) + (c & ~d);                    \
  a += b & d;                                         \
  a = RotateLeft(a, shift) + b

inline std::uint32_t RoundF(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return d ^ (b & (c ^ d));
}
inline std::uint32_t RoundH(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return b ^ (c ^ d);
}
inline std::uint32_t RoundI(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return c ^ (b | ~d);
}

void CMD5::Transform(const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<std::uint32_t>(block[i * 4]) |
           static_cast<std::uint32_t>(block[i * 4 + 1]) << 8 |
           static_cast<std::uint32_t>(block[i * 4 + 2]) << 16 |
           static_cast<std::uint32_t>(block[i * 4 + 3]) << 24;
  }
  std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
  const std::uint32_t* t = kMD5Sines;
  ZZ_MD5_STEP(RoundF, a, b, c, d, x[0], t[0], 7);
  ZZ_MD5_STEP(RoundF, d, a, b, c, x[1], t[1], 12);
  ZZ_MD5_STEP(RoundF, c, d, a, b, x[2], t[2], 17);
  ZZ_MD5_STEP(RoundF, b, c, d, a, x[3], t[3], 22);
  ZZ_MD5_STEP(RoundF, a, b, c, d, x[4], t[4], 7);
  ZZ_MD5_STEP(RoundF, d, a, b, c, x[5], t[5], 12);
  ZZ_MD5_STEP(RoundF, c, d, a, b, x[6], t[6], 17);
  ZZ_MD5_STEP(RoundF, b, c, d, a, x[7], t[7], 22);
  ZZ_MD5_STEP(RoundF, a, b, c, d, x[8], t[8], 7);
  ZZ_MD5_STEP(RoundF, d, a, b, c, x[9], t[9], 12);
  ZZ_MD5_STEP(RoundF, c, d, a, b, x[10], t[10], 17);
  ZZ_MD5_STEP(RoundF, b, c, d, a, x[11], t[11], 22);
  ZZ_MD5_STEP(RoundF, a, b, c, d, x[12], t[12], 7);
  ZZ_MD5_STEP(RoundF, d, a, b, c, x[13], t[13], 12);
  ZZ_MD5_STEP(RoundF, c, d, a, b, x[14], t[14], 17);
  ZZ_MD5_STEP(RoundF, b, c, d, a, x[15], t[15], 22);

  ZZ_MD5_STEP_G(a, b, c, d, x[1], t[16], 5);
  ZZ_MD5_STEP_G(d, a, b, c, x[6], t[17], 9);
  ZZ_MD5_STEP_G(c, d, a, b, x[11], t[18], 14);
  ZZ_MD5_STEP_G(b, c, d, a, x[0], t[19], 20);
  ZZ_MD5_STEP_G(a, b, c, d, x[5], t[20], 5);
  ZZ_MD5_STEP_G(d, a, b, c, x[10], t[21], 9);
  ZZ_MD5_STEP_G(c, d, a, b, x[15], t[22], 14);
  ZZ_MD5_STEP_G(b, c, d, a, x[4], t[23], 20);
  ZZ_MD5_STEP_G(a, b, c, d, x[9], t[24], 5);
  ZZ_MD5_STEP_G(d, a, b, c, x[14], t[25], 9);
  ZZ_MD5_STEP_G(c, d, a, b, x[3], t[26], 14);
  ZZ_MD5_STEP_G(b, c, d, a, x[8], t[27], 20);
  ZZ_MD5_STEP_G(a, b, c, d, x[13], t[28], 5);
  ZZ_MD5_STEP_G(d, a, b, c, x[2], t[29], 9);
  ZZ_MD5_STEP_G(c, d, a, b, x[7], t[30], 14);
  ZZ_MD5_STEP_G(b, c, d, a, x[12], t[31], 20);

  ZZ_MD5_STEP(RoundH, a, b, c, d, x[5], t[32], 4);
  ZZ_MD5_STEP(RoundH, d, a, b, c, x[8], t[33], 11);
  ZZ_MD5_STEP(RoundH, c, d, a, b, x[11], t[34], 16);
  ZZ_MD5_STEP(RoundH, b, c, d, a, x[14], t[35], 23);
  ZZ_MD5_STEP(RoundH, a, b, c, d, x[1], t[36], 4);
  ZZ_MD5_STEP(RoundH, d, a, b, c, x[4], t[37], 11);
  ZZ_MD5_STEP(RoundH, c, d, a, b, x[7], t[38], 16);
  ZZ_MD5_STEP(RoundH, b, c, d, a, x[10], t[39], 23);
  ZZ_MD5_STEP(RoundH, a, b, c, d, x[13], t[40], 4);
  ZZ_MD5_STEP(RoundH, d, a, b, c, x[0], t[41], 11);
  ZZ_MD5_STEP(RoundH, c, d, a, b, x[3], t[42], 16);
  ZZ_MD5_STEP(RoundH, b, c, d, a, x[6], t[43], 23);
  ZZ_MD5_STEP(RoundH, a, b, c, d, x[9], t[44], 4);
  ZZ_MD5_STEP(RoundH, d, a, b, c, x[12], t[45], 11);
  ZZ_MD5_STEP(RoundH, c, d, a, b, x[15], t[46], 16);
  ZZ_MD5_STEP(RoundH, b, c, d, a, x[2], t[47], 23);

  ZZ_MD5_STEP(RoundI, a, b, c, d, x[0], t[48], 6);
  ZZ_MD5_STEP(RoundI, d, a, b, c, x[7], t[49], 10);
  ZZ_MD5_STEP(RoundI, c, d, a, b, x[14], t[50], 15);
  ZZ_MD5_STEP(RoundI, b, c, d, a, x[5], t[51], 21);
  ZZ_MD5_STEP(RoundI, a, b, c, d, x[12], t[52], 6);
  ZZ_MD5_STEP(RoundI, d, a, b, c, x[3], t[53], 10);
  ZZ_MD5_STEP(RoundI, c, d, a, b, x[10], t[54], 15);
  ZZ_MD5_STEP(RoundI, b, c, d, a, x[1], t[55], 21);
  ZZ_MD5_STEP(RoundI, a, b, c, d, x[8], t[56], 6);
  ZZ_MD5_STEP(RoundI, d, a, b, c, x[15], t[57], 10);
  ZZ_MD5_STEP(RoundI, c, d, a, b, x[6], t[58], 15);
  ZZ_MD5_STEP(RoundI, b, c, d, a, x[13], t[59], 21);
  ZZ_MD5_STEP(RoundI, a, b, c, d, x[4], t[60], 6);
  ZZ_MD5_STEP(RoundI, d, a, b, c, x[11], t[61], 10);
  ZZ_MD5_STEP(RoundI, c, d, a, b, x[2], t[62], 15);
  ZZ_MD5_STEP(RoundI, b, c, d, a, x[9], t[63], 21);
  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
}

#undef ZZ_MD5_STEP

void CMD5::Update(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t used = static_cast<std::size_t>(m_bytes & 63);
  m_bytes += length;
  if (used != 0) {
    const std::size_t take = length < 64 - used ? length : 64 - used;
    std::memcpy(m_buffer + used, bytes, take);
    bytes += take;
    length -= take;
    if (used + take < 64) return;
    Transform(m_buffer);
  }
  for (; length >= 64; bytes += 64, length -= 64) Transform(bytes);
  if (length != 0) std::memcpy(m_buffer, bytes, length);
}

void CMD5::Final(std::uint8_t digest[kDigestSize]) {
  const std::uint64_t bits = m_bytes * 8;
  static const std::uint8_t kPadding[64] = {0x80};
  const std::size_t used = static_cast<std::size_t>(m_bytes & 63);
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(length, 8);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<std::uint8_t>(m_state[i] >> (8 * j));
  }
}

void CMD5::Digest(const void* data, std::size_t length, std::uint8_t digest[kDigestSize]) {
  CMD5 md5;
  md5.Update(data, length);
  md5.Final(digest);
}

}  // namespace ascommon
