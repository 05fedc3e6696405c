// Library names in the product's form mapped to local files, and loading by name and path.
#include "zzplat/dynlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/bin_dir.h"
#include "zzplat/paths.h"

namespace {

TEST(DynlibTest, NamesMapToLocalFilesAndLoadByNameOrWidePath) {
  const struct {
    const char16_t* name;
    const char* local;
  } cases[] = {{u"ASREGEX.DLL", "libASREGEX.so"}, {u"data\\sub\\iconv.dll", "data/sub/libiconv.so"},
               {u"zazozor.mdl", "zazozor.mdl"}, {u".dll", ".dll"}, {u"dir.dll\\x", "dir.dll/x"}};
  for (const auto& c : cases) EXPECT_EQ(zzplat::LocalLibraryName(c.name), c.local) << c.local;

  // The product's way first: a bare name, found in the application's folder; then the same
  // library by a wide path in the product's form, with backslashes.
  zzplat::LibraryHandle byName = zzplat::LoadLibraryW(u"astracer.dll");
  ASSERT_NE(byName, nullptr) << zzplat::LastLoaderError();
  EXPECT_NE(zzplat::GetProcAddress(byName, "GetTracerW"), nullptr);
  EXPECT_EQ(zzplat::GetProcAddress(byName, "NoSuchExport"), nullptr);
  std::u16string widePath = zzplat::Utf8ToUtf16Lenient(zztest::BinDir().string() + "/astracer.dll");
  std::replace(widePath.begin(), widePath.end(), u'/', u'\\');
  zzplat::LibraryHandle byWidePath = zzplat::LoadLibraryW(widePath.c_str());
  EXPECT_EQ(byWidePath, byName);
  zzplat::FreeLibrary(byWidePath);
  zzplat::FreeLibrary(byName);

  EXPECT_EQ(zzplat::LoadLibraryW(u"no_such_library_zz.dll"), nullptr);
  EXPECT_FALSE(zzplat::LastLoaderError().empty());
  EXPECT_EQ(zzplat::LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(zzplat::GetProcAddress(nullptr, "GetTracerW"), nullptr);
}

}  // namespace
