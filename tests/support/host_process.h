// Runs the built host program "zazozor" as a child process for end-to-end tests: arguments,
// optional standard input, extra environment, working folder; captures exit status, stdout
// and stderr. The program is $ZAZOZOR_BIN/zazozor, else the one beside the test program.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/bin_dir.h"

extern char** environ;

namespace zztest {

struct HostRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

inline std::filesystem::path HostBinDir() { return BinDir(); }

inline std::string SlurpFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs zazozor (or program, e.g. a copy elsewhere) with args in folder, which also
// receives the captured streams; env entries (NAME=VALUE) win over the inherited ones.
inline HostRun RunHost(const std::vector<std::string>& args,
                       const std::filesystem::path& folder, const std::string& input = "",
                       const std::vector<std::string>& env = {},
                       const std::filesystem::path& program = {}) {
  namespace fs = std::filesystem;
  const fs::path exe = program.empty() ? HostBinDir() / "zazozor" : program;
  const fs::path inPath = folder / ".stdin", outPath = folder / ".stdout",
                 errPath = folder / ".stderr";
  std::ofstream(inPath, std::ios::binary) << input;
  std::vector<std::string> words{exe.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = env;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  HostRun run;
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  int wstatus = 0;
  if (rc != 0 || waitpid(pid, &wstatus, 0) != pid) return run;
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  run.out = SlurpFile(outPath);
  run.err = SlurpFile(errPath);
  return run;
}

}  // namespace zztest
