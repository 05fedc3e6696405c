#include "commands.h"

#include <filesystem>

#include "errors.h"
#include "exe_path.h"

namespace zzhost {

int RunLists(CommandContext& context);  // cmd_lists.cpp
int RunUrlCommand(CommandContext& context);   // cmd_urls.cpp
int RunUrlsCommand(CommandContext& context);  // cmd_urls.cpp

CommandContext::~CommandContext() {
  m_host.reset();  // the module goes first; its filters point to the settings
}

void CommandContext::ExpectArgs(std::size_t min, std::size_t max) const {
  const std::vector<std::string>& args = Args();
  for (const std::string& arg : args) {
    if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "' for '" + CommandName() + "'", CommandName());
    }
  }
  if (args.size() < min) {
    throw UsageError("'" + CommandName() + "' needs more arguments", CommandName());
  }
  if (args.size() > max) {
    throw UsageError("unexpected argument '" + args[max] + "' for '" + CommandName() + "'",
                     CommandName());
  }
}

CHostSettings& CommandContext::Settings() {
  if (!m_settings) {
    auto settings = std::make_unique<CHostSettings>();
    const GlobalOptions& options = Options();
    if (!options.configFile.empty()) {
      settings->LoadFile(options.configFile);
    } else {
      settings->LoadDefaults(ExecutableDir(), TempDir());
    }
    std::error_code ec;
    const std::string workDir = std::filesystem::current_path(ec).string();
    for (const std::string& assignment : options.overrides) {
      settings->ApplyOverride(assignment, workDir);
    }
    m_settings = std::move(settings);
  }
  return *m_settings;
}

CModuleHost& CommandContext::Host() {
  if (!m_host) {
    const std::string& given = Options().modulePath;
    const std::string path =
        given.empty() ? ExecutableDir() + "/zazozor.mdl" : AbsolutePath(given);
    m_host = std::make_unique<CModuleHost>(path);
  }
  return *m_host;
}

CModuleHost& CommandContext::OpenAllFilters() {
  CHostSettings& settings = Settings();
  CModuleHost& host = Host();
  if (host.FilterCount() == 0) {
    host.AddAllFilters(settings);
    host.OpenSession(Options().session);
  }
  return host;
}

void CommandContext::Shutdown() {
  if (m_host) {
    std::unique_ptr<CModuleHost> host = std::move(m_host);
    host->Shutdown();
  }
}

namespace {

int RunVersion(CommandContext& context) {
  context.ExpectArgs(0, 0);
  const std::string text = context.Host().GetVersion().ToString() + "\n";
  std::fputs(text.c_str(), context.Out());
  return 0;
}

int RunModules(CommandContext& context) {
  context.ExpectArgs(0, 0);
  for (const std::string& name : context.Host().AllocatorNames()) {
    std::fputs(name.c_str(), context.Out());
    std::fputc('\n', context.Out());
  }
  return 0;
}

int RunCheck(CommandContext& context) {
  context.ExpectArgs(0, 0);
  CModuleHost& host = context.OpenAllFilters();
  const std::uint32_t session = context.Options().session;
  for (std::size_t i = 0; i < host.FilterCount(); ++i) {
    HostedFilter& hosted = host.FilterAt(i);
    const unsigned code = CModuleHost::Call(hosted.name + ": GetFilterCode",
                                            [&] { return hosted.filter->GetFilterCode(); });
    std::fprintf(context.Out(), "%s: filter code %u, %s for session %u\n", hosted.name.c_str(),
                 code, hosted.IsActive(session) ? "enabled" : "disabled",
                 static_cast<unsigned>(session));
  }
  return 0;
}

int RunHelp(CommandContext& context) {
  context.ExpectArgs(0, 1);
  if (context.Args().empty()) {
    std::fputs(GlobalHelp().c_str(), context.Out());
    return 0;
  }
  const CommandSpec* command = FindCommand(context.Args()[0]);
  if (command == nullptr) {
    throw UsageError("unknown command '" + context.Args()[0] + "'");
  }
  std::fputs(CommandHelp(*command).c_str(), context.Out());
  return 0;
}

constexpr CommandSpec kCommands[] = {
    {"version", "", "print the module's version (major.minor.build)",
     "Loads the module and prints the version its GetASVersion reports.", RunVersion},
    {"modules", "", "list the filters the module's class factory offers",
     "Prints the display name of each allocator of the class factory, one per line,\n"
     "in the factory's order.",
     RunModules},
    {"check", "", "create every filter, open the session and report each filter",
     "Creates one filter per allocator, gives it the settings, loads its shared data,\n"
     "opens the session chosen with --session and prints, per filter, its display name,\n"
     "its filter code and whether it is enabled for the session; then tears everything\n"
     "down in the framework's order. A quick way to test settings and data files.",
     RunCheck},
    {"lists", "build TEXT OUT.cas | dump FILE.cas", "build or dump a URL list file",
     "build: reads sites or URLs from TEXT, one per line ('#' comment lines and blank\n"
     "lines skipped), lower-cases each line, reduces it to its site key (registrable\n"
     "domain or IPv4 address) and writes every key once into the list file OUT.cas.\n"
     "Prints how many lines it read and how many keys it wrote; the numbers of lines\n"
     "that give no key go to stderr.\n"
     "dump: prints the keys of a list file, one per line, in ascending byte order.\n"
     "Neither needs the module.",
     RunLists},
    {"url", "URL...", "show how each URL is cut into the pieces the lists look up",
     "Prints one JSON line per URL: the escaped URL and its lower-case path piece, host and\n"
     "domain (null when absent), or \"error\" with the parser's status.",
     RunUrlCommand},
    {"urls", "[FILE]", "run the list filters over URLs, one per line",
     "Reads request lines from FILE (standard input when absent or '-'); the first\n"
     "blank-separated field of each line is the URL, blank lines are skipped. Each URL\n"
     "becomes an item that every list filter active for the session processes; one JSON\n"
     "line per URL says whether it is on the white or the black list (\"list\": null when\n"
     "on neither).",
     RunUrlsCommand},
    {"help", "[COMMAND]", "show this help, or the help of one command", "", RunHelp},
};

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }

const CommandSpec* FindCommand(std::string_view name) {
  for (const CommandSpec& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::string CommandHelp(const CommandSpec& command) {
  std::string text = "Usage: zazozor [OPTIONS] ";
  text.append(command.name);
  if (!command.usage.empty()) text.append(" ").append(command.usage);
  std::string summary(command.summary);
  if (!summary.empty() && summary[0] >= 'a' && summary[0] <= 'z') summary[0] -= 'a' - 'A';
  text.append("\n\n").append(summary).append(".\n");
  if (!command.details.empty()) text.append("\n").append(command.details).append("\n");
  text.append("\nRun 'zazozor --help' for the global options.\n");
  return text;
}

}  // namespace zzhost
