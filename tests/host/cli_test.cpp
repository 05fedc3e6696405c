// The host end to end: runs the built zazozor as a child process and checks its output,
// exit status and trace log; plus the command-line parser and the error conversion.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "errors.h"

extern char** environ;

namespace zzhost {
namespace {

namespace fs = std::filesystem;

const char* const kFilterNames[] = {
    "Http Parental Bayesian Filter",
    "Http Parental BWList Filter",
    "Http Parental BWList Advanced Filter",
    "Http Parental Signatures Filter",
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

fs::path BinDir() {
  if (const char* bin = std::getenv("ZAZOZOR_BIN"); bin != nullptr && *bin != '\0') return bin;
  return fs::read_symlink("/proc/self/exe").parent_path();  // the tests sit beside the host
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class HostRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zz_host_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    tmp = pattern;
    traceDir = tmp / "trace";
    fs::create_directories(traceDir);
    exe = BinDir() / "zazozor";
    ASSERT_TRUE(fs::exists(exe)) << exe << " is missing; build the 'zazozor' target";
  }
  void TearDown() override { fs::remove_all(tmp); }

  // Runs program with args, its trace log going to logDir (default traceDir); stdout and
  // stderr go through files in the temp folder.
  RunResult Run(const std::vector<std::string>& args) { return RunProgram(exe, args, traceDir); }
  RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                       const fs::path& logDir) {
    setenv("ZAZOZOR_TRACE_DIR", logDir.c_str(), 1);  // the child inherits the environment
    std::vector<std::string> argText = {program.string()};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argText) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const fs::path outPath = tmp / "stdout", errPath = tmp / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), kFlags, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), kFlags, 0644);
    pid_t pid = 0;
    RunResult result;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    if (rc != 0 || waitpid(pid, &wstatus, 0) != pid) {
      ADD_FAILURE() << "cannot run " << program << ": " << rc;
      return result;
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
  }

  fs::path WriteConfig(const std::string& text) {
    const fs::path path = tmp / "zazozor.conf";
    std::ofstream(path) << text;
    return path;
  }

  std::string ExpectedModules() {
    std::string text;
    for (const char* name : kFilterNames) text += std::string(name) + "\n";
    return text;
  }

  fs::path tmp;
  fs::path traceDir;
  fs::path exe;
};

