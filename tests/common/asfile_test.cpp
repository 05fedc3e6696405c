// CASFile (buffered reads and writes checked against the bytes on disk) and the free file
// operations on wide paths; the platform calls beneath them have their own tests.
#include "common/asfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "support/bin_dir.h"
#include "support/scratch_dir.h"
#include "support/what_of.h"
#include "zzplat/dynlib.h"
#include "zzplat/paths.h"

namespace ascommon {
namespace {

namespace fs = std::filesystem;

std::u16string W(const std::string& text) { return zzplat::Utf8ToUtf16Lenient(text); }
std::string N(const char16_t* text) { return zzplat::Utf16ToUtf8Lenient(text); }

class ASFileTest : public ::testing::Test {
 protected:
  std::u16string P(const std::string& name) const { return W(m_dir + "\\" + name); }
  void WriteFile(const std::string& name, const std::string& bytes) const {
    fs::create_directories(fs::path(m_dir + "/" + name).parent_path());
    std::ofstream(m_dir + "/" + name, std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(m_dir + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  zztest::ScratchDir m_scratch;
  std::string m_dir = m_scratch.Path().string();
};

// Mixed small and large writes, seeks and reads give the same bytes as the file holds.
TEST_F(ASFileTest, BufferedTransfersMatchTheFile) {
  std::mt19937 random(7);
  std::string expected(300000, '\0');
  for (char& c : expected) c = static_cast<char>(random());
  // Chunks of 0..8 bytes with one beyond the buffer every 50; reads likewise.
  auto chunk = [&](std::size_t i) { return i % 50 == 0 ? 70000 : random() % 9; };
  {
    CASFile file(P("data").c_str(), u"wb");
    for (std::size_t at = 0, i = 0, n; at < expected.size(); at += n, ++i) {
      n = std::min(chunk(i), expected.size() - at);
      ASSERT_EQ(file.write(expected.data() + at, 1, n), n);
      ASSERT_EQ(file.tell(), static_cast<std::int64_t>(at + n));
    }
  }
  ASSERT_EQ(ReadFile("data"), expected);
  CASFile file(P("data").c_str(), u"rb");
  EXPECT_EQ(file.GetSize(), expected.size());
  std::string got;
  char buffer[80000];
  for (std::size_t i = 0, n = 1, read = 1; read == n; ++i) {
    n = chunk(i) + 1;
    got.append(buffer, read = file.read(buffer, 1, n));
  }
  EXPECT_EQ(got, expected);
  ASSERT_TRUE(file.seek(100, 0) == 0 && file.read(buffer, 1, 3) == 3 && file.seek(5, 1) == 0);
  EXPECT_EQ(file.tell(), 108) << "relative to the logical position";
  ASSERT_EQ(file.seek(-5, 2), 0);
  EXPECT_EQ(file.read(buffer, 4, 3), 1u) << "only whole elements count";
  EXPECT_EQ(std::string(buffer, 4), expected.substr(expected.size() - 5, 4));
}

TEST_F(ASFileTest, UpdateModeLinesAndOpenFailure) {
  WriteFile("u", "0123456789");
  {
    CASFile file(P("u").c_str(), u"r+b");
    char c[3] = {};
    ASSERT_TRUE(file.read(c, 1, 2) == 2u && file.write("ab", 1, 2) == 2u) << "writes at the logical position";
    EXPECT_TRUE(file.read(c, 1, 3) == 3u && std::string(c, 3) == "456");
  }
  EXPECT_EQ(ReadFile("u"), "01ab456789");
  WriteFile("t", "first line\nsecond\nlast");
  const std::u16string missing = P("missing.dat");
  EXPECT_EQ(zztest::WhatOf([&] { CASFile(missing.c_str(), u"rb"); }),
            "ASException - CODE: -551 MESSAGE: could not open " + N(missing.c_str()) + ": No such file or directory");
  CASFile file(P("t").c_str(), u"rb");
  char line[8];
  std::string all;
  while (file.gets(line, sizeof(line)) != nullptr) all += std::string(line) + "|";
  EXPECT_EQ(all, "first l|ine\n|second\n|last|");
}

// The wrappers answer 1 or 0; FileExists takes wildcards.
TEST_F(ASFileTest, QueriesAndOperationsReportOneOrZero) {
  WriteFile("a.dat", "12345");
  fs::create_directory(m_dir + "/dir");
  std::uint64_t size = 0;
  EXPECT_TRUE(FileExists(P("A*.DAT").c_str(), &size) == 1 && size == 5u);
  EXPECT_TRUE(FileExists(P("b.dat").c_str()) == 0 && IsFile(P("dir").c_str()) == 0);
  EXPECT_TRUE(CopyFile(P("a.dat").c_str(), P("b").c_str()) == 1 && CopyFile(P("none").c_str(), P("b").c_str()) == 0);
  EXPECT_EQ(CopyFile(P("b").c_str(), P("b").c_str()), 0) << "a copy onto itself would empty it";
  EXPECT_EQ(ReadFile("b"), "12345");
  EXPECT_EQ(MoveFile(P("b").c_str(), P("a.dat").c_str()), 1) << "a move replaces the target";
  EXPECT_EQ(MoveFile(P("b").c_str(), P("c").c_str()), 0) << "only a real move reports 1";
  EXPECT_TRUE(DeleteFile(P("a.dat").c_str()) == 1 && DeleteFile(P("a.dat").c_str()) == 0);
}

TEST_F(ASFileTest, TempNames) {
  char16_t path[kMaxPathUnits];
  ASSERT_EQ(GetTempFileName(W(m_dir).c_str(), u"kvtz", path, kMaxPathUnits), 1);
  EXPECT_TRUE(IsFile(path) == 1 && GetTempFileName(W(m_dir).c_str(), u"small", path, 10) == 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1)
      << "a name that does not fit leaves no file behind";
  EXPECT_EQ(zztest::WhatOf([&] { CASFile(path, nullptr); }),
            "ASException - MESSAGE: CASFile constructor - invalid input");
}

TEST_F(ASFileTest, RemoveFolderRecursively) {
  WriteFile("tree/a.txt", "a");
  WriteFile("tree/sub/deeper/c.txt", "c");
  fs::create_directories(m_dir + "/tree/empty");
  EXPECT_EQ(RemoveFolder(P("tree").c_str(), false), -3) << "not empty";
  EXPECT_EQ(RemoveFolder(P("tree").c_str(), true), 0);
  EXPECT_FALSE(fs::exists(m_dir + "/tree"));
  EXPECT_TRUE(RemoveFolder(P("tree").c_str(), true) == -3 && RemoveFolder(nullptr, true) == -1);

  // Links inside are removed as links, never followed: the files they reach survive.
  WriteFile("outside/precious.txt", "p");
  WriteFile("linked/own.txt", "o");
  fs::create_directory_symlink(m_dir + "/outside", m_dir + "/linked/to_dir");
  fs::create_symlink(m_dir + "/outside/precious.txt", m_dir + "/linked/to_file");
  fs::create_directory_symlink(m_dir + "/outside", m_dir + "/alias");
  EXPECT_EQ(RemoveFolder(P("alias").c_str(), true), -3) << "a link is not a folder to empty";
  EXPECT_EQ(RemoveFolder(P("linked").c_str(), true), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(m_dir + "/linked")));
  EXPECT_EQ(ReadFile("outside/precious.txt"), "p");
}

TEST(ASFileLibraryTest, LoadLibraryProcsReportsMissingPieces) {
  const std::u16string library = W(zztest::BinDir().string() + "/astracer.dll");
  const char* good[] = {"GetTracerW"};
  const char* bad[] = {"GetTracerW", "NoSuchEntry"};
  void* procs[2] = {};
  void* handle = LoadLibraryProcs(library.c_str(), good, procs, 1);
  ASSERT_TRUE(handle != nullptr && procs[0] != nullptr);
  zzplat::FreeLibrary(handle);
  EXPECT_EQ(zztest::WhatOf([&] { LoadLibraryProcs(library.c_str(), bad, procs, 2); }),
            "ASException - CODE: -5 MESSAGE: Could not load procedures from " + N(library.c_str()));
  EXPECT_EQ(zztest::WhatOf([&] { LoadLibraryProcs(u"nowhere\\none.dll", good, procs, 1); }),
            "ASException - CODE: -4 MESSAGE: Could not load library nowhere\\none.dll");
}

}  // namespace
}  // namespace ascommon
