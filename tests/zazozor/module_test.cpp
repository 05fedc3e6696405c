// The module file as the host sees it: its dynamic symbol table, the version, the factory
// singleton, the allocators in order, and modules the factory destroys.
#include <gtest/gtest.h>

#include "support/bin_dir.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "afilter.h"
#include "class_factory.h"
#include "zzplat/dynlib.h"

namespace {

const std::u16string kNames[] = {
    u"Http Parental Bayesian Filter", u"Http Parental BWList Filter",
    u"Http Parental BWList Advanced Filter", u"Http Parental Signatures Filter"};

// The build's bin folder: $ZAZOZOR_BIN, else the folder of this test program (also in bin).
std::string BinDir() { return zztest::BinDir().string(); }

std::vector<std::string> RunLines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  pclose(pipe);
  return lines;
}

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
  for (const std::string& line :
       RunLines("nm -D --defined-only '" + BinDir() + "/zazozor.mdl' 2>&1")) {
    std::size_t space = line.rfind(' ');
    exported.insert(space == std::string::npos ? line : line.substr(space + 1));
  }
  EXPECT_EQ(exported,
            (std::set<std::string>{"GetASVersion", "GetClassFactory", "ReleaseClassFactory"}));
}

TEST_F(LoadedModule, VersionFactorySingletonAndAllocatorsInOrder) {
  std::uint32_t major = 0, minor = 0, build = 0;
  m_version(&major, &minor, &build);
  EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build),
            "2.8.32");
  m_version(nullptr, nullptr, nullptr);  // null pointers are skipped
  build = 0;
  m_version(nullptr, nullptr, &build);
  EXPECT_EQ(build, 32u);

  EXPECT_EQ(m_release(), 0);  // nothing to release yet
  CAClassFactory* first = m_factory();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(m_factory(), first);
  EXPECT_EQ(m_release(), 0);
  CAClassFactory* factory = m_factory();
  ASSERT_NE(factory, nullptr);
  const auto& expected = kNames;
  ASSERT_EQ(factory->GetAllocatorCount(), 4u);
  for (std::uint64_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::u16string(factory->GetAllocator(i)->GetModuleName()->c_str()), expected[i]);
    EXPECT_EQ(factory->FindAllocator(expected[i].c_str()), factory->GetAllocator(i));
  }
  EXPECT_EQ(factory->FindAllocator(u"Http Breaker"), nullptr);
  EXPECT_EQ(factory->FindAllocator(u"http parental bwlist filter"), nullptr);
  EXPECT_THROW(factory->GetAllocator(4), InvalidIndexException);
}

// Filters made by the module keep their type across the module boundary (names, kinds,
// codes and messages of each filter: filters_test.cpp), and listed modules die with the
// factory.
TEST_F(LoadedModule, ModulesAreNamedFiltersAndExceptionsKeepTheirType) {
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
    if (n == 1) {
      EXPECT_EQ(factory, nullptr) << "the factory block itself failed";
    }
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
