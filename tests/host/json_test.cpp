// JSON strings in the host's output: escapes, valid UTF-8 kept, anything else U+FFFD, so a
// hostile URL or page can never make an output line invalid JSON.
#include "json.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonTest, StringsAreAlwaysValidJson) {
  const struct {
    std::string_view text;
    const char* json;
  } cases[] = {
      {"plain/path?q=1", "\"plain/path?q=1\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {std::string_view("\n\t\x01\x7f\0", 5), "\"\\n\\t\\u0001\\u007f\\u0000\""},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
      {"\xC0\xAE\xED\xA0\x80x\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                                        "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) {
    std::string out;
    zzhost::AppendJsonString(out, c.text);
    EXPECT_EQ(out, c.json);
  }
  std::string out;
  zzhost::AppendJsonStringOrNull(out, nullptr, 0);
  EXPECT_EQ(out, "null");
  // Every byte value at every place of a 40-byte text is escaped as it is alone.
  const auto json = [](std::string_view text) {
    std::string quoted;
    zzhost::AppendJsonString(quoted, text);
    return quoted.substr(1, quoted.size() - 2);
  };
  for (int c = 0; c < 256; ++c) {
    const std::string alone = json(std::string(1, static_cast<char>(c)));
    for (std::size_t at = 0; at < 40; ++at) {
      const std::string text =
          std::string(at, 'a') + static_cast<char>(c) + std::string(39 - at, 'b');
      ASSERT_EQ(json(text), std::string(at, 'a') + alone + std::string(39 - at, 'b'))
          << c << " " << at;
    }
  }
}

}  // namespace
