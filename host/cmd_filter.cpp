// "filter": whole pages through the filters. Each file is read as a page as received,
// decoded (page_decoder.h), parsed, and turned into an item filled the way the host
// framework fills it (only the text forms when no active filter reads more, page_item.h);
// every filter active for the session processes the item, and one line per page reports the
// list verdicts, the Bayes verdict, the signature verdict (with every rule that hit, from
// the host's own run of the same rules: rule_runner.h) and every key the filters wrote.
//
// Files that cannot be read, and pages a filter fails on, are reported on stderr one line
// each; the others are still processed and the exit status is then 1.
// Tested by tests/host/page_commands_test.cpp; the item itself by page_item_test.cpp.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "json.h"
#include "page_item.h"
#include "rule_runner.h"
#include "verdicts.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

constexpr char16_t kBayesThresholdKey[] = u"/http/filter/bayes/Threshold";
constexpr std::uint32_t kDefaultBayesThreshold = 50;

struct FilterOptions {
  std::string url;  // empty: file:// and the file's absolute path
  bool text = false;
  bool hits = true;  // --no-hits: the rules are not run again to list every hit
  std::vector<std::string> files;
};

FilterOptions ParseFilterOptions(const CommandContext& context) {
  FilterOptions options;
  const std::vector<std::string>& args = context.Args();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--text") {
      options.text = true;
    } else if (arg == "--no-hits") {
      options.hits = false;
    } else if (arg == "--url") {
      if (i + 1 >= args.size()) throw UsageError("option '--url' needs a value", "filter");
      options.url = args[++i];
    } else if (arg.rfind("--url=", 0) == 0) {
      options.url = arg.substr(6);
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "' for 'filter'", "filter");
    } else {
      options.files.push_back(arg);
    }
  }
  if (options.files.empty()) throw UsageError("'filter' needs more arguments", "filter");
  return options;
}

// One line on stderr, control characters blanked.
void ReportError(const std::string& message) {
  std::string line = "zazozor: " + message;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

struct ResultKey {
  std::uint32_t id;
  std::uint32_t kind;
  std::uint32_t width;
  bool operator<(const ResultKey& other) const { return id < other.id; }
};

std::vector<ResultKey> KeysOf(const ascommon::CBlackBox& bag,
                              const std::vector<std::uint32_t>& hostIds) {
  std::vector<ResultKey> keys;
  bag.ForEachId([&](std::uint32_t id, std::uint32_t kind, std::uint32_t width) {
    if (!std::binary_search(hostIds.begin(), hostIds.end(), id)) keys.push_back({id, kind, width});
  });
  std::sort(keys.begin(), keys.end());
  return keys;
}

// A value as JSON: numbers as numbers (one-byte values 0 or 1; 8-byte ones, which the bag
// cannot tell from doubles, as SetSizeT values), texts as strings, other kinds (arrays,
// containers, objects) as null. Every value the filters write is a number or a text.
std::string ValueJson(const ascommon::CBlackBox& bag, const ResultKey& key) {
  std::string out;
  try {
    if (key.kind == ascommon::CBlackBox::kScalar) {
      if (key.width == 1) return bag.GetBool(key.id) ? "1" : "0";
      if (key.width == 4) return std::to_string(bag.GetInt(key.id));
      if (key.width == 8) return std::to_string(bag.GetSizeT(key.id));
    } else if (key.kind == ascommon::CBlackBox::kWideText) {
      AppendJsonString(out, zzplat::Utf16ToUtf8Lenient(bag.GetUCharBuf(key.id)));
      return out;
    } else if (key.kind == ascommon::CBlackBox::kText) {
      const char* text = bag.GetCharBuf(key.id);
      AppendJsonStringOrNull(out, text, text == nullptr ? 0 : std::strlen(text));
      return out;
    }
  } catch (const std::exception&) {
    // a value without payload: reported as null
  }
  return "null";
}

void AppendKeysJson(std::string& out, const ascommon::CBlackBox& bag,
                    const std::vector<ResultKey>& keys) {
  out += '{';
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i != 0) out += ", ";
    out += '"' + std::to_string(keys[i].id) + "\": " + ValueJson(bag, keys[i]);
  }
  out += '}';
}

