#include "common/stringconversion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "common/asexception.h"

using ascommon::CStringConversion;

namespace {

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }
// The test binary sits in bin/ beside the conversion library.
const std::string kBin = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();

int LoadError(const std::string& dir, std::string& message) try {
  CStringConversion converter(Widen(dir).c_str(), false);
  return 0;
} catch (const ASException& e) {
  message = e.what();
  return e.GetCode();
}

TEST(CharsetConverter, LoadFailuresCarryCodeAndPath) {
  const auto dir = std::filesystem::temp_directory_path() / ("zzconv" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string message;
  EXPECT_EQ(LoadError(dir.string(), message), -4);
  EXPECT_NE(message.find(dir.string() + "\\iconv.dll"), std::string::npos) << message;
  std::filesystem::create_symlink(kBin + "/libastracer.so", dir / "libiconv.so");  // no entries
  EXPECT_EQ(LoadError(dir.string(), message), -5);
  std::filesystem::remove_all(dir);
}

TEST(CharsetConverter, RoundTripsThroughTheWideCharset) {
  const CStringConversion converter(Widen(kBin).c_str(), false);
  const struct { const char* charset; std::string bytes; std::u16string wide; } cases[] = {
      {"windows-1252", "\x80 caf\xe9", u"\u20ac caf\u00e9"},
      {"latin1", "\xe6\xf8\xe5", u"\u00e6\u00f8\u00e5"},
      {"koi8-r", "\xf0\xd2\xc9\xd7\xc5\xd4", u"\u041f\u0440\u0438\u0432\u0435\u0442"},
  };
  for (const auto& c : cases) {
    char16_t wide[16];
    std::size_t in = c.bytes.size(), out = 16;
    ASSERT_EQ(converter.ConvertToUCS(c.charset, c.bytes.data(), in, wide, out, false), 0);
    EXPECT_EQ(std::u16string(wide, 16 - out), c.wide) << c.charset;
    char back[16];
    in = c.wide.size() * 2, out = sizeof(back);
    ASSERT_EQ(converter.Convert("UTF-16LE", c.charset, reinterpret_cast<const char*>(wide), in,
                                back, out), 0);
    EXPECT_EQ(std::string(back, sizeof(back) - out), c.bytes) << c.charset;
  }
}

TEST(CharsetConverter, FailuresMapToStatusCodes) {
  const CStringConversion plain(Widen(kBin).c_str(), false), fallback(Widen(kBin).c_str(), true);
  const struct { const CStringConversion* conv; const char* from; std::string in; std::size_t room;
                 std::int32_t code; std::size_t inLeft; } cases[] = {
      {&plain, "UTF-8", "abcdef", 3, -51, 3},          // output full: counters still reduced
      {&plain, "UTF-8", "a\xff", 8, -50, 1},           // invalid byte
      {&plain, "no-such-set", "a", 8, -52, 1},         // unknown pair, no fallback
      {&fallback, "no-such-set", "a\x8a", 8, -53, 0},  // converted as CP1250
  };
  for (const auto& c : cases) {
    char out[8];
    std::size_t in = c.in.size(), room = c.room;
    EXPECT_EQ(c.conv->Convert(c.from, "ISO-8859-2", c.in.data(), in, out, room), c.code) << c.in;
    EXPECT_EQ(in, c.inLeft) << c.in;
  }
  std::size_t in = 1, room = 1;
  EXPECT_EQ(plain.ConvertToUCS("UTF-8", "a", in, nullptr, room, false), -50);
  EXPECT_EQ(CStringConversion().Convert("UTF-8", "UTF-8", "a", in, nullptr, room), -4);
}

TEST(CharsetConverter, CodePageMapThreadFillAndUtf8Output) {
  std::thread other([] { EXPECT_EQ(CStringConversion::CodePageOf("UTF-8"), 65001u); });
  EXPECT_EQ(CStringConversion::CodePageOf("Windows-1258"), 1258u);
  other.join();
  EXPECT_EQ(CStringConversion::CodePageOf("maccyrillic"), 10007u);
  EXPECT_EQ(CStringConversion::CodePageOf("klingon"), 0u);
  char out[4];
  std::size_t room = sizeof(out);
  EXPECT_EQ(CStringConversion().WideToUTF8(u"\u20ac\u20ac", 2, out, room), -51);
}

}  // namespace
