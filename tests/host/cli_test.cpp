// The host end to end: runs the built zazozor as a child process in a scratch folder and
// checks its output, exit status and trace log, and the list files of "zazozor lists";
// plus the command-line parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli.h"
#include "errors.h"
#include "engines/urldb/list_files.h"
#include "support/host_process.h"

namespace zzhost {
namespace {

namespace fs = std::filesystem;
using zztest::HostBinDir;
using zztest::ReadBytes;
using zztest::WriteBytes;

const std::string kFilterNames[] = {"Http Parental Bayesian Filter", "Http Parental BWList Filter",
                                    "Http Parental BWList Advanced Filter",
                                    "Http Parental Signatures Filter"};

class HostRunTest : public ::testing::Test {
 protected:
  // Runs program (default: the built host) with args in the scratch folder, which also gets
  // any trace log; env (NAME=VALUE) comes before the test's own variables.
  zztest::HostRun Run(const std::vector<std::string>& args, const std::string& env = "",
                      const fs::path& program = {}) {
    std::vector<std::string> vars = {"ZAZOZOR_TRACE_DIR=" + dir.Path().string(),
                                     "ZAZOZOR_TRACE_LEVEL="};
    if (!env.empty()) vars.insert(vars.begin(), env);
    return zztest::RunHost(args, dir.Path(), "", vars, program);
  }
  // The output of "check": one line per filter, "e" enabled or "d" disabled in states.
  static std::string CheckOutput(const std::string& states, int session) {
    const char* const codes[] = {"100", "102", "102", "100"};
    std::string text;
    for (int i = 0; i < 4; ++i) {
      text += kFilterNames[i] + ": filter code " + codes[i] +
              (states[i] == 'e' ? ", enabled" : ", disabled") + " for session " +
              std::to_string(session) + "\n";
    }
    return text;
  }

  zztest::ScratchDir dir;
};

// Without the defaults the advanced filter is off unless the shared flag is on; the
// signatures filter follows the BW list filter's key; own flags of 0 or 2 are not "on".
// Help goes to stdout (its first line compared).
TEST_F(HostRunTest, CommandsAndHelpPrintOnStdout) {
  WriteBytes(dir / "zz.conf", "/http/global/SharedDataPath = " + (HostBinDir() / "data").string() +
                                  "\n[session 7]\n/http/global/AllParentalFiltersEnabled = 1\n"
                                  "/http/filter/parentalbwlist/Enabled = 0\n"
                                  "/http/filter/bayes/Enabled = 2\n");
  const std::string usage = "Usage: zazozor [OPTIONS] ";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"version"}, "2.8.32\n"},
      {{"modules"}, kFilterNames[0] + "\n" + kFilterNames[1] + "\n" + kFilterNames[2] + "\n" +
                        kFilterNames[3] + "\n"},
      {{"check"}, CheckOutput("eeee", 0)},
      {{"--config", "zz.conf", "check"}, CheckOutput("eede", 0)},
      {{"--config", "zz.conf", "--session", "7", "--set",
        "/http/global/AllParentalFiltersEnabled=0", "check"}, CheckOutput("dddd", 7)},
      {{"--help"}, usage + "COMMAND [ARGS]\n"},
      {{"help", "modules"}, usage + "modules\n"},
  };
  for (const auto& [args, out] : cases) {
    const zztest::HostRun r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(out.rfind(usage, 0) == 0 ? r.out.substr(0, out.size()) : r.out, out);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(fs::exists(dir / "vi2_debug.log")) << "tracing must be off by default";
}

// Usage errors exit with 2, failures with 1; either way one line on stderr, nothing on stdout.
TEST_F(HostRunTest, ErrorsExitWithOneLine) {
  WriteBytes(dir / "sites.txt", "a.test\n");
  zztest::WriteListFile(dir / "flipped.cas", zztest::AddRecords({"a.test", "b.test"}));
  zztest::FlipBit(dir / "flipped.cas", 128 + 3, 2);
  zztest::WriteListFile(dir / "corrupt.cas",
                        zztest::AddRecords({"a.test"}) + zztest::LittleEndian32(1));
  const std::string missing = (dir / "nowhere" / "zazozor.mdl").string();
  const std::string notAModule = (HostBinDir() / "libasfn.so").string();
  const std::string hint = " (try 'zazozor --help')\n", level = ": expected off or 0 to 3" + hint;
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
    std::string env = "";
  } cases[] = {
      {{}, 2, "zazozor: no command given" + hint},
      {{"foo"}, 2, "zazozor: unknown command 'foo'" + hint},
      {{"modules", "x"}, 2, "zazozor: unexpected argument 'x' for 'modules' (try 'zazozor modules"},
      {{"--session", "1000", "version"}, 2,
       "zazozor: bad session '1000': expected a number from 0 to 999" + hint},
      {{"--set", "novalue", "version"}, 2, "zazozor: --set needs KEY=VALUE, got 'novalue'" + hint},
      {{"version"}, 2, "zazozor: bad ZAZOZOR_TRACE_LEVEL 'on'" + level, "ZAZOZOR_TRACE_LEVEL=on"},
      {{"--module", missing, "version"}, 1, "zazozor: cannot load module '" + missing + "': "},
      {{"--module", notAModule, "modules"}, 1, "zazozor: module '" + notAModule + "' has no exp"},
      {{"lists", "dump", "flipped.cas"}, 1,
       "zazozor: cannot load 'flipped.cas': ASException - MESSAGE: File CRC does not match with "
       "its stored CRC! [flipped.cas]"},
      {{"lists", "dump", "corrupt.cas"}, 1,
       "zazozor: cannot load 'corrupt.cas': corrupt list file (bad operation code or truncated "
       "record) (status -13)"},
      {{"lists", "build", "sites.txt", "no/such/folder/out.cas"}, 1, "zazozor: cannot write"},
  };
  for (const auto& c : cases) {
    const zztest::HostRun r = Run(c.args, c.env);
    EXPECT_EQ(r.status, c.status) << c.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "") << c.err;
  }
}