void AppendKeysText(std::string& out, const char* label, const ascommon::CBlackBox& bag,
                    const std::vector<ResultKey>& keys) {
  out += label;
  if (keys.empty()) out += "-\n";
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i != 0) out += "            ";
    out += std::to_string(keys[i].id) + " = " + ValueJson(bag, keys[i]) + "\n";
  }
}

// The Bayes filter reads the page text, the list filters the URL: with only those active,
// the item needs none of the other forms of the page (page_item.h).
bool ReadsTextOnly(const std::u16string& filterName) {
  return filterName == u"Http Parental Bayesian Filter" ||
         filterName == u"Http Parental BWList Filter" ||
         filterName == u"Http Parental BWList Advanced Filter";
}

class PageFilterRun {
 public:
  PageFilterRun(CommandContext& context, const FilterOptions& options)
      : m_context(context), m_options(options), m_session(context.Options().session) {
    m_threshold =
        context.Settings().GetIntValue(m_session, kBayesThresholdKey, kDefaultBayesThreshold);
    CModuleHost& host = context.OpenEnabledFilters();
    host.ForEachActiveFilter(m_session, [&](HostedFilter& hosted) {
      m_filters.push_back(&hosted);
      if (!ReadsTextOnly(hosted.wideName)) m_fields = PageFields::kAll;
    });
    HostedFilter* advanced = host.FindFilter(u"Http Parental BWList Advanced Filter");
    m_advancedActive = advanced != nullptr && advanced->IsActive(m_session);
  }

  // Every rule that hit: the filter stores only the first, so the host runs the same rules
  // again for the pages it caught (loaded on the first such page). When the host cannot
  // load them, the filter's rule alone.
  std::vector<std::string> HitsOf(AItem& item, const std::string& rule) {
    if (!m_rulesTried) {
      m_rulesTried = true;
      try {
        m_rules = CHostRules::FromSettings(m_context.Settings());
      } catch (const HostError&) {
        // m_rules stays null: the filter's rule alone
      }
    }
    if (m_rules != nullptr) {
      std::vector<std::string> hits = m_rules->Run(item).hits;
      if (!hits.empty()) return hits;
    }
    return {rule};
  }

  // Processes one file and prints its line. HostError when the file cannot be read or a
  // filter fails.
  void Run(const std::string& file) {
    const std::string url = m_options.url.empty() ? PageFileUrl(file) : m_options.url;
    CPageItem page(ReadPageBytes(file), url, m_threshold, m_fields);
    AItem& item = page.Item();
    ascommon::CBlackBox& bb = item.GetBlackBox();
    ascommon::CBlackBox& ext = page.Ext();

    for (HostedFilter* hosted : m_filters) {
      CModuleHost::Call(file + ": " + hosted->name + ": Process",
                        [&] { hosted->filter->Process(m_session, &item, 0); });
    }

    const ListVerdicts verdicts = ReadListVerdicts(bb, ext, m_advancedActive);
    const BayesVerdict bayes = ReadBayesVerdict(bb);
    SignatureVerdict signature = ReadSignatureVerdict(bb);
    signature.hitsListed = m_options.hits;
    if (!signature.rule.empty() && m_options.hits) signature.hits = HitsOf(item, signature.rule);
    const std::vector<ResultKey> itemKeys = KeysOf(bb, page.HostIds());
    const std::vector<ResultKey> extKeys = KeysOf(ext, {});
    std::string line =
        m_options.text
            ? TextBlock(file, url, verdicts, bayes, signature, bb, itemKeys, ext, extKeys)
            : JsonLine(file, url, verdicts, bayes, signature, bb, itemKeys, ext, extKeys);
    std::fputs(line.c_str(), m_context.Out());
  }

