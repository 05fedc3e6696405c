// The host's commands: one table that names each command, its help and its function.
// A new command is one function and one row in kCommands (commands.cpp).
//
// CommandContext carries what a command may use: the parsed options, its arguments, the
// output stream, and the settings and module host, built on first use and torn down when
// the context ends (the host before the settings it points to). Single-threaded.
#pragma once

#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "module_host.h"
#include "settings.h"

namespace zzhost {

class CommandContext {
 public:
  CommandContext(const Invocation& invocation, std::FILE* out)
      : m_invocation(invocation), m_out(out) {}
  ~CommandContext();
  CommandContext(const CommandContext&) = delete;
  CommandContext& operator=(const CommandContext&) = delete;

  const GlobalOptions& Options() const { return m_invocation.options; }
  const std::string& CommandName() const { return m_invocation.command; }
  const std::vector<std::string>& Args() const { return m_invocation.args; }
  // How many arguments came before a "--" (all of them without one).
  std::size_t ArgsBeforeSeparator() const { return m_invocation.argsBeforeSeparator; }
  std::FILE* Out() const { return m_out; }

  // UsageError unless the command got between min and max positional arguments and no
  // option it does not know.
  void ExpectArgs(std::size_t min, std::size_t max) const;

  // The settings from --config (or the embedded defaults) and --set. HostError/UsageError.
  CHostSettings& Settings();
  // The module, loaded on first use.
  CModuleHost& Host();
  // Every filter of the factory created and loaded, and the chosen session opened.
  CModuleHost& OpenAllFilters();
  // As OpenAllFilters, keeping only the filters enabled for the chosen session (the
  // others' data files are not needed).
  // With only given, just the filters of those names (the others' data is not loaded).
  CModuleHost& OpenEnabledFilters(const std::u16string_view* only = nullptr,
                                  std::size_t count = 0);
  // Tears the module down now, reporting failures (HostError).
  void Shutdown();

 private:
  const Invocation& m_invocation;
  std::FILE* m_out;
  std::unique_ptr<CHostSettings> m_settings;  // declared before m_host: outlives it
  std::unique_ptr<CModuleHost> m_host;
};

struct CommandSpec {
  std::string_view name;
  std::string_view usage;    // arguments after the name, e.g. "[FILE]"
  std::string_view summary;  // one line for the command list
  std::string_view details;  // further help text, may be empty
  int (*run)(CommandContext& context);
};

std::span<const CommandSpec> Commands();
const CommandSpec* FindCommand(std::string_view name);
// The help text of one command.
std::string CommandHelp(const CommandSpec& command);

}  // namespace zzhost
