// OS file services: the handle, Win32-style wildcard enumeration, temp names. Rename, copy,
// removal and status run through their wrappers in tests/common/asfile_test.cpp.
#include "zzplat/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
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
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(m_dir + "/" + name, std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(m_dir + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::set<std::string> Find(const std::string& pattern) const {
    std::set<std::string> names;
    FindFiles finder;
    if (finder.Open(P(pattern).c_str()) != 0) return names;
    DirEntry entry;
    while (finder.Next(&entry)) names.insert(N(entry.name) + (entry.isDirectory ? "/" : ""));
    return names;
  }

  zztest::ScratchDir m_scratch;
  std::string m_dir = m_scratch.Path().string();
};

TEST_F(FilesTest, HandleTransfersAndOpenFailures) {
  File file;
  ASSERT_EQ(file.Open(P("a.bin").c_str(), u"w+b"), 0);
  EXPECT_EQ(file.Write("hello world", 11), 11u);
  ASSERT_TRUE(file.Seek(6, SeekOrigin::Begin));
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 5u) << "short at the end of the file";
  EXPECT_STREQ(buffer, "world");
  EXPECT_EQ(file.Size(), 11);
  EXPECT_EQ(file.Close(), 0);
  ASSERT_EQ(file.Open(P("a.bin").c_str(), u"ab"), 0);
  file.Write("!", 1);
  file.Close();
  EXPECT_EQ(ReadFile("a.bin"), "hello world!");

  fs::create_directory(m_dir + "/sub");
  EXPECT_EQ(file.Open(P("missing").c_str(), u"rb"), ENOENT);
  EXPECT_EQ(file.Open(P("sub").c_str(), u"rb"), EISDIR);
  EXPECT_EQ(file.Open(P("x").c_str(), u"q"), EINVAL);
  EXPECT_FALSE(fs::exists(m_dir + "/x"));
}

TEST(WildcardTest, MatchesLikeWin32) {
  const struct {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  } cases[] = {
      {u"pc*.slf", u"pc_sign.slf", true},
      {u"pc*.slf", u"PC_SIGN.SLF", true},
      {u"pc*.slf", u"pc.slf", true},
      {u"pc*.slf", u"xpc.slf", false},
      {u"pc*.slf", u"pc_sign.slfx", false},
      {u"*", u".", true},
      {u"*.*", u"noext", true},
      {u"a?c", u"abc", true},
      {u"a?c", u"ac", false},
      {u"*a*b", u"aab", true},
      {u"*a*b", u"aba", false},
      {u"", u"x", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.match) << N(c.pattern) << " vs " << N(c.name);
  }
}

TEST_F(FilesTest, FindFilesMatchesLastPartWithoutCase) {
  WriteFile("pc_sign.slf", "1");
  WriteFile("PC_Extra.SLF", "22");
  WriteFile("other.slf", "");
  fs::create_directory(m_dir + "/pcdir.slf");
  EXPECT_EQ(Find("pc*.slf"), (std::set<std::string>{"PC_Extra.SLF", "pc_sign.slf", "pcdir.slf/"}));
  EXPECT_EQ(Find("*"), (std::set<std::string>{"./", "../", "PC_Extra.SLF", "other.slf",
                                              "pc_sign.slf", "pcdir.slf/"}));
  FindFiles finder;
  EXPECT_EQ(finder.Open(P("*.none").c_str()), ENOENT);
  EXPECT_EQ(finder.Open(P("nofolder\\*").c_str()), ENOENT);
  ASSERT_EQ(finder.Open(P("pc_e*").c_str()), 0);
  DirEntry entry;
  ASSERT_TRUE(finder.Next(&entry));
  EXPECT_EQ(entry.size, 2u);
  EXPECT_FALSE(finder.Next(&entry));
}

TEST_F(FilesTest, TempFileIsCreatedWithPrefixHexAndTmp) {
  std::u16string path;
  ASSERT_EQ(CreateTempFile(W(m_dir).c_str(), u"kvtz", &path), 0);
  EXPECT_TRUE(std::regex_match(N(path), std::regex(m_dir + R"(\\kvtz[0-9A-F]+\.tmp)"))) << N(path);
  EXPECT_TRUE(fs::is_regular_file(LocalPath(path.c_str())));
  EXPECT_EQ(CreateTempFile(P("nofolder").c_str(), u"kvtz", &path), ENOENT);
}

// Run under ThreadSanitizer by CI (suite name).
class FilesThreadTest : public FilesTest {};

TEST_F(FilesThreadTest, TempNamesAreUniqueAcrossThreads) {
  constexpr int kThreads = 8;
  constexpr int kNames = 200;
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
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()),
            kThreads * kNames);
  EXPECT_EQ(N(*all.begin()).find("\\\\"), std::string::npos);
}

}  // namespace
}  // namespace zzplat
