// Library names in the product's form mapped to local files, and loading by name and path.
#include "zzplat/dynlib.h"

#include <gtest/gtest.h>

#include "support/bin_dir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "zzplat/paths.h"

namespace {

std::string BinDir() { return zztest::BinDir().string(); }

TEST(DynlibTest, LocalLibraryName) {
  const struct {
    const char16_t* name;
    const char* local;
  } cases[] = {
      {u"astracer.dll", "libastracer.so"},
      {u"ASREGEX.DLL", "libASREGEX.so"},
      {u"data\\sub\\iconv.dll", "data/sub/libiconv.so"},
      {u"zazozor.mdl", "zazozor.mdl"},
      {u".dll", ".dll"},
      {u"dir.dll\\x", "dir.dll/x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zzplat::LocalLibraryName(c.name), c.local) << c.local;
  }
}

TEST(DynlibTest, LoadsTheTracingLibraryAndFindsItsEntry) {
  // The product's way first: a bare name, found in the application's folder.
  zzplat::LibraryHandle byName = zzplat::LoadLibraryW(u"astracer.dll");
  ASSERT_NE(byName, nullptr) << zzplat::LastLoaderError();
  EXPECT_NE(zzplat::GetProcAddress(byName, "GetTracerW"), nullptr);
  EXPECT_EQ(zzplat::GetProcAddress(byName, "NoSuchExport"), nullptr);
  // The same library by a wide path in the product's form, with backslashes.
  std::u16string widePath = zzplat::Utf8ToUtf16Lenient(BinDir() + "/astracer.dll");
  std::replace(widePath.begin(), widePath.end(), u'/', u'\\');
  zzplat::LibraryHandle byWidePath = zzplat::LoadLibraryW(widePath.c_str());
  EXPECT_EQ(byWidePath, byName);
  zzplat::FreeLibrary(byWidePath);
  zzplat::FreeLibrary(byName);

  EXPECT_EQ(zzplat::LoadLibraryW(u"no_such_library_zz.dll"), nullptr);
  EXPECT_FALSE(zzplat::LastLoaderError().empty());
  EXPECT_EQ(zzplat::LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(zzplat::LoadLibraryLocal(""), nullptr);
  EXPECT_EQ(zzplat::GetProcAddress(nullptr, "GetTracerW"), nullptr);
  zzplat::FreeLibrary(nullptr);
}

}  // namespace
