#include "commands.h"

#include <filesystem>

#include "errors.h"
#include "exe_path.h"

namespace zzhost {

int RunLists(CommandContext& context);  // cmd_lists.cpp
int RunCategories(CommandContext& context);  // cmd_categories.cpp
int RunFilterCommand(CommandContext& context);  // cmd_filter.cpp
int RunPageCommand(CommandContext& context);    // cmd_page.cpp
int RunBayesCommand(CommandContext& context);   // cmd_bayes.cpp
int RunUrlCommand(CommandContext& context);   // cmd_urls.cpp
int RunUrlsCommand(CommandContext& context);  // cmd_urls.cpp
int RunRules(CommandContext& context);        // cmd_rules.cpp
int RunSquidCommand(CommandContext& context);  // cmd_squid.cpp
// "mail" and "knn": cmd_mail.cpp and cmd_knn.cpp, run in the mail library (mail_library.h).
int RunMailLibraryCommand(CommandContext& context);

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
      // The libraries the module loads (the regular-expression library) live beside the
      // host unless the file says otherwise.
      if (settings->GetStringValue(u"/http/global/SharedLibsPath") == nullptr) {
        settings->ApplyOverride(std::string(kSharedLibsPathKey) + "=" + ExecutableDir(), "");
      }
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

CModuleHost& CommandContext::OpenEnabledFilters(const std::u16string_view* only,
                                                std::size_t count) {
  CHostSettings& settings = Settings();
  CModuleHost& host = Host();
  if (host.FilterCount() == 0) {
    host.AddAllFilters(settings, Options().session, only, count);
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
    {"categories", "build TEXT OUT.dat [--log LOG] | check FILE.dat URL...",
     "build a category file or check URLs against one",
     "build: reads URLs from TEXT, one per line, and writes the digest keys of each URL's\n"
     "lower-case address (path piece), host and domain into the category file OUT.dat,\n"
     "each key once. Prints how many address, subdomain and domain keys the file holds.\n"
     "With --log, LOG receives every key with its line, piece and digest, and every line\n"
     "that does not parse ('errorconv').\n"
     "check: loads FILE.dat and prints one JSON line per URL: whether its address, host\n"
     "and domain are listed (\"url_hit\", \"subdomain_hit\", \"domain_hit\").\n"
     "Neither needs the module.",
     RunCategories},
    {"url", "URL...", "show how each URL is cut into the pieces the lists look up",
     "Prints one JSON line per URL: the escaped URL and its lower-case path piece, host and\n"
     "domain (null when absent), or \"error\" with the parser's status.",
     RunUrlCommand},
    {"urls", "[--threads N] [FILE]", "run the list filters over URLs, one per line",
     "Reads request lines from FILE (standard input when absent or '-'); the first\n"
     "blank-separated field of each line is the URL, blank lines are skipped. Each URL\n"
     "becomes an item that every list filter active for the session processes; one JSON\n"
     "line per URL says whether it is on the white or the black list (\"list\": null when\n"
     "on neither), which category lists it is on (\"categories\": the lists' names in the\n"
     "advanced filter's order, \"White\" included; null when that filter is not active)\n"
     "and the advanced filter's summary flag (\"flag\": 0 or 1, null when not written).\n"
     "--threads N answers on N threads (default: the number of cores); the lines still\n"
     "come out in input order.",
     RunUrlsCommand},
    {"filter", "[--url URL] [--text] [--no-hits] FILE...", "run every active filter over whole pages",
     "Reads each FILE as a page as received and decodes it (a byte-order mark, else a\n"
     "charset named by a <meta> tag in the first 8 KB, else UTF-8 when valid, else\n"
     "windows-1252), parses it and fills an item the way the host framework does: page\n"
     "text and raw content in wide, UTF-8 and lower-case forms, content size, parser, URL\n"
     "(--url, else file:// and the file's absolute path) and the Bayes threshold\n"
     "(/http/filter/bayes/Threshold, default 50). Every filter active for the session\n"
     "processes the item; one JSON line per page gives \"list\", \"categories\" and\n"
     "\"flag\" as \"urls\" does, \"bayes\" (the Bayes filter's category and score, null\n"
     "when it wrote none), \"signature\" (the signatures filter's category, score and\n"
     "deciding rule, with every rule that hit, null when no rule hit; listing the hits\n"
     "runs the rules once more in the host for a caught page: --no-hits leaves it out,\n"
     "\"hits\": null), and under \"item\" and \"bbext\" every key a filter wrote\n"
     "(numbers as numbers, texts as strings). --text prints a readable block instead.\n"
     "A file that cannot be read is reported on stderr and the others still run; the\n"
     "exit status is then 1.",
     RunFilterCommand},
    {"page", "FILE", "show what the filters see of a page",
     "Prints one JSON object: the charset the page was decoded with, its page text, the\n"
     "decoded addresses of its links (null for a link without one), the src values of\n"
     "its images and the name, http-equiv and content of its meta tags (null when\n"
     "absent), all in document order. Needs no module.",
     RunPageCommand},
    {"bayes",
     "categories|train|print|prune|convert ...",
     "train and maintain the Bayes dictionary of the data folder",
     "Drives the module's Bayes filter against the dictionary of the settings' data folder\n"
     "(pcdic.dat when it is not empty, else bayescsf.dat); changes are written back to it\n"
     "when the command ends.\n"
     "\n"
     "  bayes categories NAME:LEVEL...\n"
     "  bayes train CATEGORY FILE...\n"
     "  bayes print OUT\n"
     "  bayes prune LIMIT [--mode 0|1]\n"
     "  bayes convert TEXT OUT\n"
     "\n"
     "categories: adds categories, each NAME:LEVEL (level 0 is reported as \"white\",\n"
     "higher levels are stricter).\n"
     "train: reads each FILE as a page, as 'filter' does, and trains its words into\n"
     "CATEGORY, which the dictionary must have. A progress line goes to stderr on a\n"
     "terminal. A file that cannot be read is reported and the others still train.\n"
     "print: writes a readable listing of the categories and every word to OUT.\n"
     "prune: rewrites the dictionary without the words seen at most LIMIT times in all\n"
     "(mode 0, the default) or at most LIMIT times in a single category and never in\n"
     "another (mode 1).\n"
     "convert: builds the dictionary file OUT from TEXT, lines 'word;teens;adult;kidz' of\n"
     "counts for the three fixed categories teens (level 2), adult (3) and kidz (1).",
     RunBayesCommand},
    {"rules", "check FILE... | dump FILE... | test [--url URL] RULES... -- PAGE...",
     "check rule files, dump the rules they define, or test them on pages",
     "check: parses each rule file ('-' for standard input) as the signatures engine does\n"
     "and prints every problem as FILE:LINE: message, then one line per file: the rules\n"
     "committed, the rules discarded for errors and the rule names replaced by a later\n"
     "rule of the same name. The exit status is 1 when a rule was discarded, the parser\n"
     "reported an error (text outside rules, an unclosed comment) or a file could not be\n"
     "read.\n"
     "dump: prints one JSON line per committed rule, in commit order: its name, kind\n"
     "(\"rule\" or \"metarule\") and its condition, actions and metadata with their\n"
     "generic and specific type codes and keyed values (expressions as nested operator\n"
     "objects). Problems go to stderr as FILE:LINE: message.\n"
     "test: loads the RULES files (instead of the data folder's) and runs them over each\n"
     "PAGE as the signatures filter does (pages read as 'filter' reads them, with the\n"
     "address --url or file://PATH); prints per page the verdict and every rule that ran,\n"
     "with its result and what its condition matched (the element and the matched text,\n"
     "cut to 80 bytes, or the heuristic and its value).\n"
     "None of them needs the module.",
     RunRules},
    {"mail", "[--explain | --no-rules] [--rules FILE]... FILE...",
     "run the mail rules over messages",
     "Reads each FILE as one message (.eml) or an mbox ('-' for standard input), parses\n"
     "every message into the rule engine's mail item (headers decoded, parts tree with\n"
     "the decoded texts, link targets and layout summaries, header signature) and runs the\n"
     "data folder's mail rules (mail*.slf), or the --rules files instead, with a mail\n"
     "context. Prints one JSON line per message: source, message_id, subject, headers\n"
     "(the header signature), parts (kind, type, name, size, summary), signature (the\n"
     "verdict: category, score, rule, hits; null when no rule hit) and changed_headers\n"
     "(the header lines the rules added or changed). --explain prints, like 'rules test',\n"
     "every rule that ran on each message with what it matched; --no-rules only parses.\n"
     "A message that cannot be read is reported on stderr and the others go on.",
     RunMailLibraryCommand},
    {"squid",
     "--mode acl|rewrite [--workers N] [--concurrency auto|on|off] [--block-url URL]",
     "answer Squid's URL helper requests with the list filters",
     "Speaks Squid's helper protocol on standard input and output. Each request line is\n"
     "[CHANNEL] URL [CLIENT [USER]]: with --mode acl an external ACL with the format\n"
     "\"%URI %SRC %un\" (answers OK message=... tag=... site=... when the URL is blocked,\n"
     "ERR when not: use it in \"http_access deny\"); with --mode rewrite a\n"
     "url_rewrite_program (answers OK status=302 url=BLOCK-URL?reason=..&site=..&url=..\n"
     "&session=.. to block, ERR to pass; --block-url defaults to\n"
     "http://localhost/zazozor/blocked). --concurrency on: every line starts with a\n"
     "channel ID (squid.conf concurrency=N above 0) and answers come as they are ready;\n"
     "off: no IDs, answers in request order; auto (the default): the first line tells.\n"
     "--workers N decides on N threads (default: the number of cores). Settings lines\n"
     "squid.session.user.NAME = N and squid.session.ADDRESS[/BITS] = N choose the session\n"
     "by user name, else by the client's address (longest prefix), else --session.\n"
     "A malformed line is answered BH message=...; SIGHUP reloads the lists; end of\n"
     "input ends the helper once every line read is answered.",
     RunSquidCommand},
    {"knn",
     "train --features FILE CATEGORY=DIR... [--out DIR] [--seed N] [--dump-features FILE]"
     " | classify [--model DIR] FILE... | eval [--model DIR] CATEGORY=DIR...",
     "train a KNN model from labelled folders of messages and check it",
     "train: measures every message of each DIR (an .eml file or an mbox; .html/.htm files\n"
     "are read as pages) with the feature definitions of FILE (the vi2features.dat format),\n"
     "builds the clusters and writes vi2features.dat, vi2clusters.dat and vi2labels.dat\n"
     "(each cluster's name, the category most of its training items came from and their\n"
     "count) into --out (default: the working folder), with the trainer's diagnostics\n"
     "files. Prints per category its clusters by name (what is_knn_categ takes), the items\n"
     "caught by history and the time. --seed N makes the run reproducible;\n"
     "--dump-features FILE writes one line per item: its category and its feature values,\n"
     "tab-separated. A progress line goes to stderr on a terminal.\n"
     "classify: one JSON line per message or page: file, cluster, category (its label,\n"
     "null without vi2labels.dat), probability (0 to 100) and distance to that cluster's\n"
     "center. The model is read from --model DIR, else from the data folder.\n"
     "eval: classifies every item of each DIR and prints the confusion table of the\n"
     "categories against the labels of the clusters found, the accuracy and the speed;\n"
     "--dump-features as for train.",
     RunMailLibraryCommand},
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
