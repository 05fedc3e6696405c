// MD5 after RFC 1321: 64-byte blocks, four rounds of sixteen steps, little-endian words.
// O(n) time, constant memory. Tested by tests/common/md5_test.cpp (the RFC's test suite).
#include "common/md5.h"

#include <cstring>

namespace ascommon {

namespace {

inline std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void CMD5::Init() {
  m_state[0] = 0x67452301;
  m_state[1] = 0xefcdab89;
  m_state[2] = 0x98badcfe;
  m_state[3] = 0x10325476;
  m_bytes = 0;
}

void CMD5::Transform(const std::uint8_t block[64]) {
  std::uint32_t words[16];
  for (int i = 0; i < 16; ++i) {
    words[i] = static_cast<std::uint32_t>(block[i * 4]) |
               static_cast<std::uint32_t>(block[i * 4 + 1]) << 8 |
               static_cast<std::uint32_t>(block[i * 4 + 2]) << 16 |
               static_cast<std::uint32_t>(block[i * 4 + 3]) << 24;
  }
  std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) & 15;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) & 15;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) & 15;
    }
    const std::uint32_t next = d;
    d = c;
    c = b;
    b = b + RotateLeft(a + f + kMD5Sines[i] + words[g], kMD5Shifts[i]);
    a = next;
  }
  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
}

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
