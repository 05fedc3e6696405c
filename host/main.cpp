// zazozor: the stand-alone host of the parental filter module (see cli.h).
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
  // Commands may print many lines; a large buffer keeps that to few writes.
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof(buffer));
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return zzhost::RunCli(args, stdout, stderr);
}
