// The host end to end: runs the built zazozor as a child process in a scratch folder and
// checks its output, exit status and trace log, and the list files of "zazozor lists";
// plus the command-line parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "errors.h"
#include "engines/urldb/list_files.h"
#include "support/host_process.h"

namespace zzhost {
namespace {

namespace fs = std::filesystem;
using zztest::ReadBytes;
using zztest::WriteBytes;

const char* const kFilterNames[] = {
    "Http Parental Bayesian Filter",
    "Http Parental BWList Filter",
    "Http Parental BWList Advanced Filter",
    "Http Parental Signatures Filter",
};

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

using RunResult = zztest::HostRun;
using zztest::HostBinDir;

class HostRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(HostBinDir() / "zazozor")) << "build the 'zazozor' target";
    fs::create_directories(dir / "trace");
  }

  // Runs program (default: the built host) with args in the scratch folder; its trace log
  // goes to logDir (default: dir/trace).
  RunResult Run(const std::vector<std::string>& args, const fs::path& program = {},
                fs::path logDir = {}) {
    if (logDir.empty()) logDir = dir / "trace";
    return zztest::RunHost(args, dir.Path(), "", {"ZAZOZOR_TRACE_DIR=" + logDir.string()},
                           program);
  }

  // The output of "check": one line per filter, "e" enabled or "d" disabled in states.
  static std::string CheckOutput(const std::string& states, int session) {
    const int codes[] = {100, 102, 102, 100};
    std::string text;
    for (int i = 0; i < 4; ++i) {
      text += std::string(kFilterNames[i]) + ": filter code " + std::to_string(codes[i]) +
              (states[i] == 'e' ? ", enabled" : ", disabled") + " for session " +
              std::to_string(session) + "\n";
    }
    return text;
  }

  zztest::ScratchDir dir;
};

TEST_F(HostRunTest, VersionAndModulesPrintWhatTheModuleReports) {
  RunResult r = Run({"version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2.8.32\n");
  r = Run({"modules"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kFilterNames[0]) + "\n" + kFilterNames[1] + "\n" +
                       kFilterNames[2] + "\n" + kFilterNames[3] + "\n");
  EXPECT_EQ(r.err, "");
}

// Without the defaults the advanced filter is off unless the shared flag is on; the
// signatures filter follows the BW list filter's key; own flags of 0 or 2 are not "on".
TEST_F(HostRunTest, CheckReportsEveryFilterEnabledFromTheSessionsSettings) {
  WriteBytes(dir / "zz.conf",
             "/http/global/SharedDataPath = " + (HostBinDir() / "data").string() + "\n"
             "[session 7]\n"
             "/http/global/AllParentalFiltersEnabled = 1\n"
             "/http/filter/parentalbwlist/Enabled = 0\n"
             "/http/filter/bayes/Enabled = 2\n");
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"check"}, CheckOutput("eeee", 0)},
      {{"--config", "zz.conf", "check"}, CheckOutput("eede", 0)},
      {{"--config", "zz.conf", "--session", "7", "--set",
        "/http/global/AllParentalFiltersEnabled=0", "check"},
       CheckOutput("dddd", 7)},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(HostRunTest, UsageErrorsExitWithTwoAndOneLine) {
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{}, "zazozor: no command given (try 'zazozor --help')\n"},
      {{"foo"}, "zazozor: unknown command 'foo' (try 'zazozor --help')\n"},
      {{"--foo", "version"}, "zazozor: unknown option '--foo' (try 'zazozor --help')\n"},
      {{"version", "--foo"},
       "zazozor: unknown option '--foo' for 'version' (try 'zazozor version --help')\n"},
      {{"modules", "extra"},
       "zazozor: unexpected argument 'extra' for 'modules' (try 'zazozor modules --help')\n"},
      {{"--module"}, "zazozor: option '--module' needs a value (try 'zazozor --help')\n"},
      {{"--session", "1000", "version"},
       "zazozor: bad session '1000': expected a number from 0 to 999 (try 'zazozor --help')\n"},
      {{"--set", "novalue", "version"},
       "zazozor: --set needs KEY=VALUE, got 'novalue' (try 'zazozor --help')\n"},
      {{"lists", "dump", "a.cas", "b.cas"}, "zazozor: 'lists dump' needs exactly one FILE.cas"},
      {{"lists", "sort", "a.cas"}, "zazozor: unknown 'lists' action 'sort'"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(LineCount(r.err), 1) << r.err;
    EXPECT_EQ(r.out, "") << c.err;
  }
}

