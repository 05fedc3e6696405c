// The host's command line: global options, the command and its arguments, and the driver
// that runs a command and turns errors into exit statuses.
//
//   zazozor [--module PATH] [--config FILE] [--set KEY=VALUE]... [--session N]
//           [--trace LEVEL] COMMAND [ARGS]
//
// Global options may stand before or after the command; "--" ends option parsing. Exit
// status: 0 success, 1 failure, 2 usage error, with one line on stderr for 1 and 2.
// Single-threaded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zzhost {

struct GlobalOptions {
  std::string modulePath;              // empty: zazozor.mdl next to the executable
  std::string configFile;              // empty: the embedded default settings
  std::vector<std::string> overrides;  // "--set" values in command-line order
  std::uint32_t session = 0;
  std::string traceLevel;              // "off" or "0" to "3"; empty: not given
};

struct Invocation {
  GlobalOptions options;
  std::string command;            // empty when none was given
  std::vector<std::string> args;  // everything after the command that is no global option
  // How many of args came before a "--" that followed the command ("rules test RULES --
  // PAGES"); args.size() when there was none.
  std::size_t argsBeforeSeparator = 0;
  bool help = false;              // -h or --help seen
};

// Parses the arguments after the program name. Throws UsageError.
Invocation ParseCommandLine(const std::vector<std::string>& args);

// Hands the trace level to the tracing library, which reads ZAZOZOR_TRACE_LEVEL when the
// module starts tracing: --trace wins over the variable, and without either tracing is off.
// Throws UsageError when the variable holds something else than "off" or 0 to 3.
void ApplyTraceLevel(const GlobalOptions& options);

// Parses, runs the command and reports errors: one line "zazozor: ..." on err.
// Returns the exit status.
int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The global help text.
std::string GlobalHelp();

}  // namespace zzhost
