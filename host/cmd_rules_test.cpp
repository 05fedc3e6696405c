// "rules test": given rule files run over given pages, showing why each page was or was not
// caught.
//
//   zazozor rules test [--url URL] RULES... -- PAGE...
//
// The rules are loaded instead of the data folder's (problems of their text as FILE:LINE:
// message on stderr), each page is read and filled into an item as "filter" does, and the
// signatures run as the signatures filter runs them. Per page: the verdict (the rule that
// hit with its category and score, or that none did) and every rule that ran, with its
// result and what its condition matched (the element and the matched text, cut to 80
// bytes, or the heuristic and its value). Single-threaded.
#include <cstdio>
#include <string>
#include <vector>

#include "cmd_rules.h"
#include "commands.h"
#include "errors.h"
#include "page_item.h"
#include "rule_runner.h"

namespace zzhost {

int RunRulesTest(CommandContext& context) {
  const std::vector<std::string>& args = context.Args();
  const std::size_t separator = context.ArgsBeforeSeparator();
  std::string url;
  std::vector<std::string> rules, pages;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (i < separator && arg == "--url") {
      if (i + 1 >= separator) throw UsageError("option '--url' needs a value", "rules");
      url = args[++i];
    } else if (i < separator && arg.rfind("--url=", 0) == 0) {
      url = arg.substr(6);
    } else if (i < separator && arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "' for 'rules test'", "rules");
    } else {
      (i < separator ? rules : pages).push_back(arg);
    }
  }
  if (rules.empty() || pages.empty()) {
    throw UsageError("'rules test' needs rule files, then -- and pages", "rules");
  }
  CHostRules engine(CHostRules::LibrariesFolder(context.Settings()));
  CStreamDiagnostics diagnostics(stderr);
  engine.LoadFiles(rules, &diagnostics);
  std::fprintf(context.Out(), "%u rules loaded, %llu signatures\n\n", engine.RuleCount(),
               static_cast<unsigned long long>(engine.SignatureCount()));
  int status = 0;
  for (const std::string& file : pages) {
    try {
      const std::string pageUrl = url.empty() ? PageFileUrl(file) : url;
      CPageItem page(ReadPageBytes(file), pageUrl, 50);
      std::vector<RuleRun> runs;
      const SignatureVerdict verdict = engine.Run(page.Item(), &runs);
      const std::string heading = "page     " + file + "\nurl      " + pageUrl + "\n";
      std::fputs(FormatRuleRuns(heading, verdict, runs).c_str(), context.Out());
    } catch (const HostError& e) {
      std::fflush(context.Out());
      std::fprintf(stderr, "zazozor: %s\n", e.what());
      status = 1;
    }
  }
  return status;
}

}  // namespace zzhost
