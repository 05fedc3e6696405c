// Trace lines, throw sites and the exception family; the module's use of the real tracing
// library.
//
// The tracing library reads ZAZOZOR_TRACE_DIR and ZAZOZOR_TRACE_LEVEL when it creates its
// sink, which may happen only once per process (the library may stay loaded). They are
// therefore set once, before main, for the whole test binary.
#include "common/astrace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/trace_capture.h"

namespace {

namespace fs = std::filesystem;

struct TraceDirectory {
  fs::path path;
  TraceDirectory() {
    std::string pattern = (fs::temp_directory_path() / "zz_astrace_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    ::setenv("ZAZOZOR_TRACE_DIR", path.c_str(), 1);
    ::setenv("ZAZOZOR_TRACE_LEVEL", "0", 1);
  }
  ~TraceDirectory() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};
const TraceDirectory g_traceDir;

std::string ReadLog() {
  std::ifstream in(g_traceDir.path / "vi2_debug.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TraceTest : public ::testing::Test {
 protected:
  zztest::TraceCapture m_sink;
};

std::string At(int line) { return "astrace_test.cpp:" + std::to_string(line) + " -"; }

TEST_F(TraceTest, OrdinaryLineFormat) {
  const int line = __LINE__; AS_TRACE(2, "Creating new module: [%s] %S", "bw", u"\u00e9");
  ASSERT_EQ(m_sink.Lines().size(), 1u);
  EXPECT_EQ(m_sink.Lines()[0].level, 2u);
  EXPECT_EQ(m_sink.Lines()[0].text,
            "[VEVOZOVI]           " + At(line) + "Creating new module: [bw] \xC3\xA9\n");

  const int unused = __LINE__; AS_TRACE_UNUSED("ascommon::CBlackBox::GetBool", "strId");
  ASSERT_EQ(m_sink.Lines().size(), 2u);
  EXPECT_EQ(m_sink.Lines()[1].level, 3u);
  EXPECT_EQ(m_sink.Lines()[1].text, "[VEVOZOVI]           " + At(unused) +
                                      "Unused param ascommon::CBlackBox::GetBool :: strId\n");
}

TEST_F(TraceTest, ThrowWithCodeTracesTheSameText) {
  int line = 0;
  try {
    line = __LINE__; AS_THROW_CODE(1, ASException, -501, "there is no object with id = %d", 7);
    FAIL() << "no throw";
  } catch (const ASException& e) {
    const std::string message = "ASException - CODE: -501 MESSAGE: there is no object with id = 7";
    EXPECT_EQ(e.what(), message);
    EXPECT_EQ(e.GetCode(), -501);
    ASSERT_EQ(m_sink.Lines().size(), 1u);
    EXPECT_EQ(m_sink.Lines()[0].level, 1u);
    EXPECT_EQ(m_sink.Lines()[0].text, "[VEVOZOVI EXCEPTION] " + At(line) + message + "\n");
  }
}

TEST_F(TraceTest, ThrowMacrosPickClassAndCode) {
  try {
    AS_THROW(0, ASBadPtrException, "invalid item %S", u"x\U0001F600");
  } catch (const AException& e) {  // caught through the root of the family
    EXPECT_STREQ(e.what(), "ASBadPtrException - MESSAGE: invalid item x\xF0\x9F\x98\x80");
    EXPECT_EQ(e.GetCode(), 0);
    EXPECT_NE(dynamic_cast<const ASBadPtrException*>(&e), nullptr);
  }
  EXPECT_EQ(m_sink.Lines().size(), 1u);

  try {
    AS_RAISE_CODE(ASFileException, -3, "cannot open %s", "a.dat");
  } catch (const ASFileException& e) {
    EXPECT_STREQ(e.what(), "ASFileException - CODE: -3 MESSAGE: cannot open a.dat");
    EXPECT_EQ(e.GetCode(), -3);
  }
  EXPECT_EQ(m_sink.Lines().size(), 1u) << "AS_RAISE_CODE must not trace";
}

TEST_F(TraceTest, LongMessagesAreCutTo512) {
  const std::string text(600, 'a');
  ASException direct(0, "%s", text.c_str());
  EXPECT_EQ(std::string(direct.what()), text.substr(0, 512));

  try {
    AS_THROW(0, ASInternalException, "%s", text.c_str());
  } catch (const ASInternalException& e) {
    const std::string expected = "ASInternalException - MESSAGE: " + text;
    EXPECT_EQ(std::string(e.what()), expected.substr(0, 512));
  }
}

TEST(ExceptionTest, DefaultMessagesAndCodes) {
  EXPECT_STREQ(AException().what(), "Vevozovi Exception");
  EXPECT_EQ(AException().GetCode(), -1);
  EXPECT_STREQ(InvalidIndexException().what(), "unknown exception");
  EXPECT_EQ(InvalidIndexException().GetCode(), -301);
  EXPECT_EQ(EmptyListException().GetCode(), -400);
  EXPECT_STREQ(ASException().what(), "unknown exception");
  EXPECT_EQ(ASException().GetCode(), 0);
}

TEST(TraceFileNameTest, Cases) {
  EXPECT_STREQ(ascommon::TraceFileName("..\\..\\blackbox.cpp"), "blackbox.cpp");
  EXPECT_STREQ(ascommon::TraceFileName("blackbox.cpp"), "blackbox.cpp");
  EXPECT_STREQ(ascommon::TraceFileName("src/common/blackbox.cpp"), "src/common/blackbox.cpp");
  EXPECT_STREQ(ascommon::TraceFileName("dir\\"), "");
  EXPECT_STREQ(ascommon::TraceFileName(nullptr), "[no file]");
}

// The module's own path: astracer.dll found through the search path, level filtering in the
// library, and the do-nothing sink before start and after stop.
TEST(TracingLibraryTest, StartWritesFilteredLinesStopRestoresDummy) {
  ASSERT_FALSE(g_traceDir.path.empty());
  ascommon::SetTracerForTesting(nullptr);
  const std::string token =
      "run" + std::to_string(::getpid()) + "-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  AS_TRACE(0, "before start %s", token.c_str());
  EXPECT_NE(dynamic_cast<CDummyTrace*>(ascommon::GetTracer()), nullptr);

  ascommon::StartTracing();
  ASSERT_EQ(dynamic_cast<CDummyTrace*>(ascommon::GetTracer()), nullptr)
      << "libastracer.so was not loaded; is it built next to the test?";
  AS_TRACE(0, "level zero %s", token.c_str());
  AS_TRACE(3, "level three %s", token.c_str());
  ascommon::StartTracing();  // a second start replaces the sink and keeps it working
  AS_TRACE(0, "after restart %s", token.c_str());
  ascommon::StopTracing();
  EXPECT_NE(dynamic_cast<CDummyTrace*>(ascommon::GetTracer()), nullptr);
  AS_TRACE(0, "after stop %s", token.c_str());

  const std::string log = ReadLog();
  EXPECT_NE(log.find("level zero " + token + "\n"), std::string::npos) << log;
  EXPECT_NE(log.find("after restart " + token + "\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("before start " + token), std::string::npos);
  EXPECT_EQ(log.find("level three " + token), std::string::npos);
  EXPECT_EQ(log.find("after stop " + token), std::string::npos);
}

}  // namespace
