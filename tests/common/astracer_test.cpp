// The tracing library as the module sees it: loaded at run time, GetTracerW by name.
// Each test asks for a sink under a new log file name, so the sink reads the environment
// the test has just set; the variables are restored afterwards (astrace_test.cpp sets them
// for the module's own sink).
#include <gtest/gtest.h>

#include "support/bin_dir.h"
#include "support/scratch_dir.h"
#include <unistd.h>

#include <climits>
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

std::string BinDir() { return zztest::BinDir().string(); }

// Restores an environment variable when it goes.
class EnvScope {
 public:
  explicit EnvScope(const char* name) : m_name(name) {
    if (const char* value = std::getenv(name)) m_saved = value;
  }
  ~EnvScope() { m_saved ? (void)::setenv(m_name, m_saved->c_str(), 1) : (void)::unsetenv(m_name); }

 private:
  const char* m_name;
  std::optional<std::string> m_saved;
};

class TracerLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_library = zzplat::LoadLibraryLocal((BinDir() + "/libastracer.so").c_str());
    s_getTracer = reinterpret_cast<GetTracerWProc>(zzplat::GetProcAddress(s_library, "GetTracerW"));
  }
  static void TearDownTestSuite() { zzplat::FreeLibrary(s_library); }

  void SetUp() override {
    ASSERT_NE(s_getTracer, nullptr) << "libastracer.so or GetTracerW missing in " << BinDir();
    ::setenv("ZAZOZOR_TRACE_DIR", m_dir.c_str(), 1);
    ::unsetenv("ZAZOZOR_TRACE_LEVEL");
  }

  // A sink under a log name never used before in this process.
  CATrace* NewSink() {
    static int counter = 0;
    m_name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + ".log";
    return s_getTracer(zzplat::Utf8ToUtf16Lenient(m_name).c_str(), 1);
  }
  // The newest sink's log file.
  std::string Log() const {
    std::ifstream in(m_dir / m_name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  EnvScope m_savedDir{"ZAZOZOR_TRACE_DIR"};
  EnvScope m_savedLevel{"ZAZOZOR_TRACE_LEVEL"};
  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
  std::string m_name;
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
  } cases[] = {{"0", "L0\n"},        {"2", "L0\nL1\nL2\n"},         {nullptr, "L0\nL1\nL2\nL3\n"},
               {"4", "L0\nL1\nL2\nL3\n"}, {"x", "L0\nL1\nL2\nL3\n"}, {"01", "L0\nL1\nL2\nL3\n"}};
  for (const auto& c : cases) {
    c.level != nullptr ? ::setenv("ZAZOZOR_TRACE_LEVEL", c.level, 1)
                       : ::unsetenv("ZAZOZOR_TRACE_LEVEL");
    CATrace* sink = NewSink();
    ASSERT_NE(sink, nullptr);
    for (unsigned level = 0; level <= 4; ++level) sink->Trace(level, "L%u\n", level);
    EXPECT_EQ(Log(), c.kept) << (c.level ? c.level : "(unset)");
  }
}

// Printf and Write add no newline and ignore the level; a line longer than the buffer is
// cut but still ends the line.
TEST_F(TracerLibraryTest, WritePrintfActiveSwitchAndLongLines) {
  ::setenv("ZAZOZOR_TRACE_LEVEL", "0", 1);
  CATrace* sink = NewSink();
  sink->Write("w\n");
  sink->Printf("p%d", 1);
  sink->Printf("|%S\n", u"\u00e9");
  sink->Trace(1, "dropped\n");
  sink->Trace(0, "no newline %s", "given");
  sink->SetActive(false);
  sink->Write("off\n");
  sink->Trace(0, "off\n");
  sink->SetActive(true);
  sink->Trace(0, "on\n");
  EXPECT_EQ(Log(), "w\np1|\xC3\xA9\nno newline given\non\n");

  sink = NewSink();
  sink->Trace(0, "%s\n", std::string(5000, 'a').c_str());
  sink->Trace(0, "next\n");
  const std::string log = Log();
  const std::size_t end = log.find('\n');
  EXPECT_TRUE(end > 4000 && end < 4096) << end;
  EXPECT_EQ(log.substr(end + 1), "next\n");
}

TEST_F(TracerLibraryTest, DefaultFolderAndUnwritableFolder) {
  ::unsetenv("ZAZOZOR_TRACE_DIR");
  const fs::path previous = fs::current_path();
  fs::current_path(m_dir);
  NewSink()->Trace(0, "here\n");
  fs::current_path(previous);
  EXPECT_EQ(Log(), "here\n");

  ::setenv("ZAZOZOR_TRACE_DIR", (m_dir / "missing" / "deeper").c_str(), 1);
  CATrace* sink = NewSink();
  ASSERT_NE(sink, nullptr);
  sink->Trace(0, "nowhere\n");  // silently dropped
  sink->Trace(0, "nowhere\n");
}

// Eight threads write 2000 long lines each: every line arrives whole, exactly once.
TEST_F(TracerLibraryTest, ConcurrentLinesStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kLines = 2000;
  CATrace* sink = NewSink();
  const std::string padding(120, 'x');
  const auto line = [&](int t, int i) {
    return "[VEVOZOVI]           mt.cpp:7 -thread " + std::to_string(t) + " line " +
           std::to_string(i) + " " + padding;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) sink->Trace(0, "%s\n", line(t, i).c_str());
    });
  }
  for (std::thread& t : threads) t.join();
  std::multiset<std::string> expected, got;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) expected.insert(line(t, i));
  }
  std::istringstream log(Log());
  for (std::string text; std::getline(log, text);) got.insert(text);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "a line was torn, lost or doubled";
}

// Unloading the library with its last handle drops its sinks: a new load reads the folder
// and the level again.
TEST_F(TracerLibraryTest, ANewLoadReadsTheEnvironmentAgain) {
  const std::string path = BinDir() + "/libastracer.so";
  const fs::path first = m_dir / "first", second = m_dir / "second";
  fs::create_directories(first);
  fs::create_directories(second);
  zzplat::FreeLibrary(s_library);  // the suite's handle is the only other one
  for (const fs::path& dir : {first, second}) {
    ::setenv("ZAZOZOR_TRACE_DIR", dir.c_str(), 1);
    zzplat::LibraryHandle library = zzplat::LoadLibraryLocal(path.c_str());
    ASSERT_NE(library, nullptr);
    auto getTracer = reinterpret_cast<GetTracerWProc>(zzplat::GetProcAddress(library, "GetTracerW"));
    getTracer(u"reload.log", 1)->Trace(0, "%s\n", dir.filename().c_str());
    zzplat::FreeLibrary(library);
  }
  s_library = zzplat::LoadLibraryLocal(path.c_str());
  s_getTracer = reinterpret_cast<GetTracerWProc>(zzplat::GetProcAddress(s_library, "GetTracerW"));
  for (const fs::path& dir : {first, second}) {
    std::ifstream in(dir / "reload.log");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, dir.filename().string());
  }
}

}  // namespace
