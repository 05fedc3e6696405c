// "zazozor lists" end to end: the built host builds a list file from text and dumps it back;
// damaged files and wrong command lines give one line on stderr and exit 1 or 2.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "engines/urldb/list_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class ListsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("ZAZOZOR_BIN");
    exe = (bin != nullptr && *bin != '\0' ? fs::path(bin)
                                          : fs::read_symlink("/proc/self/exe").parent_path()) /
          "zazozor";
    ASSERT_TRUE(fs::exists(exe)) << exe << " is missing; build the 'zazozor' target";
  }

  // Runs "zazozor lists ARGS..." in the scratch folder.
  RunResult Lists(std::vector<std::string> args) {
    args.insert(args.begin(), {exe.string(), "lists"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const fs::path outPath = dir / "stdout", errPath = dir / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.Path().c_str());
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    RunResult result;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    if (rc != 0 || waitpid(pid, &wstatus, 0) != pid) {
      ADD_FAILURE() << "cannot run " << exe;
      return result;
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = zztest::ReadBytes(outPath);
    result.err = zztest::ReadBytes(errPath);
    return result;
  }

  zztest::ScratchDir dir;
  fs::path exe;
};

TEST_F(ListsCommandTest, BuildThenDumpGivesSortedUniqueKeys) {
  zztest::WriteBytes(dir / "sites.txt",
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
  const RunResult built = Lists({"build", "sites.txt", "list.cas"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.out, "read 10 lines (3 skipped, 2 without a site key), wrote 4 keys\n");
  EXPECT_EQ(built.err, "zazozor: line 6: no site key\nzazozor: line 9: no site key\n");

  const RunResult dumped = Lists({"dump", "list.cas"});
  EXPECT_EQ(dumped.status, 0) << dumped.err;
  EXPECT_EQ(dumped.out, "10.1.2.3\nb.test\nsample.co.uk\nsample.test\n");
  EXPECT_EQ(dumped.err, "");
}

TEST_F(ListsCommandTest, DamagedFilesFailWithOneLine) {
  zztest::WriteBytes(dir / "sites.txt", "a.test\nb.test\n");
  ASSERT_EQ(Lists({"build", "sites.txt", "list.cas"}).status, 0);
  const std::string good = zztest::ReadBytes(dir / "list.cas");
  const struct {
    const char* name;
    void (*damage)(const fs::path& file);
    const char* message;
  } cases[] = {
      {"flipped bit after the header",
       [](const fs::path& file) { zztest::FlipBit(file, 128 + 3, 2); },
       "File CRC does not match with its stored CRC!"},
      {"trailing operation code",
       [](const fs::path& file) {
         zztest::WriteListFile(file, zztest::AddRecords({"a.test"}) + zztest::LittleEndian32(1));
       },
       "corrupt list file (bad operation code or truncated record) (status -13)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    zztest::WriteBytes(dir / "list.cas", good);
    c.damage(dir / "list.cas");
    const RunResult dumped = Lists({"dump", "list.cas"});
    EXPECT_EQ(dumped.status, 1);
    EXPECT_EQ(dumped.out, "");
    EXPECT_EQ(dumped.err.rfind("zazozor: cannot load 'list.cas': ", 0), 0u) << dumped.err;
    EXPECT_NE(dumped.err.find(c.message), std::string::npos) << dumped.err;
    EXPECT_EQ(std::count(dumped.err.begin(), dumped.err.end(), '\n'), 1) << dumped.err;
  }
}

TEST_F(ListsCommandTest, BadCommandLinesAndMissingFiles) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{}, 2, "'lists' needs more arguments"},
      {{"dump", "a.cas", "b.cas"}, 2, "'lists dump' needs exactly one FILE.cas"},
      {{"sort", "a.cas"}, 2, "unknown 'lists' action 'sort'"},
      {{"build", "missing.txt", "out.cas"}, 1, "cannot read 'missing.txt'"},
      {{"dump", "missing.cas"}, 1, "cannot read 'missing.cas': no such file"},
      {{"build", "sites.txt", "no/such/folder/out.cas"}, 1, "cannot write"},
  };
  zztest::WriteBytes(dir / "sites.txt", "a.test\n");
  for (const auto& c : cases) {
    const RunResult result = Lists(c.args);
    EXPECT_EQ(result.status, c.status) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
  EXPECT_FALSE(fs::exists(dir / "out.cas"));
}

}  // namespace
