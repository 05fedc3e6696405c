// The module file as the host sees it: its entry points, the factory singleton, the allocators in order, and modules the factory destroys.
#include <gtest/gtest.h>

#include <string>

#include "afilter.h"
#include "support/bin_dir.h"
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

// The version's figures: tests/host/cli_test.cpp.
TEST_F(LoadedModule, FactorySingletonAndAllocatorsInOrder) {
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
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(std::u16string(one->GetModuleName().c_str()), u"Http Parental Signatures Filter");
  ASSERT_NE(dynamic_cast<CAFilter*>(one), nullptr) << "type information across the boundary";
  ASSERT_EQ(factory->GetModuleList().Add(one), 0);
  CAModule* module = factory->FindAllocator(u"Http Parental BWList Filter")->CreateModule();
  ASSERT_EQ(factory->GetModuleList().Add(module), 0);
  // No shared data block yet (the message: filters_test.cpp).
  EXPECT_THROW(dynamic_cast<CAFilter*>(module)->ReloadSharedData(), ASBadPtrException);
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
