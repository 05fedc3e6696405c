// MD5 message digest (RFC 1321), for file integrity digests and digest-keyed lists.
//
// CMD5 is a small value type: Init, any number of Update calls, Final. Not thread-safe per
// object; separate objects are independent. Cost: one pass, 64-byte blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

class CMD5 {
 public:
  static constexpr std::size_t kDigestSize = 16;

  CMD5() { Init(); }
  void Init();
  void Update(const void* data, std::size_t length);
  // Writes the 16-byte digest; the object must be re-initialised before reuse.
  void Final(std::uint8_t digest[kDigestSize]);

  // The digest of one buffer.
  static void Digest(const void* data, std::size_t length, std::uint8_t digest[kDigestSize]);

 private:
  void Transform(const std::uint8_t block[64]);

  std::uint32_t m_state[4];
  std::uint64_t m_bytes;  // total input length
  std::uint8_t m_buffer[64];
};

}  // namespace ascommon
