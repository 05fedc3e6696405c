#include "common/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Hex(const std::uint8_t* digest) {
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

// The test suite of RFC 1321, appendix A.5.
TEST(MD5, ReferenceSuite) {
  const struct {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    std::uint8_t digest[16];
    ascommon::CMD5::Digest(c.input, std::char_traits<char>::length(c.input), digest);
    EXPECT_EQ(Hex(digest), c.digest) << '"' << c.input << '"';
  }
}

// Feeding the input in pieces of every size gives the same digest as one call.
TEST(MD5, PiecewiseUpdatesMatchOneShot) {
  std::string input;
  for (int i = 0; i < 300; ++i) input += static_cast<char>(i * 7 + 3);
  std::uint8_t whole[16], digest[16];
  ascommon::CMD5::Digest(input.data(), input.size(), whole);
  for (std::size_t piece = 1; piece <= 130; ++piece) {
    ascommon::CMD5 md5;
    for (std::size_t at = 0; at < input.size(); at += piece) {
      md5.Update(input.data() + at, std::min(piece, input.size() - at));
    }
    md5.Final(digest);
    ASSERT_EQ(Hex(digest), Hex(whole)) << "piece " << piece;
  }
}

}  // namespace
