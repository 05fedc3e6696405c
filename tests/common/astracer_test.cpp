// The tracing library as the module sees it: loaded at run time, GetTracerW by name.
// Each test asks for a sink under a new log file name, so the sink reads the environment
// the test has just set; the variables are restored afterwards (astrace_test.cpp sets them
// for the module's own sink).
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/catrace.h"
#include "zzplat/dynlib.h"
#include "zzplat/paths.h"

namespace {

namespace fs = std::filesystem;

std::string BinDir() {
  const char* bin = std::getenv("ZAZOZOR_BIN");
  if (bin != nullptr && *bin != '\0') return bin;
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  std::string exe(path, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

class TracerLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_library = zzplat::LoadLibraryLocal((BinDir() + "/libastracer.so").c_str());
    if (s_library != nullptr) {
      s_getTracer = reinterpret_cast<GetTracerWProc>(zzplat::GetProcAddress(s_library, "GetTracerW"));
    }
  }
  static void TearDownTestSuite() {
    zzplat::FreeLibrary(s_library);
    s_library = nullptr;
    s_getTracer = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(s_getTracer, nullptr) << "libastracer.so or GetTracerW missing in " << BinDir();
    std::string pattern = (fs::temp_directory_path() / "zz_astracer_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    Save("ZAZOZOR_TRACE_DIR", m_savedDir);
    Save("ZAZOZOR_TRACE_LEVEL", m_savedLevel);
    ::setenv("ZAZOZOR_TRACE_DIR", m_dir.c_str(), 1);
    ::unsetenv("ZAZOZOR_TRACE_LEVEL");
  }
  void TearDown() override {
    Restore("ZAZOZOR_TRACE_DIR", m_savedDir);
    Restore("ZAZOZOR_TRACE_LEVEL", m_savedLevel);
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }

  // A sink under a log name never used before in this process.
  CATrace* NewSink(std::string* name = nullptr) {
    static int counter = 0;
    std::string file = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + ".log";
    if (name != nullptr) *name = file;
    return s_getTracer(zzplat::Utf8ToUtf16Lenient(file).c_str(), 1);
  }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static void Save(const char* variable, std::optional<std::string>& saved) {
    const char* value = std::getenv(variable);
    saved = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }
  static void Restore(const char* variable, const std::optional<std::string>& saved) {
    if (saved) {
      ::setenv(variable, saved->c_str(), 1);
    } else {
      ::unsetenv(variable);
    }
  }

  fs::path m_dir;
  std::optional<std::string> m_savedDir;
  std::optional<std::string> m_savedLevel;
  static zzplat::LibraryHandle s_library;
  static GetTracerWProc s_getTracer;
};

zzplat::LibraryHandle TracerLibraryTest::s_library = nullptr;
GetTracerWProc TracerLibraryTest::s_getTracer = nullptr;

TEST_F(TracerLibraryTest, OneSinkPerName) {
  CATrace* first = s_getTracer(u"same.log", 1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(s_getTracer(u"same.log", 0), first);
  EXPECT_NE(s_getTracer(u"other.log", 1), first);
  EXPECT_EQ(s_getTracer(nullptr, 1), nullptr);
  EXPECT_EQ(s_getTracer(u"", 1), nullptr);
}

TEST_F(TracerLibraryTest, LevelFromEnvironment) {
  const struct {
    const char* level;  // null: unset
    const char* kept;
  } cases[] = {{"0", "L0\n"},         {"2", "L0\nL1\nL2\n"},     {"3", "L0\nL1\nL2\nL3\n"},
               {nullptr, "L0\nL1\nL2\nL3\n"}, {"4", "L0\nL1\nL2\nL3\n"}, {"x", "L0\nL1\nL2\nL3\n"},
               {"01", "L0\nL1\nL2\nL3\n"},    {"", "L0\nL1\nL2\nL3\n"}};
  for (const auto& c : cases) {
    if (c.level != nullptr) {
      ::setenv("ZAZOZOR_TRACE_LEVEL", c.level, 1);
    } else {
      ::unsetenv("ZAZOZOR_TRACE_LEVEL");
    }
    std::string name;
    CATrace* sink = NewSink(&name);
    ASSERT_NE(sink, nullptr);
    for (unsigned level = 0; level <= 4; ++level) sink->Trace(level, "L%u\n", level);
    EXPECT_EQ(Read(m_dir / name), c.kept) << (c.level ? c.level : "(unset)");
  }
}

TEST_F(TracerLibraryTest, WritePrintfAndActiveSwitch) {
  ::setenv("ZAZOZOR_TRACE_LEVEL", "0", 1);
  std::string name;
  CATrace* sink = NewSink(&name);
  sink->Write("w\n");
  sink->Printf("p%d", 1);          // Printf writes as given: no newline added, no level
  sink->Printf("|%S\n", u"\u00e9");
  sink->Trace(1, "dropped\n");
  sink->Trace(0, "no newline %s", "given");
  sink->SetActive(false);
  sink->Write("off\n");
  sink->Trace(0, "off\n");
  sink->SetActive(true);
  sink->Trace(0, "on\n");
  EXPECT_EQ(Read(m_dir / name), "w\np1|\xC3\xA9\nno newline given\non\n");
}

TEST_F(TracerLibraryTest, LongLineIsCutAndStillEndsTheLine) {
  std::string name;
  CATrace* sink = NewSink(&name);
  const std::string text(5000, 'a');
  sink->Trace(0, "%s\n", text.c_str());
  sink->Trace(0, "next\n");
  const std::string log = Read(m_dir / name);
  const std::size_t end = log.find('\n');
  ASSERT_NE(end, std::string::npos);
  EXPECT_LT(end, 4096u);
  EXPECT_GT(end, 4000u);
  EXPECT_EQ(log.substr(end + 1), "next\n");
}

TEST_F(TracerLibraryTest, DefaultFolderAndUnwritableFolder) {
  ::unsetenv("ZAZOZOR_TRACE_DIR");
  const fs::path previous = fs::current_path();
  fs::current_path(m_dir);
  std::string name;
  NewSink(&name)->Trace(0, "here\n");
  fs::current_path(previous);
  EXPECT_EQ(Read(m_dir / name), "here\n");

  ::setenv("ZAZOZOR_TRACE_DIR", (m_dir / "missing" / "deeper").c_str(), 1);
  CATrace* sink = NewSink();
  ASSERT_NE(sink, nullptr);
  sink->Trace(0, "nowhere\n");  // silently dropped
  sink->Trace(0, "nowhere\n");
}

TEST_F(TracerLibraryTest, ConcurrentLinesStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kLines = 2000;
  std::string name;
  CATrace* sink = NewSink(&name);
  const std::string padding(120, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([=] {
      for (int i = 0; i < kLines; ++i) {
        sink->Trace(0, "[VEVOZOVI]           %s:%d -thread %d line %d %s\n", "mt.cpp", 7, t, i,
                    padding.c_str());
      }
    });
  }
  for (std::thread& t : threads) t.join();

  const std::string head = "[VEVOZOVI]           mt.cpp:7 -thread ";
  const std::string tail = " " + padding;
  std::istringstream log(Read(m_dir / name));
  std::set<std::pair<int, int>> seen;
  std::string line;
  int count = 0;
  while (std::getline(log, line)) {
    ++count;
    // Expected: head, thread digit, " line ", number, tail; nothing else.
    int thread = -1;
    int index = -1;
    int used = 0;
    const bool bWhole =
        line.compare(0, head.size(), head) == 0 &&
        std::sscanf(line.c_str() + head.size(), "%d line %d%n", &thread, &index, &used) == 2 &&
        line.substr(head.size() + used) == tail;
    ASSERT_TRUE(bWhole) << "broken line " << count << ": " << line;
    EXPECT_TRUE(seen.emplace(thread, index).second) << line;
  }
  EXPECT_EQ(count, kThreads * kLines);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
}

}  // namespace
