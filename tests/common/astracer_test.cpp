// The tracing library as the module sees it: loaded at run time, entries found by name.
// Each test loads it afresh and reads the logs after unloading it, which writes out every
// sink's buffer; the environment it reads is restored afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
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
using zztest::ReadBytes;

// Sets an environment variable (null: unsets it) and restores it when it goes.
class EnvScope {
 public:
  explicit EnvScope(const char* name, const char* value = nullptr) : m_name(name) {
    if (const char* old = std::getenv(name)) m_saved = old;
    Set(value);
  }
  ~EnvScope() { Set(m_saved ? m_saved->c_str() : nullptr); }
  void Set(const char* value) { value ? ::setenv(m_name, value, 1) : ::unsetenv(m_name); }

 private:
  const char* m_name;
  std::optional<std::string> m_saved;
};

class TracerLibraryTest : public ::testing::Test {
 protected:
  TracerLibraryTest() { Load(); }
  ~TracerLibraryTest() override { zzplat::FreeLibrary(m_library); }

  void Load() {
    m_library = zzplat::LoadLibraryLocal((zztest::BinDir() / "libastracer.so").c_str());
    m_getTracer = reinterpret_cast<GetTracerWProc>(zzplat::GetProcAddress(m_library, "GetTracerW"));
    m_getLevel = reinterpret_cast<GetTraceLevelProc>(zzplat::GetProcAddress(m_library, "GetTraceLevel"));
    ASSERT_TRUE(m_getTracer != nullptr && m_getLevel != nullptr) << "libastracer.so missing";
  }
  // Unloads the library, which writes out and drops its sinks, and loads it again.
  void Reload() {
    zzplat::FreeLibrary(m_library);
    Load();
  }
  // A sink under a log file name never used before in this test; m_name is that name.
  CATrace* NewSink() {
    m_name = "t" + std::to_string(++m_count) + ".log";
    return m_getTracer(zztest::Wide(m_name).c_str(), 1);
  }
  std::string Log(const std::string& name) const { return ReadBytes(m_dir / name); }

  zztest::ScratchDir m_dir;
  EnvScope m_traceDir{"ZAZOZOR_TRACE_DIR", m_dir.Path().c_str()};
  EnvScope m_level{"ZAZOZOR_TRACE_LEVEL", "3"};
  EnvScope m_cap{"ZAZOZOR_TRACE_MAX_BYTES"};
  EnvScope m_flush{"ZAZOZOR_TRACE_FLUSH_MS"};
  zzplat::LibraryHandle m_library = nullptr;
  GetTracerWProc m_getTracer = nullptr;
  GetTraceLevelProc m_getLevel = nullptr;
  std::string m_name;
  int m_count = 0;
};

// Tracing is off unless a level from 0 to 3 is asked for; the sink tells its level.
TEST_F(TracerLibraryTest, LevelFromEnvironment) {
  const struct {
    const char* level;  // null: unset
    int kept;
  } cases[] = {{"0", 0}, {"2", 2}, {"3", 3}, {nullptr, -1}, {"off", -1},
               {"4", -1}, {"x", -1}, {"01", -1}, {"", -1}};
  std::vector<std::string> names;
  for (const auto& c : cases) {
    m_level.Set(c.level);
    CATrace* sink = NewSink();
    names.push_back(m_name);
    EXPECT_EQ(sink != nullptr, c.kept >= 0) << m_name;
    EXPECT_EQ(m_getLevel(sink), c.kept) << m_name;
    for (unsigned level = 0; sink != nullptr && level <= 4; ++level) sink->Trace(level, "L%u\n", level);
  }
  m_level.Set("3");
  CATrace* same = m_getTracer(u"same.log", 1);
  EXPECT_EQ(m_getTracer(u"same.log", 0), same);
  EXPECT_EQ(m_getTracer(nullptr, 1), nullptr);
  EXPECT_EQ(m_getTracer(u"", 1), nullptr);
  EXPECT_EQ(m_getLevel(reinterpret_cast<const CATrace*>(&names)), -1);
  Reload();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::string expected;
    for (int level = 0; level <= cases[i].kept; ++level) expected += "L" + std::to_string(level) + "\n";
    EXPECT_EQ(Log(names[i]), expected) << names[i];
  }
  m_level.Set("1");  // a new load reads the environment again
  EXPECT_EQ(m_getLevel(m_getTracer(u"same.log", 1)), 1);
}

