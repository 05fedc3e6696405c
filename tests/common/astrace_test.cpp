// Trace lines, throw sites and the exception family; the module's use of the real tracing
// library, and the level check that spares lines nobody keeps.
//
// The tracing library reads its variables when it creates its sink, which may happen only
// once per library load; they are set once, before main, for the whole test binary.
#include "common/astrace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/scratch_dir.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

struct TraceEnvironment {
  zztest::ScratchDir dir;
  TraceEnvironment() {
    ::setenv("ZAZOZOR_TRACE_DIR", dir.Path().c_str(), 1);
    ::setenv("ZAZOZOR_TRACE_LEVEL", "0", 1);
    ::setenv("ZAZOZOR_TRACE_FLUSH_MS", "0", 1);  // every line in the file at once
  }
};
const TraceEnvironment g_env;

std::string At(int line) { return "astrace_test.cpp:" + std::to_string(line) + " -"; }

TEST(TraceTest, LineFormatsAndThrowSites) {
  zztest::TraceCapture sink;
  const int line = __LINE__; AS_TRACE(2, "Creating new module: [%s] %S", "bw", u"\u00e9");
  const int unused = __LINE__; AS_TRACE_UNUSED("ascommon::CBlackBox::GetBool", "strId");
  int thrown = 0;
  try {
    thrown = __LINE__; AS_THROW_CODE(1, ASException, -501, "there is no object with id = %d", 7);
  } catch (const ASException& e) {
    EXPECT_STREQ(e.what(), "ASException - CODE: -501 MESSAGE: there is no object with id = 7");
    EXPECT_EQ(e.GetCode(), -501);
  }
  std::string dump;
  for (const auto& l : sink.Lines()) dump += std::to_string(l.level) + " " + l.text;
  EXPECT_EQ(dump, "2 [VEVOZOVI]           " + At(line) + "Creating new module: [bw] \xC3\xA9\n" +
                      "3 [VEVOZOVI]           " + At(unused) +
                      "Unused param ascommon::CBlackBox::GetBool :: strId\n1 [VEVOZOVI EXCEPTION] " +
                      At(thrown) + "ASException - CODE: -501 MESSAGE: there is no object with id = 7\n");

  EXPECT_EQ(zztest::WhatOf([] { AS_THROW(0, ASBadPtrException, "invalid item %S", u"x\U0001F600"); }),
            "ASBadPtrException - MESSAGE: invalid item x\xF0\x9F\x98\x80");
  EXPECT_EQ(zztest::WhatOf([] { AS_RAISE_CODE(ASFileException, -3, "cannot open %s", "a.dat"); }),
            "ASFileException - CODE: -3 MESSAGE: cannot open a.dat");
  EXPECT_EQ(sink.Lines().size(), 4u) << "AS_THROW traces, AS_RAISE_CODE does not";
}

// The module's own path: astracer.dll found through the search path, its level learnt once,
// and the do-nothing sink before start and after stop. A line of a level nobody keeps never
// evaluates its arguments, so it is neither formatted nor handed to a sink.
TEST(TracingLibraryTest, StartWritesKeptLinesOnlyStopRestoresDummy) {
  ascommon::SetTracerForTesting(nullptr);
  const std::string token = "run" + std::to_string(::getpid()) + "-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  int evaluated = 0;
  const auto arg = [&](const char* text) { return ++evaluated, text; };
  AS_TRACE(0, "before start %s %s", token.c_str(), arg("a"));
  EXPECT_EQ(evaluated, 0);
  ascommon::StartTracing();
  ASSERT_EQ(dynamic_cast<CDummyTrace*>(ascommon::GetTracer()), nullptr)
      << "libastracer.so was not loaded; is it built next to the test?";
  AS_TRACE(0, "level zero %s %s", token.c_str(), arg("b"));
  AS_TRACE(3, "level three %s %s", token.c_str(), arg("c"));
  AS_TRACE_EXC(1, "level one %s %s", token.c_str(), arg("d"));
  EXPECT_EQ(evaluated, 1);
  ascommon::StopTracing();
  EXPECT_NE(dynamic_cast<CDummyTrace*>(ascommon::GetTracer()), nullptr);
  AS_TRACE(0, "after stop %s %s", token.c_str(), arg("g"));
  EXPECT_EQ(evaluated, 1);

  const std::string log = zztest::ReadBytes(g_env.dir / "vi2_debug.log");
  EXPECT_NE(log.find("level zero " + token + " b\n"), std::string::npos) << log;
  for (const char* absent : {"before start", "level three", "level one", "after stop"}) {
    EXPECT_EQ(log.find(absent), std::string::npos) << absent;
  }
}

}  // namespace
