// Inputs the fuzz targets (fuzz/) found, replayed through the same calls.
#include <gtest/gtest.h>

#include <string>

#include "settings.h"
#include "zzplat/paths.h"

namespace zzhost {
namespace {

// fuzz_settings_text: a key with an ill-formed byte ("\xC1" before 'a', an overlong form)
// once folded into the data-path key and reached the module with its relative value
// unresolved. Such a key is now a key of its own: it neither sets nor shadows the data
// path.
TEST(FuzzRegressionTest, IllFormedKeyIsNotFoldedIntoAPathKey) {
  const std::string input =
      "# shared\n/http/glob\xC1"
      "al/SharedDataPath = da;ta\n/http/global/AllParentalFiltersEnabled = 1\n\n"
      "[session 3]\n/hled = 0\n";
  CHostSettings settings;
  settings.LoadText(input, "fuzz.conf", "/base");
  EXPECT_EQ(settings.GetStringValue(u"/http/global/SharedDataPath"), nullptr);
  const char16_t* kept = settings.GetStringValue(u"/http/glob\uFFFDal/SharedDataPath");
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(zzplat::Utf16ToUtf8Lenient(kept), "da;ta");
}

}  // namespace
}  // namespace zzhost
