// The tracing library as the module sees it: loaded at run time, entries found by name.
// Each test loads it afresh with its own variables and reads the logs after unloading it,
// which writes out every sink's buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/catrace.h"
#include "support/bin_dir.h"
#include "support/scratch_dir.h"
#include "zzplat/dynlib.h"

namespace {

namespace fs = std::filesystem;

void Env(const char* name, const char* value) {
  value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
}

class TracerLibraryTest : public ::testing::Test {
 protected:
  TracerLibraryTest() {
    Env("ZAZOZOR_TRACE_DIR", m_dir.Path().c_str());
    Env("ZAZOZOR_TRACE_LEVEL", "3");
    Env("ZAZOZOR_TRACE_MAX_BYTES", nullptr);
    Env("ZAZOZOR_TRACE_FLUSH_MS", nullptr);
    Load();
  }
  ~TracerLibraryTest() override { zzplat::FreeLibrary(m_library); }
  // Unloading the library writes out and drops its sinks.
  void Reload() {
    zzplat::FreeLibrary(m_library);
    Load();
  }
  void Load() {
    m_library = zzplat::LoadLibraryLocal((zztest::BinDir() / "libastracer.so").c_str());
    m_getTracer = reinterpret_cast<GetTracerWProc>(zzplat::GetProcAddress(m_library, "GetTracerW"));
    m_getLevel = reinterpret_cast<GetTraceLevelProc>(zzplat::GetProcAddress(m_library, "GetTraceLevel"));
    ASSERT_TRUE(m_getTracer != nullptr && m_getLevel != nullptr) << "libastracer.so missing";
  }
  // A sink under the log file name tN.log, N counting the sinks of the test.
  CATrace* NewSink() {
    m_name = "t" + std::to_string(++m_count) + ".log";
    return m_getTracer(zztest::Wide(m_name).c_str(), 1);
  }
  std::string Log(const std::string& name) const { return zztest::ReadBytes(m_dir / name); }

  zztest::ScratchDir m_dir;
  zzplat::LibraryHandle m_library = nullptr;
  GetTracerWProc m_getTracer = nullptr;
  GetTraceLevelProc m_getLevel = nullptr;
  std::string m_name;
  int m_count = 0;
};

// Trace ends a line that lacks one; a line longer than the line buffer is cut but still ends the line;
// a relative log is taken from the working folder the sink was made in; a folder that cannot
// be written drops lines silently.
TEST_F(TracerLibraryTest, LongLinesAndFolders) {
  Env("ZAZOZOR_TRACE_LEVEL", "0");
  CATrace* sink = NewSink();
  sink->Trace(0, "no newline %S", u"\u00e9");
  sink->Trace(0, "%s\n", std::string(5000, 'a').c_str());
  Env("ZAZOZOR_TRACE_DIR", nullptr);
  const fs::path previous = fs::current_path();
  fs::current_path(m_dir.Path());
  NewSink()->Trace(0, "here\n");
  fs::current_path(previous);
  Env("ZAZOZOR_TRACE_DIR", (m_dir / "missing/deeper").c_str());
  NewSink()->Trace(0, "nowhere\n");
  Reload();
  const std::string log = Log("t1.log"), head = "no newline \xC3\xA9\n";
  ASSERT_EQ(log.substr(0, head.size()), head);
  const std::size_t cut = log.size() - head.size();
  EXPECT_TRUE(cut > 4000 && cut <= 4096 && log.back() == '\n' && log[log.size() - 2] == 'a') << cut;
  EXPECT_EQ(Log("t2.log"), "here\n");
}

// Lines wait in memory until the interval passes, 64 KiB collect or the library goes.
TEST_F(TracerLibraryTest, BufferedLinesGoOutOnTimeWhenFullAndAtUnload) {
  Env("ZAZOZOR_TRACE_FLUSH_MS", "60000");
  CATrace* slow = NewSink();
  slow->Trace(0, "waits\n");
  EXPECT_EQ(Log("t1.log"), "");
  Env("ZAZOZOR_TRACE_FLUSH_MS", "20");
  NewSink()->Trace(0, "soon\n");
  for (int i = 0; i < 500 && Log("t2.log").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Log("t2.log"), "soon\n") << "the flusher thread did not write within 5 s";
  for (int i = 0; i < 700; ++i) slow->Trace(0, "%099d\n", i);
  EXPECT_GE(Log("t1.log").size(), 64u * 1024) << "a full buffer waited";
  Reload();
  EXPECT_EQ(Log("t1.log").size(), 6u + 700 * 100);
}

// A log left full by an earlier run moves to LOG.1 at the first line (the cap on a running
// log: the thread test).
TEST_F(TracerLibraryTest, FullLogOfAnEarlierRunMovesAside) {
  Env("ZAZOZOR_TRACE_MAX_BYTES", "4096");
  zztest::WriteBytes(m_dir / "t1.log", std::string(5000, 'o'));
  NewSink()->Trace(0, "new\n");
  Reload();
  EXPECT_EQ(Log("t1.log"), "new\n");
  EXPECT_EQ(Log("t1.log.1"), std::string(5000, 'o'));
}

// Eight threads write 2000 long lines each through the buffer: every line arrives whole and
// once; past a small cap the log moves to LOG.1 (replacing an older one) and what the two
// keep of each thread is the lines it wrote last.
TEST_F(TracerLibraryTest, ThreadLinesStayWholeThroughBufferAndRotation) {
  const std::string padding(120, 'x');
  for (const char* cap : {"1000000000", "262144"}) {
    Env("ZAZOZOR_TRACE_MAX_BYTES", cap);
    CATrace* sink = NewSink();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 2000; ++i) sink->Trace(0, "%d %d %s\n", t, i, padding.c_str());
      });
    }
    for (std::thread& thread : threads) thread.join();
    Reload();
    std::istringstream log(Log(m_name + ".1") + Log(m_name));
    std::map<int, int> next;  // per thread: the line that must come next
    int total = 0;
    for (std::string line; std::getline(log, line); ++total) {
      int t = -1, i = -1;
      std::istringstream(line) >> t >> i;
      ASSERT_EQ(line, std::to_string(t) + " " + std::to_string(i) + " " + padding);
      EXPECT_TRUE(next.count(t) == 0 || i == next[t]) << "lost, doubled or out of order: " << line;
      next[t] = i + 1;
    }
    for (const auto& [t, i] : next) EXPECT_EQ(i, 2000) << "thread " << t << " lost its last lines";
    if (cap[0] == '1') {
      EXPECT_EQ(total, 8 * 2000);
    } else {
      EXPECT_GT(fs::file_size(m_dir / (m_name + ".1")), 262144u - 200) << "moved before full";
      EXPECT_LE(fs::file_size(m_dir / (m_name + ".1")), 262144u);
      EXPECT_FALSE(fs::exists(m_dir / (m_name + ".2")));
    }
  }
}

}  // namespace