TEST_F(HostRunTest, FailuresExitWithOneAndOneLine) {
  WriteBytes(dir / "bad.conf", "/a = 1\n\n[session 12\n");
  WriteBytes(dir / "sites.txt", "a.test\n");
  zztest::WriteListFile(dir / "flipped.cas", zztest::AddRecords({"a.test", "b.test"}));
  zztest::FlipBit(dir / "flipped.cas", 128 + 3, 2);
  zztest::WriteListFile(dir / "corrupt.cas", zztest::AddRecords({"a.test"}) + zztest::LittleEndian32(1));
  const std::string missing = (dir / "nowhere" / "zazozor.mdl").string();
  const std::string notAModule = (HostBinDir() / "libasfn.so").string();
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--module", missing, "version"}, "zazozor: cannot load module '" + missing + "': "},
      {{"--module", notAModule, "modules"},
       "zazozor: module '" + notAModule + "' has no export 'GetASVersion': "},
      {{"--config", "none.conf", "modules"}, "zazozor: cannot read settings file 'none.conf': "},
      {{"--config", "bad.conf", "check"}, "zazozor: bad.conf:3: bad section header '[session 12'"},
      {{"lists", "dump", "missing.cas"}, "zazozor: cannot read 'missing.cas': no such file"},
      {{"lists", "dump", "flipped.cas"},
       "zazozor: cannot load 'flipped.cas': ASException - MESSAGE: File CRC does not match with "
       "its stored CRC! [flipped.cas]"},
      {{"lists", "dump", "corrupt.cas"},
       "zazozor: cannot load 'corrupt.cas': corrupt list file (bad operation code or truncated "
       "record) (status -13)"},
      {{"lists", "build", "sites.txt", "no/such/folder/out.cas"}, "zazozor: cannot write"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(LineCount(r.err), 1) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(fs::exists(dir / "out.cas"));
}

TEST_F(HostRunTest, HelpGoesToStdout) {
  RunResult r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: zazozor [OPTIONS] COMMAND [ARGS]\n", 0), 0u);
  EXPECT_EQ(r.err, "");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"modules", "--help"},
                                               {"help", "modules"}}) {
    r = Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: zazozor [OPTIONS] modules\n", 0), 0u) << r.out;
  }
}

