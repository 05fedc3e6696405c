// The module file as the host sees it: its dynamic symbol table, the version, the factory
// singleton, the allocators in order, and modules the factory destroys.
#include <gtest/gtest.h>

#include "support/bin_dir.h"


#include <cstdio>
#include <set>
#include <string>

#include "afilter.h"
#include "class_factory.h"
#include "zzplat/dynlib.h"

namespace {

const std::u16string kNames[] = {
    u"Http Parental Bayesian Filter", u"Http Parental BWList Filter",
    u"Http Parental BWList Advanced Filter", u"Http Parental Signatures Filter"};

std::string BinDir() { return zztest::BinDir().string(); }

class LoadedModule : public ::testing::Test {
 protected:
  using VersionProc = void (*)(std::uint32_t*, std::uint32_t*, std::uint32_t*);
  using FactoryProc = CAClassFactory* (*)();
  using ReleaseProc = std::int32_t (*)();

  void SetUp() override {
    m_library = zzplat::LoadLibraryLocal((BinDir() + "/zazozor.mdl").c_str());
    ASSERT_NE(m_library, nullptr) << zzplat::LastLoaderError();
    m_version = reinterpret_cast<VersionProc>(zzplat::GetProcAddress(m_library, "GetASVersion"));
    m_factory = reinterpret_cast<FactoryProc>(zzplat::GetProcAddress(m_library, "GetClassFactory"));
    m_release =
        reinterpret_cast<ReleaseProc>(zzplat::GetProcAddress(m_library, "ReleaseClassFactory"));
    ASSERT_TRUE(m_version && m_factory && m_release);
  }
  void TearDown() override {
    if (m_release != nullptr) m_release();
    zzplat::FreeLibrary(m_library);
  }

  zzplat::LibraryHandle m_library = nullptr;
  VersionProc m_version = nullptr;
  FactoryProc m_factory = nullptr;
  ReleaseProc m_release = nullptr;
};

TEST(ModuleFile, ExportsExactlyTheThreeEntryPoints) {
  std::set<std::string> exported;
  FILE* pipe = popen(("nm -D --defined-only '" + BinDir() + "/zazozor.mdl' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    const std::string line(buffer);
    exported.insert(line.substr(line.rfind(' ') + 1, line.size() - line.rfind(' ') - 2));
  }
  pclose(pipe);
  EXPECT_EQ(exported, (std::set<std::string>{"GetASVersion", "GetClassFactory", "ReleaseClassFactory"}));
}

TEST_F(LoadedModule, VersionFactorySingletonAndAllocatorsInOrder) {
  std::uint32_t major = 0, minor = 0, build = 0;
  m_version(&major, &minor, &build);
  EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build),
            "2.8.32");
  m_version(nullptr, nullptr, nullptr);  // null pointers are skipped

  EXPECT_EQ(m_release(), 0);  // nothing to release yet
  CAClassFactory* factory = m_factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(m_factory(), factory);
  ASSERT_EQ(factory->GetAllocatorCount(), 4u);
  for (std::uint64_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::u16string(factory->GetAllocator(i)->GetModuleName()->c_str()), kNames[i]);
    EXPECT_EQ(factory->FindAllocator(kNames[i].c_str()), factory->GetAllocator(i));
  }
  EXPECT_EQ(factory->FindAllocator(u"http parental bwlist filter"), nullptr);
}

// Filters made by the module keep their type across the module boundary (names, kinds,
// codes and messages of each filter: filters_test.cpp), and listed modules die with the
// factory.
TEST_F(LoadedModule, ModulesAreNamedFiltersAndExceptionsKeepTheirType) {
  const std::int64_t baseline = asfn_live_blocks();
  CAClassFactory* factory = m_factory();
  CBasicAllocator* allocator = factory->FindAllocator(u"Http Parental Signatures Filter");
  ASSERT_NE(allocator, nullptr);
  CAModule* one = allocator->CreateModule();
  CAModule* two = allocator->CreateModule();
  ASSERT_NE(one, nullptr);
  EXPECT_NE(one, two);
  EXPECT_EQ(std::u16string(one->GetModuleName().c_str()), u"Http Parental Signatures Filter");
  ASSERT_NE(dynamic_cast<CAFilter*>(one), nullptr) << "type information across the boundary";
  ASSERT_EQ(factory->GetModuleList().Add(one), 0);
  ASSERT_EQ(factory->GetModuleList().Add(two), 0);
  CAModule* module = factory->FindAllocator(u"Http Parental BWList Filter")->CreateModule();
  ASSERT_EQ(factory->GetModuleList().Add(module), 0);
  try {
    dynamic_cast<CAFilter*>(module)->ReloadSharedData();  // no shared data block yet
    ADD_FAILURE() << "no exception";
  } catch (const ASBadPtrException& e) {
    EXPECT_STREQ(e.what(), "ASBadPtrException - MESSAGE: [Parental BW List] invalid pointer to "
                           "shared data struct");
  }
  ASSERT_EQ(factory->GetModuleList().Add(nullptr), 0);  // null entries are skipped
  m_release();
  EXPECT_EQ(asfn_live_blocks(), baseline) << "the listed modules die with the factory";
}

// Each allocation of the factory's construction fails in turn: the entry point answers null
// or the allocator library's exception, never a half-built factory, and nothing leaks.
TEST_F(LoadedModule, FactoryConstructionSurvivesEveryAllocationFailure) {
  const std::int64_t baseline = asfn_live_blocks();
  for (std::uint64_t n = 1; n <= 16; ++n) {
    asfn_fail_at(n, ASFN_FAIL_ONCE);
    CAClassFactory* factory = nullptr;
    try {
      factory = m_factory();
    } catch (const std::bad_alloc&) {
    }
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_TRUE(n != 1 || factory == nullptr) << "the factory block itself failed";
    if (factory != nullptr) {
      // Whatever was registered is found by its name, in factory order: an allocator whose
      // name copy failed is left out, never listed nameless.
      std::size_t next = 0;
      for (std::uint64_t i = 0; i < factory->GetAllocatorCount(); ++i) {
        const char16_t* text = factory->GetAllocator(i)->GetModuleName()->c_str();
        const std::u16string name(text != nullptr ? text : u"");
        while (next < 4 && kNames[next] != name) ++next;
        EXPECT_LT(next++, 4u) << "allocation " << n << ": allocator " << i << " named '"
                              << std::string(name.begin(), name.end()) << "'";
      }
    }
    m_release();
    EXPECT_EQ(asfn_live_blocks(), baseline) << "allocation " << n;
  }
  // After the failures the next call builds a whole factory.
  CAClassFactory* factory = m_factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->GetAllocatorCount(), 4u);
}

}  // namespace
