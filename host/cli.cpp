#include "cli.h"

#include <cstdlib>
#include <string_view>

#include "commands.h"
#include "errors.h"
#include "settings.h"

namespace zzhost {

namespace {

// A global option that takes a value: "--name VALUE" or "--name=VALUE". Returns false when
// arg is not this option; raises when the value is missing.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, std::string_view name,
               std::string& value) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) throw UsageError("option '" + std::string(name) + "' needs a value");
    value = args[++i];
    return true;
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

std::uint32_t ParseSession(const std::string& text) {
  const std::optional<std::uint32_t> session = ParseUnsigned32(text);
  if (!session || *session > kMaxSessionId) {
    throw UsageError("bad session '" + text + "': expected a number from 0 to 999");
  }
  return *session;
}

constexpr const char* kTraceLevelVariable = "ZAZOZOR_TRACE_LEVEL";

bool IsTraceLevel(std::string_view text) {
  return text == "off" || (text.size() == 1 && text[0] >= '0' && text[0] <= '3');
}

// One line on err: control characters of a message (a module's text may hold any) become
// blanks.
void ReportLine(std::FILE* err, const std::string& message) {
  std::string line = "zazozor: " + message;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  line += '\n';
  std::fputs(line.c_str(), err);
  std::fflush(err);
}

}  // namespace

Invocation ParseCommandLine(const std::vector<std::string>& args) {
  Invocation invocation;
  GlobalOptions& options = invocation.options;
  bool optionsEnded = false;
  bool separatorSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (!isOption) {
      if (invocation.command.empty()) {
        invocation.command = arg;
      } else {
        invocation.args.push_back(arg);
      }
    } else if (arg == "--") {
      optionsEnded = true;
      separatorSeen = !invocation.command.empty();
      invocation.argsBeforeSeparator = invocation.args.size();
    } else if (arg == "-h" || arg == "--help") {
      invocation.help = true;
    } else if (TakeValue(args, i, "--module", value)) {
      if (value.empty()) throw UsageError("option '--module' needs a path");
      options.modulePath = value;
    } else if (TakeValue(args, i, "--config", value)) {
      if (value.empty()) throw UsageError("option '--config' needs a file");
      options.configFile = value;
    } else if (TakeValue(args, i, "--set", value)) {
      options.overrides.push_back(value);
    } else if (TakeValue(args, i, "--session", value)) {
      options.session = ParseSession(value);
    } else if (TakeValue(args, i, "--trace", value)) {
      if (!IsTraceLevel(value)) {
        throw UsageError("bad trace level '" + value + "': expected off or 0 to 3");
      }
      options.traceLevel = value;
    } else if (!invocation.command.empty()) {
      invocation.args.push_back(arg);  // the command's own option; it decides
    } else {
      throw UsageError("unknown option '" + arg + "'");
    }
  }
  if (!separatorSeen) invocation.argsBeforeSeparator = invocation.args.size();
  return invocation;
}

void ApplyTraceLevel(const GlobalOptions& options) {
  if (!options.traceLevel.empty()) {
    ::setenv(kTraceLevelVariable, options.traceLevel.c_str(), 1);
    return;
  }
  const char* level = std::getenv(kTraceLevelVariable);
  if (level == nullptr || *level == '\0') {
    ::setenv(kTraceLevelVariable, "off", 1);
  } else if (!IsTraceLevel(level)) {
    throw UsageError(std::string("bad ") + kTraceLevelVariable + " '" + level +
                     "': expected off or 0 to 3");
  }
}

std::string GlobalHelp() {
  std::string text =
      "Usage: zazozor [OPTIONS] COMMAND [ARGS]\n"
      "\n"
      "Loads the parental filter module zazozor.mdl and drives its filters the way the\n"
      "host framework does.\n"
      "\n"
      "Commands:\n";
  for (const CommandSpec& command : Commands()) {
    std::string left = "  " + std::string(command.name);
    if (!command.usage.empty()) left += " " + std::string(command.usage);
    if (left.size() < 20) left.resize(20, ' ');
    else left += "  ";
    text += left + std::string(command.summary) + "\n";
  }
  text +=
      "\n"
      "Options (before or after the command):\n"
      "  --module PATH     the module file (default: zazozor.mdl next to this program)\n"
      "  --config FILE     settings file (default: built-in settings, all filters on, data\n"
      "                    from the 'data' folder next to this program)\n"
      "  --set KEY=VALUE   set KEY for every session, after the settings file (repeatable)\n"
      "  --session N       the session to open and process in, 0 to 999 (default 0)\n"
      "  --trace LEVEL     write the module's trace lines of levels 0 to LEVEL (0 to 3, or\n"
      "                    off) to vi2_debug.log (default: $ZAZOZOR_TRACE_LEVEL, else off)\n"
      "  -h, --help        show this help, or with a command that command's help\n"
      "\n"
      "Settings file (UTF-8): one 'KEY = VALUE' per line; '#' starts a comment line;\n"
      "a line '[session N]' starts values for session N only. Relative values of\n"
      "/http/global/SharedDataPath, GlobalTempPath and SharedLibsPath are taken relative\n"
      "to the settings file's folder (to the working folder with --set).\n"
      "\n"
      "Exit status: 0 success, 1 failure, 2 usage error.\n";
  return text;
}

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  try {
    Invocation invocation = ParseCommandLine(args);
    ApplyTraceLevel(invocation.options);
    const CommandSpec* command = nullptr;
    if (!invocation.command.empty()) {
      command = FindCommand(invocation.command);
      if (command == nullptr) {
        throw UsageError("unknown command '" + invocation.command + "'");
      }
    }
    if (invocation.help || command == nullptr) {
      if (command == nullptr && !invocation.help) throw UsageError("no command given");
      std::fputs(command != nullptr ? CommandHelp(*command).c_str() : GlobalHelp().c_str(), out);
      if (std::fflush(out) != 0) throw HostError("cannot write the output");
      return 0;
    }
    CommandContext context(invocation, out);
    if (command->name != "help") context.Settings();  // a bad settings file fails every command
    const int status = command->run(context);
    context.Shutdown();
    if (std::fflush(out) != 0) throw HostError("cannot write the output");
    return status;
  } catch (const UsageError& e) {
    std::fflush(out);
    const std::string helpOf = e.HintCommand().empty() ? "zazozor --help"
                                                       : "zazozor " + e.HintCommand() + " --help";
    ReportLine(err, std::string(e.what()) + " (try '" + helpOf + "')");
    return 2;
  } catch (const std::exception& e) {
    std::fflush(out);
    ReportLine(err, e.what());
    return 1;
  }
}

}  // namespace zzhost