TEST_F(HostRunTest, VersionAndModulesPrintWhatTheModuleReports) {
  RunResult r = Run({"version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2.8.32\n");
  EXPECT_EQ(r.err, "");
  r = Run({"modules"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ExpectedModules());
  EXPECT_EQ(r.err, "");
}

TEST_F(HostRunTest, CheckCreatesEveryFilterAndReportsItsState) {
  const RunResult r = Run({"check"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Http Parental Bayesian Filter: filter code 100, enabled for session 0\n"
            "Http Parental BWList Filter: filter code 102, enabled for session 0\n"
            "Http Parental BWList Advanced Filter: filter code 102, enabled for session 0\n"
            "Http Parental Signatures Filter: filter code 100, enabled for session 0\n");
}

TEST_F(HostRunTest, EnableFlagsComeFromTheSessionsSettings) {
  // Without the defaults the advanced filter is off unless the shared flag is on; the
  // signatures filter follows the BW list filter's key.
  const fs::path config = WriteConfig(
      "/http/global/SharedDataPath = " + (BinDir() / "data").string() + "\n"
      "[session 7]\n"
      "/http/global/AllParentalFiltersEnabled = 1\n"
      "/http/filter/parentalbwlist/Enabled = 0\n"
      "/http/filter/bayes/Enabled = 2\n");
  RunResult r = Run({"--config", config.string(), "check"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Http Parental Bayesian Filter: filter code 100, enabled for session 0\n"
            "Http Parental BWList Filter: filter code 102, enabled for session 0\n"
            "Http Parental BWList Advanced Filter: filter code 102, disabled for session 0\n"
            "Http Parental Signatures Filter: filter code 100, enabled for session 0\n");

  // Session 7: own flags of 0 or 2 are not "on", and --set turns the shared flag off.
  r = Run({"--config", config.string(), "--session", "7", "--set",
           "/http/global/AllParentalFiltersEnabled=0", "check"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Http Parental Bayesian Filter: filter code 100, disabled for session 7\n"
            "Http Parental BWList Filter: filter code 102, disabled for session 7\n"
            "Http Parental BWList Advanced Filter: filter code 102, disabled for session 7\n"
            "Http Parental Signatures Filter: filter code 100, disabled for session 7\n");
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
      {{"--session=", "version"},
       "zazozor: bad session '': expected a number from 0 to 999 (try 'zazozor --help')\n"},
      {{"--set", "novalue", "version"},
       "zazozor: --set needs KEY=VALUE, got 'novalue' (try 'zazozor --help')\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.args);
    const std::string label = c.args.empty() ? "(no args)" : c.args[0];
    EXPECT_EQ(r.status, 2) << label;
    EXPECT_EQ(r.err, c.err) << label;
    EXPECT_EQ(r.out, "") << label;
  }
}

TEST_F(HostRunTest, FailuresExitWithOneAndOneLine) {
  const fs::path badConfig = WriteConfig("/a = 1\n\n[session 12\n");
  const std::string missing = (tmp / "nowhere" / "zazozor.mdl").string();
  const std::string notAModule = (BinDir() / "libasfn.so").string();
  const struct {
    std::vector<std::string> args;
    std::string errStart;
  } cases[] = {
      {{"--module", missing, "version"}, "zazozor: cannot load module '" + missing + "': "},
      {{"--module", notAModule, "modules"},
       "zazozor: module '" + notAModule + "' has no export 'GetASVersion': "},
      {{"--config", (tmp / "none.conf").string(), "modules"},
       "zazozor: cannot read settings file '" + (tmp / "none.conf").string() + "': "},
      {{"--config", badConfig.string(), "check"},
       "zazozor: " + badConfig.string() + ":3: bad section header '[session 12'"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.errStart;
    EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(HostRunTest, HelpGoesToStdout) {
  RunResult r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: zazozor [OPTIONS] COMMAND [ARGS]\n", 0), 0u);
  EXPECT_EQ(r.err, "");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"modules", "--help"},
                                               {"-h", "modules"}, {"help", "modules"}}) {
    r = Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: zazozor [OPTIONS] modules\n", 0), 0u) << r.out;
  }
}

// The trace log of host runs in a private copy of the binaries, with and without the
// tracing library. "check" creates every filter; its data path points to the build's data.
TEST_F(HostRunTest, TracingLibraryWritesTheFrameworkLinesAndItsAbsenceIsSilent) {
  const fs::path copy = tmp / "bin";
  fs::create_directories(copy);
  for (const char* file : {"zazozor", "zazozor.mdl", "libasfn.so", "libastracer.so"}) {
    fs::copy_file(BinDir() / file, copy / file);
  }
  const std::vector<std::string> checkArgs = {
      "--set", "/http/global/SharedDataPath=" + (BinDir() / "data").string(), "check"};
  const RunResult modules = RunProgram(copy / "zazozor", {"modules"}, tmp);
  EXPECT_EQ(modules.status, 0);
  EXPECT_EQ(modules.out, ExpectedModules());
  const RunResult check = RunProgram(copy / "zazozor", checkArgs, tmp);
  EXPECT_EQ(check.status, 0) << check.err;

  const std::string log = ReadFile(tmp / "vi2_debug.log");
  ASSERT_FALSE(log.empty()) << "no vi2_debug.log in " << tmp;
  // Lines of the form "[VEVOZOVI]" + 11 blanks + "FILE.cpp:LINE -" + text, with this text.
  const auto count = [&](const std::string& text) {
    const std::string head = "[VEVOZOVI]" + std::string(11, ' ');
    std::size_t n = 0;
    for (const std::string& line : Lines(log)) {
      const std::size_t colon = line.find(':'), dash = line.find(" -", head.size());
      const bool form = line.rfind(head, 0) == 0 && colon != std::string::npos &&
                        dash != std::string::npos && colon < dash && colon > head.size() &&
                        line[head.size()] != ' ' && dash > colon + 1 &&
                        line.find_first_not_of("0123456789", colon + 1) == dash;
      n += form && line.compare(dash + 2, std::string::npos, text) == 0 ? 1 : 0;
    }
    return n;
  };
  for (const char* name : kFilterNames) {
    EXPECT_EQ(count(std::string("VI2FW: Creating new module: [") + name + "]"), 1u)
        << name << "\n" << log;
  }
  for (std::string cls : {"BWList", "BWList Advanced", "Signatures"}) {
    EXPECT_EQ(count("Constructing Parental " + cls + " Filter with name Http Parental " + cls +
                    " Filter"),
              1u)
        << cls << "\n" << log;
  }
  EXPECT_EQ(count("Releasing CHTTPFClassFactory"), 2u) << log;  // once per run

  // Without the tracing library the host behaves the same and writes no log.
  fs::remove(copy / "libastracer.so");
  EXPECT_EQ(RunProgram(copy / "zazozor", {"modules"}, traceDir).out, modules.out);
  const RunResult quietCheck = RunProgram(copy / "zazozor", checkArgs, traceDir);
  EXPECT_EQ(quietCheck.status, 0) << quietCheck.err;
  EXPECT_EQ(quietCheck.out, check.out);
  EXPECT_FALSE(fs::exists(traceDir / "vi2_debug.log"))
      << "the copied module still found a tracing library; its run path must hold $ORIGIN "
         "only (CMAKE_BUILD_RPATH_USE_ORIGIN)";
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
  EXPECT_THROW(ParseCommandLine({"--config"}), UsageError);
  EXPECT_THROW(ParseCommandLine({"--config="}), UsageError);
  EXPECT_THROW(ParseCommandLine({"--session", "4294967296"}), UsageError);
}

}  // namespace
}  // namespace zzhost