// Printf and Write add no newline and ignore the level; a line longer than the line buffer
// is cut but still ends the line; a relative log is taken from the working folder the sink
// was made in; a folder that cannot be written drops lines silently.
TEST_F(TracerLibraryTest, WritePrintfActiveSwitchLongLinesAndFolders) {
  m_level.Set("0");
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
  sink->Trace(0, "%s\n", std::string(5000, 'a').c_str());
  const std::string first = m_name;

  m_traceDir.Set(nullptr);
  const fs::path previous = fs::current_path();
  fs::current_path(m_dir.Path());
  NewSink()->Trace(0, "here\n");
  fs::current_path(previous);
  m_traceDir.Set((m_dir / "missing/deeper").c_str());
  NewSink()->Trace(0, "nowhere\n");
  Reload();
  const std::string log = Log(first), head = "w\np1|\xC3\xA9\nno newline given\n";
  ASSERT_EQ(log.substr(0, head.size()), head);
  const std::size_t cut = log.size() - head.size();
  EXPECT_TRUE(cut > 4000 && cut <= 4096 && log.back() == '\n' && log[log.size() - 2] == 'a') << cut;
  EXPECT_EQ(Log("t2.log"), "here\n");
}

// Lines wait in memory until the interval passes, 64 KiB collect or the library goes.
TEST_F(TracerLibraryTest, BufferedLinesGoOutOnTimeWhenFullAndAtUnload) {
  m_flush.Set("60000");
  CATrace* slow = NewSink();
  const std::string slowName = m_name;
  slow->Trace(0, "waits\n");
  EXPECT_EQ(Log(slowName), "");
  m_flush.Set("20");
  NewSink()->Trace(0, "soon\n");
  for (int i = 0; i < 500 && Log(m_name).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Log(m_name), "soon\n") << "the flusher thread did not write within 5 s";
  for (int i = 0; i < 700; ++i) slow->Trace(0, "%099d\n", i);
  EXPECT_GE(Log(slowName).size(), 64u * 1024) << "a full buffer waited";
  Reload();
  EXPECT_EQ(Log(slowName).size(), 6u + 700 * 100);
}

std::string Numbered(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) text += "line " + std::to_string(1000 + i) + "\n";
  return text;
}

// Past the cap the log moves to LOG.1 (replacing an older one) and a new LOG starts: the two
// hold the newest lines, whole, written line by line or from the buffer. A log left full
// by an earlier run moves at the first line.
TEST_F(TracerLibraryTest, RotationKeepsTheNewestLinesInTwoFiles) {
  m_cap.Set("4096");
  for (const char* flush : {"0", "1000"}) {
    m_flush.Set(flush);
    CATrace* sink = NewSink();
    for (int i = 0; i < 1000; ++i) sink->Trace(0, "line %d\n", 1000 + i);
    Reload();
    const std::string log = Log(m_name), old = Log(m_name + ".1");
    EXPECT_LE(log.size(), 4096u);
    EXPECT_GT(old.size(), 4096u - 10) << "rotated before the file was full";
    EXPECT_EQ(old + log, Numbered(1000 - static_cast<int>((old + log).size()) / 10, 1000));
    EXPECT_FALSE(fs::exists(m_dir / (m_name + ".2")));
  }
  zztest::WriteBytes(m_dir / "t3.log", std::string(5000, 'o'));
  NewSink()->Trace(0, "new\n");
  Reload();
  EXPECT_EQ(Log("t3.log"), "new\n");
  EXPECT_EQ(Log("t3.log.1"), std::string(5000, 'o'));
}

// Eight threads write 2000 long lines each through the buffer: every line arrives whole and
// once; with a small cap each thread's kept lines are the newest ones it wrote.
TEST_F(TracerLibraryTest, ThreadLinesStayWholeThroughBufferAndRotation) {
  constexpr int kThreads = 8, kLines = 2000;
  const std::string padding(120, 'x');
  for (const char* cap : {"1000000000", "262144"}) {
    m_cap.Set(cap);
    CATrace* sink = NewSink();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i) sink->Trace(0, "%d %d %s\n", t, i, padding.c_str());
      });
    }
    for (std::thread& thread : threads) thread.join();
    Reload();
    std::istringstream log(Log(m_name + ".1") + Log(m_name));
    std::set<std::pair<int, int>> seen;
    int first[kThreads] = {}, torn = 0;
    for (int t = 0; t < kThreads; ++t) first[t] = kLines;
    for (std::string line; std::getline(log, line);) {
      int t = -1, i = -1;
      std::istringstream(line) >> t >> i;
      torn += t < 0 || t >= kThreads || line != std::to_string(t) + " " + std::to_string(i) +
                                                    " " + padding;
      if (t >= 0 && t < kThreads) first[t] = std::min(first[t], i);
      EXPECT_TRUE(seen.insert({t, i}).second) << "doubled: " << line;
    }
    EXPECT_EQ(torn, 0);
    std::size_t expected = 0;
    for (int t = 0; t < kThreads; ++t) expected += kLines - first[t];
    EXPECT_EQ(seen.size(), expected) << "a thread lost a line newer than one kept";
    if (cap[0] == '1') {
      EXPECT_EQ(seen.size(), std::size_t{kThreads} * kLines);
    } else {
      EXPECT_LE(fs::file_size(m_dir / (m_name + ".1")), 262144u);
    }
  }
}

}  // namespace
