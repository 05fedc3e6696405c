// Runs the built host program "zazozor" as a child process for end-to-end tests: arguments,
// optional standard input, extra environment, working folder; captures exit status, stdout
// and stderr. The program is $ZAZOZOR_BIN/zazozor, else the one beside the test program.
// The child starts through /bin/sh with every word quoted; one run at a time per folder.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/bin_dir.h"
#include "support/scratch_dir.h"

namespace zztest {

struct HostRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

inline std::filesystem::path HostBinDir() { return BinDir(); }
inline std::string SlurpFile(const std::filesystem::path& path) { return ReadBytes(path); }

// The word in single quotes for /bin/sh.
inline std::string ShellWord(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs zazozor (or program, e.g. a copy elsewhere) with args in folder, which also
// receives the captured streams; env entries (NAME=VALUE) win over the inherited ones, and
// the first entry of a name over later ones.
inline HostRun RunHost(const std::vector<std::string>& args, const std::filesystem::path& folder,
                       const std::string& input = "", const std::vector<std::string>& env = {},
                       const std::filesystem::path& program = {}) {
  WriteBytes(folder / ".stdin", input);
  std::string command = "cd " + ShellWord(folder.string()) + " && exec env";
  // env sets its assignments in order, so the first entry of a name goes last and wins.
  for (auto entry = env.rbegin(); entry != env.rend(); ++entry) command += " " + ShellWord(*entry);
  command += " " + ShellWord((program.empty() ? BinDir() / "zazozor" : program).string());
  for (const std::string& arg : args) command += " " + ShellWord(arg);
  const int wstatus = std::system((command + " <.stdin >.stdout 2>.stderr").c_str());
  HostRun run;
  if (wstatus == -1) return run;
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  run.out = ReadBytes(folder / ".stdout");
  run.err = ReadBytes(folder / ".stderr");
  return run;
}

}  // namespace zztest