 private:
  static std::string JsonLine(const std::string& file, const std::string& url,
                              const ListVerdicts& verdicts, const BayesVerdict& bayes,
                              const SignatureVerdict& signature,
                              const ascommon::CBlackBox& bb,
                              const std::vector<ResultKey>& itemKeys,
                              const ascommon::CBlackBox& ext,
                              const std::vector<ResultKey>& extKeys) {
    std::string line = "{\"file\": ";
    AppendJsonString(line, file);
    line += ", \"url\": ";
    AppendJsonString(line, url);
    AppendListVerdictsJson(line, verdicts);
    AppendBayesVerdictJson(line, bayes);
    AppendSignatureJson(line, signature);
    line += ", \"item\": ";
    AppendKeysJson(line, bb, itemKeys);
    line += ", \"bbext\": ";
    AppendKeysJson(line, ext, extKeys);
    line += "}\n";
    return line;
  }

  static std::string TextBlock(const std::string& file, const std::string& url,
                               const ListVerdicts& verdicts, const BayesVerdict& bayes,
                               const SignatureVerdict& signature,
                               const ascommon::CBlackBox& bb,
                               const std::vector<ResultKey>& itemKeys,
                               const ascommon::CBlackBox& ext,
                               const std::vector<ResultKey>& extKeys) {
    std::string block = "file        " + file + "\nurl         " + url + "\nlist        ";
    block += verdicts.list != nullptr ? verdicts.list : "-";
    block += "\ncategories  ";
    if (!verdicts.advancedActive) {
      block += "-";
    } else if (verdicts.categoryBits == 0) {
      block += "(none)";
    }
    const char* separator = "";
    verdicts.ForEachCategory([&](int, const char* name) {
      block += separator;
      block += name;
      separator = ", ";
    });
    block += "\nflag        ";
    block += verdicts.flag < 0 ? "-" : std::to_string(verdicts.flag);
    block += "\nbayes       ";
    block += bayes.written ? bayes.category + " (score " + std::to_string(bayes.score) + ")" : "-";
    block += "\nsignature   ";
    if (signature.rule.empty()) {
      block += "-";
    } else {
      block += (signature.category ? *signature.category : "-") + " (score " +
               (signature.score ? std::to_string(*signature.score) : "-") + ", rule " +
               signature.rule + ")";
      for (std::size_t i = 0; i < signature.hits.size(); ++i) {
        block += (i == 0 ? "\nhits        " : ", ") + signature.hits[i];
      }
    }
    block += "\n";
    AppendKeysText(block, "item        ", bb, itemKeys);
    AppendKeysText(block, "bbext       ", ext, extKeys);
    block += '\n';
    return block;
  }

  CommandContext& m_context;
  const FilterOptions& m_options;
  std::uint32_t m_session;
  std::uint32_t m_threshold = kDefaultBayesThreshold;
  std::vector<HostedFilter*> m_filters;  // Not owned: the module host's, active ones only
  bool m_advancedActive = false;
  PageFields m_fields = PageFields::kText;  // kAll once a filter reads more than the text
  bool m_rulesTried = false;
  std::unique_ptr<CHostRules> m_rules;  // the data folder's rules, for the hit lists
};

int RunFilter(CommandContext& context) {
  const FilterOptions options = ParseFilterOptions(context);
  PageFilterRun run(context, options);
  int status = 0;
  for (const std::string& file : options.files) {
    try {
      run.Run(file);
    } catch (const HostError& e) {
      std::fflush(context.Out());
      ReportError(e.what());
      status = 1;
    }
  }
  return status;
}

}  // namespace

int RunFilterCommand(CommandContext& context) { return RunFilter(context); }

}  // namespace zzhost