// The host traces only when asked (--trace wins over ZAZOZOR_TRACE_LEVEL), from a private
// copy of the binaries, and runs the same without the tracing library. "check" creates
// every filter; its data path points to the build's data.
TEST_F(HostRunTest, TracingOnlyWhenAskedAndItsAbsenceIsSilent) {
  const fs::path copy = dir / "bin";
  fs::create_directories(copy);
  for (const char* file : {"zazozor", "zazozor.mdl", "libasfn.so", "libastracer.so", "libasregex.so"}) {
    fs::copy_file(HostBinDir() / file, copy / file);
  }
  const auto runCheck = [&](std::vector<std::string> args, const std::string& env) {
    fs::remove(dir / "vi2_debug.log");
    args.insert(args.end(), {"--set", "/http/global/SharedDataPath=" +
                                          (HostBinDir() / "data").string(), "check"});
    const zztest::HostRun r = Run(args, env, copy / "zazozor");
    EXPECT_EQ(r.out, CheckOutput("eeee", 0)) << r.err;
    return ReadBytes(dir / "vi2_debug.log");
  };
  EXPECT_EQ(runCheck({}, ""), "");
  EXPECT_EQ(runCheck({"--trace", "off"}, "ZAZOZOR_TRACE_LEVEL=0"), "");
  EXPECT_NE(runCheck({}, "ZAZOZOR_TRACE_LEVEL=0"), "");
  // The line format is the trace test's; here that --trace=3 gives the level 2 lines.
  const std::string log = runCheck({"--trace=3"}, "ZAZOZOR_TRACE_LEVEL=0");
  for (const std::string& name : kFilterNames)
    EXPECT_NE(log.find(" -VI2FW: Creating new module: [" + name + "]\n"), std::string::npos) << log;
  fs::remove(copy / "libastracer.so");
  EXPECT_EQ(runCheck({"--trace", "3"}, ""), "")
      << "the copied module still found a tracing library; its run path must hold $ORIGIN "
         "only (CMAKE_BUILD_RPATH_USE_ORIGIN)";
}

// "mail" and "knn" run in the mail library beside the program: no other command maps GMime
// or GLib, and without the library only those two fail, with one line.
TEST_F(HostRunTest, OnlyMailCommandsNeedTheMailLibrary) {
  const fs::path copy = dir / "bin";
  fs::create_directories(copy);
  for (const char* file : {"zazozor", "libasfn.so"}) fs::copy_file(HostBinDir() / file, copy / file);
  const std::string loaded = Run({"help"}, "LD_TRACE_LOADED_OBJECTS=1", copy / "zazozor").out;
  EXPECT_NE(loaded.find("libasfn.so"), std::string::npos) << loaded;
  for (const char* library : {"libgmime", "libglib", "libgobject"}) {
    EXPECT_EQ(loaded.find(library), std::string::npos) << loaded;
  }
  EXPECT_EQ(Run({"help"}, "", copy / "zazozor").status, 0);
  for (const char* command : {"mail", "knn"}) {
    const zztest::HostRun r = Run({command, "x"}, "", copy / "zazozor");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("zazozor: cannot load the mail library '" +
                              (copy / "libzzmail.so").string() + "': ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// Line 3 is lower-cased and reduced to its site, 4 gives the same key again, 6 and 9 give
// none, 7 has blanks and CR around it, 8 is an indented comment, 10 has no final newline.
TEST_F(HostRunTest, ListsBuildThenDumpGivesSortedUniqueKeys) {
  WriteBytes(dir / "sites.txt",
             "# parental black list\n\nWWW.Sample.Test/x\nhttp://shop.sample.test/\n"
             "http://user@10.1.2.3:81/\n/no/host\n  news.sample.co.uk  \r\n   # indented comment\n"
             "http://\nb.test");
  const zztest::HostRun built = Run({"lists", "build", "sites.txt", "list.cas"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.out, "read 10 lines (3 skipped, 2 without a site key), wrote 4 keys\n");
  EXPECT_EQ(built.err, "zazozor: line 6: no site key\nzazozor: line 9: no site key\n");
  const zztest::HostRun dumped = Run({"lists", "dump", "list.cas"});
  EXPECT_EQ(dumped.status, 0) << dumped.err;
  EXPECT_EQ(dumped.out, "10.1.2.3\nb.test\nsample.co.uk\nsample.test\n");
}

TEST(ParseCommandLineTest, GlobalOptionsStandAnywhereAndKeepTheirOrder) {
  const Invocation inv = ParseCommandLine({"--set", "a=1", "--module=m.mdl", "cmd", "x",
                                           "--session", "12", "--opt", "--set=b=2", "--trace",
                                           "off", "--", "--session", "-"});
  EXPECT_EQ(inv.command, "cmd");
  EXPECT_EQ(inv.options.modulePath, "m.mdl");
  EXPECT_EQ(inv.options.session, 12u);
  EXPECT_EQ(inv.options.traceLevel, "off");
  EXPECT_EQ(inv.options.overrides, (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(inv.args, (std::vector<std::string>{"x", "--opt", "--session", "-"}));
  EXPECT_THROW(ParseCommandLine({"--session", "4294967296"}), UsageError);
  EXPECT_THROW(ParseCommandLine({"--trace", "03"}), UsageError);
}

}  // namespace
}  // namespace zzhost
