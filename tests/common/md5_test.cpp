// CMD5 fed in pieces of every size against a digest from RFC 1321, appendix A.5 (one-shot
// digests of other lengths: the category key test, against its lock-step implementation).
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

TEST(MD5, PiecewiseUpdatesMatchTheReferenceDigest) {
  std::string input;
  for (int i = 0; i < 8; ++i) input += "1234567890";
  std::uint8_t digest[16];
  ascommon::CMD5::Digest(input.data(), input.size(), digest);
  EXPECT_EQ(Hex(digest), "57edf4a22be3c955ac49da2e2107b67a");
  for (std::size_t piece = 1; piece <= input.size(); ++piece) {
    ascommon::CMD5 md5;
    for (std::size_t at = 0; at < input.size(); at += piece) {
      md5.Update(input.data() + at, std::min(piece, input.size() - at));
    }
    md5.Final(digest);
    ASSERT_EQ(Hex(digest), "57edf4a22be3c955ac49da2e2107b67a") << "piece " << piece;
  }
}

}  // namespace
