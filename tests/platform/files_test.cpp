// OS file services: Win32-style wildcards, temp names from many threads. Opening, reads,
// writes, enumeration, rename, copy, removal and status run through their wrappers in
// tests/common/asfile_test.cpp.
#include "zzplat/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"
#include "zzplat/paths.h"

namespace zzplat {
namespace {

namespace fs = std::filesystem;

std::u16string W(const std::string& text) { return Utf8ToUtf16Lenient(text); }
std::string N(const std::u16string& text) { return Utf16ToUtf8Lenient(text.c_str()); }

class FilesTest : public ::testing::Test {
 protected:
  // The product's form of a path in the test folder: "<dir>\name".
  std::u16string P(const std::string& name) const { return W(m_dir + "\\" + name); }
  zztest::ScratchDir m_scratch;
  std::string m_dir = m_scratch.Path().string();
};

TEST(WildcardTest, MatchesLikeWin32) {
  const struct { const char16_t* pattern; const char16_t* name; bool match; } cases[] = {
      {u"pc*.slf", u"PC_SIGN.SLF", true}, {u"pc*.slf", u"pc.slf", true}, {u"pc*.slf", u"pc_sign.slfx", false},
      {u"*.*", u"noext", true},           {u"a?c", u"abc", true},    {u"a?c", u"ac", false},
      {u"*a*b", u"aab", true},            {u"*a*b", u"aba", false},  {u"", u"x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.match) << N(c.pattern) << " vs " << N(c.name);
}

// Run under ThreadSanitizer by CI (suite name).
class FilesThreadTest : public FilesTest {};

TEST_F(FilesThreadTest, TempNamesAreUniqueAcrossThreads) {
  constexpr int kThreads = 8, kNames = 200;
  std::vector<std::vector<std::u16string>> names(kThreads);
  std::vector<std::thread> threads;
  const std::u16string folder = W(m_dir) + u"\\";  // a trailing separator gets no second one
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kNames; ++i) {
        std::u16string path;
        if (CreateTempFile(folder.c_str(), u"kvtz", &path) == 0) names[t].push_back(path);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::u16string> all;
  for (const auto& list : names) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kNames));
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), kThreads * kNames);
  EXPECT_TRUE(std::regex_match(N(*all.begin()), std::regex(m_dir + R"(\\kvtz[0-9A-F]+\.tmp)")))
      << "one separator, the prefix, hex digits";
  std::u16string path;
  EXPECT_EQ(CreateTempFile(P("nofolder").c_str(), u"kvtz", &path), ENOENT);
}

}  // namespace
}  // namespace zzplat
