// Library names in the product's form mapped to local files, and loading by name and path.
#include "zzplat/dynlib.h"

#include <gtest/gtest.h>

#include <string>


namespace {

TEST(DynlibTest, NamesMapToLocalFilesAndLoadByNameOrWidePath) {
  const struct {
    const char16_t* name;
    const char* local;
  } cases[] = {{u"ASREGEX.DLL", "libASREGEX.so"}, {u"data\\sub\\iconv.dll", "data/sub/libiconv.so"},
               {u"zazozor.mdl", "zazozor.mdl"}, {u".dll", ".dll"}, {u"dir.dll\\x", "dir.dll/x"}};
  for (const auto& c : cases) EXPECT_EQ(zzplat::LocalLibraryName(c.name), c.local) << c.local;

  // A bare name is found in the application's folder (loading by a full path, and the
  // missing library's and entry's errors, run through LoadLibraryProcs in asfile_test).
  zzplat::LibraryHandle byName = zzplat::LoadLibraryW(u"astracer.dll");
  ASSERT_NE(byName, nullptr) << zzplat::LastLoaderError();
  EXPECT_NE(zzplat::GetProcAddress(byName, "GetTracerW"), nullptr);
  zzplat::FreeLibrary(byName);
  EXPECT_EQ(zzplat::LoadLibraryW(nullptr), nullptr);
}

}  // namespace