// Host runs from a private copy of the binaries, with and without the tracing library.
// "check" creates every filter; its data path points to the build's data.
TEST_F(HostRunTest, TracingLibraryWritesTheFrameworkLinesAndItsAbsenceIsSilent) {
  const fs::path copy = dir / "bin";
  fs::create_directories(copy);
  for (const char* file : {"zazozor", "zazozor.mdl", "libasfn.so", "libastracer.so"}) {
    fs::copy_file(HostBinDir() / file, copy / file);
  }
  const std::vector<std::string> checkArgs = {
      "--set", "/http/global/SharedDataPath=" + (HostBinDir() / "data").string(), "check"};
  const RunResult modules = Run({"modules"}, copy / "zazozor", dir.Path());
  const RunResult check = Run(checkArgs, copy / "zazozor", dir.Path());
  EXPECT_EQ(check.status, 0) << check.err;
  const std::string log = ReadBytes(dir / "vi2_debug.log");
  // Lines of the form "[VEVOZOVI]" + 11 blanks + "FILE.cpp:LINE -" + text, with this text.
  const auto count = [&](const std::string& text) {
    static const std::regex head(R"(^\[VEVOZOVI\] {11}[^ :][^:]*:[0-9]+ -)");
    std::istringstream in(log);
    int n = 0;
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
      n += std::regex_search(line, match, head) && line.substr(match.length()) == text;
    }
    return n;
  };
  for (const char* name : kFilterNames) {
    EXPECT_EQ(count(std::string("VI2FW: Creating new module: [") + name + "]"), 1) << log;
  }
  for (std::string cls : {"BWList", "BWList Advanced", "Signatures"}) {
    EXPECT_EQ(count("Constructing Parental " + cls + " Filter with name Http Parental " + cls +
                    " Filter"), 1) << log;
  }
  EXPECT_EQ(count("Releasing CHTTPFClassFactory"), 2) << log;  // once per run

  fs::remove(copy / "libastracer.so");
  EXPECT_EQ(Run({"modules"}, copy / "zazozor").out, modules.out);
  const RunResult quietCheck = Run(checkArgs, copy / "zazozor");
  EXPECT_EQ(quietCheck.status, 0) << quietCheck.err;
  EXPECT_EQ(quietCheck.out, check.out);
  EXPECT_FALSE(fs::exists(dir / "trace" / "vi2_debug.log"))
      << "the copied module still found a tracing library; its run path must hold $ORIGIN "
         "only (CMAKE_BUILD_RPATH_USE_ORIGIN)";
}

TEST_F(HostRunTest, ListsBuildThenDumpGivesSortedUniqueKeys) {
  WriteBytes(dir / "sites.txt",
             "# parental black list\n"
             "\n"
             "WWW.Sample.Test/x\n"           // 3: lower-cased, reduced to its site
             "http://shop.sample.test/\n"    // 4: the same key again
             "http://user@10.1.2.3:81/\n"    // 5
             "/no/host\n"                    // 6: no key
             "  news.sample.co.uk  \r\n"     // 7: blanks and CR trimmed
             "   # indented comment\n"       // 8
             "http://\n"                     // 9: no key
             "b.test");                      // 10: no final newline
  const RunResult built = Run({"lists", "build", "sites.txt", "list.cas"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.out, "read 10 lines (3 skipped, 2 without a site key), wrote 4 keys\n");
  EXPECT_EQ(built.err, "zazozor: line 6: no site key\nzazozor: line 9: no site key\n");
  const RunResult dumped = Run({"lists", "dump", "list.cas"});
  EXPECT_EQ(dumped.status, 0) << dumped.err;
  EXPECT_EQ(dumped.out, "10.1.2.3\nb.test\nsample.co.uk\nsample.test\n");
  EXPECT_EQ(dumped.err, "");

}

TEST(ParseCommandLineTest, GlobalOptionsStandAnywhereAndKeepTheirOrder) {
  const Invocation inv = ParseCommandLine({"--set", "a=1", "--module=m.mdl", "cmd", "x",
                                           "--session", "12", "--opt", "--set=b=2", "--",
                                           "--session", "-"});
  EXPECT_EQ(inv.command, "cmd");
  EXPECT_EQ(inv.options.modulePath, "m.mdl");
  EXPECT_EQ(inv.options.session, 12u);
  EXPECT_EQ(inv.options.overrides, (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(inv.args, (std::vector<std::string>{"x", "--opt", "--session", "-"}));
  EXPECT_FALSE(inv.help);
  EXPECT_TRUE(ParseCommandLine({"cmd", "-h"}).help);
  EXPECT_EQ(ParseCommandLine({"--session", "999", "c"}).options.session, 999u);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--config"},
                                               {"--config="}, {"--session", "4294967296"},
                                               {"--session=", "c"}}) {
    EXPECT_THROW(ParseCommandLine(args), UsageError) << args[0];
  }
}

}  // namespace
}  // namespace zzhost
