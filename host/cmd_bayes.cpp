// The "bayes" command: trains and maintains the Bayes dictionary of the settings' data
// folder by driving the module's Bayes filter, the way the host framework does:
//
//   zazozor bayes categories NAME:LEVEL...   ProcessCommand 34 (new categories at the end)
//   zazozor bayes train CATEGORY FILE...     Process with command 35, one page per file
//   zazozor bayes print OUT                  ProcessCommand 36 (readable listing)
//   zazozor bayes prune LIMIT [--mode 0|1]   ProcessCommand 37 (mode 0) or 39 (mode 1)
//   zazozor bayes convert TEXT OUT           ProcessCommand 38 (word list to dictionary)
//
// Only the Bayes filter is created; its ReloadSharedData reads the dictionary ("pcdic.dat"
// when not empty, else "bayescsf.dat") and its DestroySharedData, when the command ends,
// writes changes back. Each file of "train" is read and parsed as "filter" reads a page
// (page_item.h; only the text forms the Bayes filter reads are made); a progress line goes to stderr while stderr is a terminal. The dictionary
// file's header is read here only to name the file and check a category before training
// (a name the dictionary does not know would make the filter train nothing).
// Single-threaded. Tested by tests/host/bayes_commands_test.cpp.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "common/strutils.h"
#include "errors.h"
#include "itemfields.h"
#include "page_item.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

namespace field = nsHttpModules::ItemField;
namespace command = nsHttpModules::FilterCommand;

constexpr char16_t kBayesFilterName[] = u"Http Parental Bayesian Filter";
constexpr char16_t kBayesThresholdKey[] = u"/http/filter/bayes/Threshold";
constexpr std::uint32_t kDefaultBayesThreshold = 50;
// Longest category name the dictionary file holds (UTF-16 units).
constexpr std::uint32_t kMaxNameUnits = 128;

// What the host reads of a dictionary file: the header's word count and the categories.
struct DictionaryHeader {
  std::uint32_t words = 0;  // as the header claims
  std::vector<std::pair<std::u16string, std::uint32_t>> categories;  // name, level
};

bool ReadU32(std::ifstream& in, std::uint32_t& value) {
  unsigned char bytes[4];
  if (!in.read(reinterpret_cast<char*>(bytes), 4)) return false;
  value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return true;
}

// The header of the dictionary file at a local path; nothing when it cannot be read. At
// most the file's own bound of categories is read (each takes at least 8 bytes).
std::optional<DictionaryHeader> ReadDictionaryHeader(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  DictionaryHeader header;
  std::uint32_t count = 0;
  if (!ReadU32(in, header.words) || !ReadU32(in, count)) return std::nullopt;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || count > size / 8) return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t level = 0, length = 0;
    if (!ReadU32(in, level) || !ReadU32(in, length) || length > kMaxNameUnits) return std::nullopt;
    std::u16string name(length, u'\0');
    for (char16_t& unit : name) {
      unsigned char bytes[2];
      if (!in.read(reinterpret_cast<char*>(bytes), 2)) return std::nullopt;
      unit = static_cast<char16_t>(bytes[0] | bytes[1] << 8);
    }
    header.categories.emplace_back(std::move(name), level);
  }
  return header;
}

// The words a dictionary holds when loaded: the word records present, at most the header's
// count (a file may announce more than it has, as a converted one does). Nothing when the
// file cannot be read.
std::optional<std::uint32_t> CountWordRecords(const std::string& path) {
  const std::optional<DictionaryHeader> header = ReadDictionaryHeader(path);
  if (!header) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::uint64_t skip = 8;
  for (const auto& category : header->categories) skip += 12 + 2 * category.first.size();
  const std::uint64_t columns = header->categories.size();
  if (!in.seekg(static_cast<std::streamoff>(skip))) return std::nullopt;
  std::uint32_t records = 0, length = 0;
  while (records < header->words && ReadU32(in, length)) {
    if (!in.seekg(static_cast<std::streamoff>(2 * length + 4 * columns), std::ios::cur)) break;
    ++records;
  }
  return records;
}

std::u16string Lower(std::u16string text) {
  ascommon::WideLowerInPlace(text.data(), text.size());
  return text;
}

std::string Narrow(const std::u16string& text) { return zzplat::Utf16ToUtf8Lenient(text.c_str()); }

// A number argument (signed 32-bit decimal) or UsageError.
std::int32_t ParseInt(const std::string& text, const std::string& what) {
  std::size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(text, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || value < INT32_MIN || value > INT32_MAX) {
    throw UsageError(what + " must be a whole number, not '" + text + "'", "bayes");
  }
  return static_cast<std::int32_t>(value);
}

class BayesRun {
 public:
  explicit BayesRun(CommandContext& context) : m_context(context) {
    CModuleHost& host = context.Host();
    m_filter = &host.AddFilter(kBayesFilterName, context.Settings());
    host.OpenSession(context.Options().session);
    const char16_t* folder = context.Settings().GetStringValue(u"/http/global/SharedDataPath");
    const std::u16string base = std::u16string(folder != nullptr ? folder : u"") + u"\\";
    const std::string preferred = zzplat::LocalPath((base + u"pcdic.dat").c_str());
    std::error_code ec;
    const bool usePreferred = std::filesystem::file_size(preferred, ec) != 0 && !ec;
    m_dictionary = usePreferred ? preferred : zzplat::LocalPath((base + u"bayescsf.dat").c_str());
  }

  const std::string& Dictionary() const { return m_dictionary; }
  std::uint32_t Session() const { return m_context.Options().session; }

  void Command(std::uint32_t code, ascommon::CBlackBox& params, const char* what) {
    CModuleHost::Call(std::string("bayes ") + what, [&] {
      m_filter->filter->ProcessCommand(Session(), code, &params);
    });
  }
  // Processes an item with a command; HostError on failure.
  void Process(AItem& item, std::uint32_t code, const std::string& what) {
    CModuleHost::Call(what, [&] { m_filter->filter->Process(Session(), &item, code); });
  }
  // Closes the module, which writes a changed dictionary back (HostError on failure).
  void Finish() { m_context.Shutdown(); }

 private:
  CommandContext& m_context;
  HostedFilter* m_filter = nullptr;  // Not owned: the module host's
  std::string m_dictionary;          // local path of the dictionary file in use
};

// The dictionary file keeps the first 128 units of a category name: a new name that agrees
// there with a category of the dictionary or another new name is refused before the
// module sees it (the module refuses it too, with a less telling message).
void RefuseNamesTheFileCannotTellApart(const std::string& dictionary,
                                       const std::vector<std::u16string>& names) {
  std::vector<std::u16string> known;
  if (const std::optional<DictionaryHeader> header = ReadDictionaryHeader(dictionary)) {
    for (const auto& category : header->categories) known.push_back(Lower(category.first));
  }
  for (const std::u16string& name : names) {
    const std::u16string key = Lower(name).substr(0, kMaxNameUnits);
    for (const std::u16string& other : known) {
      // The same name is the module's to refuse.
      if (other.substr(0, kMaxNameUnits) != key || other == Lower(name)) continue;
      throw HostError("category '" + Narrow(name) + "' agrees with '" + Narrow(other) +
                      "' in its first " + std::to_string(kMaxNameUnits) +
                      " characters, all the dictionary file keeps of a name; choose a name "
                      "that differs there");
    }
    known.push_back(Lower(name));
  }
}

int RunCategoriesAction(CommandContext& context, const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("'bayes categories' needs NAME:LEVEL...", "bayes");
  std::vector<std::u16string> names;
  std::vector<std::int32_t> levels;
  for (const std::string& arg : args) {
    const std::size_t colon = arg.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      throw UsageError("'" + arg + "' is not NAME:LEVEL", "bayes");
    }
    const std::int32_t level = ParseInt(arg.substr(colon + 1), "a level");
    if (level < 0) throw UsageError("a level cannot be negative: '" + arg + "'", "bayes");
    names.push_back(zzplat::Utf8ToUtf16Lenient(arg.substr(0, colon)));
    levels.push_back(level);
  }
  BayesRun run(context);
  RefuseNamesTheFileCannotTellApart(run.Dictionary(), names);
  std::vector<const char16_t*> texts;
  for (const std::u16string& name : names) texts.push_back(name.c_str());
  ascommon::CBlackBox params;
  params.SetUCharBufArray(texts.data(), texts.size(), field::kParamCategoryNames, true);
  params.SetArray(levels.data(), levels.size(), field::kParamCategoryLevels, true);
  run.Command(command::kBayesAddCategories, params, "categories");
  const std::string dictionary = run.Dictionary();
  run.Finish();
  std::string line = "added";
  for (std::size_t i = 0; i < names.size(); ++i) {
    line += " " + Narrow(Lower(names[i])) + ":" + std::to_string(levels[i]);
  }
  std::fprintf(context.Out(), "%s to %s\n", line.c_str(), dictionary.c_str());
  return 0;
}

// "\r" progress on a terminal, at most a few times a second.
class Progress {
 public:
  explicit Progress(std::size_t total) : m_total(total), m_shown(isatty(STDERR_FILENO) == 1) {}
  ~Progress() {
    if (m_drawn) std::fputs("\n", stderr);
  }
  void Step(std::size_t done) {
    if (!m_shown) return;
    const auto now = std::chrono::steady_clock::now();
    if (done != m_total && now - m_last < std::chrono::milliseconds(200)) return;
    m_last = now;
    std::fprintf(stderr, "\rbayes train: %zu/%zu files", done, m_total);
    std::fflush(stderr);
    m_drawn = true;
  }

 private:
  std::size_t m_total;
  bool m_shown;
  bool m_drawn = false;
  std::chrono::steady_clock::time_point m_last{};
};

int RunTrainAction(CommandContext& context, const std::vector<std::string>& args) {
  if (args.size() < 2) throw UsageError("'bayes train' needs CATEGORY and FILE...", "bayes");
  const std::u16string category = zzplat::Utf8ToUtf16Lenient(args[0]);
  BayesRun run(context);
  const std::optional<DictionaryHeader> header = ReadDictionaryHeader(run.Dictionary());
  bool known = false;
  std::string names;
  for (const auto& [name, level] : header ? header->categories : decltype(header->categories){}) {
    known = known || Lower(name) == Lower(category);
    names += (names.empty() ? "" : ", ") + Narrow(name);
  }
  if (!known) {
    throw HostError("the dictionary " + run.Dictionary() + " has no category '" + args[0] +
                    "' (it has: " + (names.empty() ? "none" : names) +
                    "); add it with 'zazozor bayes categories NAME:LEVEL'");
  }
  const std::uint32_t threshold = context.Settings().GetIntValue(
      context.Options().session, kBayesThresholdKey, kDefaultBayesThreshold);

  int status = 0;
  std::size_t trained = 0, empty = 0;
  {
    Progress progress(args.size() - 1);
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::string& file = args[i];
      try {
        CPageItem page(ReadPageBytes(file), PageFileUrl(file), threshold, PageFields::kText);
        if (page.Ext().SetUCharBuf(category.c_str(), field::kTrainCategory, true) != 0) {
          throw HostError("out of memory");
        }
        const char16_t* text = page.Item().GetBlackBox().GetUCharBuf(field::kPageText);
        if (text == nullptr || *text == 0) ++empty;
        run.Process(page.Item(), command::kBayesTrain, file + ": bayes train");
        ++trained;
      } catch (const HostError& e) {
        std::fflush(context.Out());
        std::fprintf(stderr, "zazozor: %s\n", e.what());
        status = 1;
      }
      progress.Step(i);
    }
  }
  const std::string dictionary = run.Dictionary();
  run.Finish();
  std::fprintf(context.Out(), "trained %zu %s as '%s' into %s", trained,
               trained == 1 ? "file" : "files", Narrow(Lower(category)).c_str(),
               dictionary.c_str());
  if (empty != 0) std::fprintf(context.Out(), " (%zu without text, which train nothing)", empty);
  std::fputs("\n", context.Out());
  return status;
}

int RunPrintAction(CommandContext& context, const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("'bayes print' needs exactly one OUT file", "bayes");
  BayesRun run(context);
  const std::string out = std::filesystem::absolute(args[0]).lexically_normal().string();
  ascommon::CBlackBox params;
  params.SetUCharBuf(zzplat::Utf8ToUtf16Lenient(out).c_str(), field::kParamPrintFile, true);
  run.Command(command::kBayesPrint, params, "print");
  const std::string dictionary = run.Dictionary();
  run.Finish();
  std::fprintf(context.Out(), "printed %s to %s\n", dictionary.c_str(), out.c_str());
  return 0;
}

int RunPruneAction(CommandContext& context, const std::vector<std::string>& args) {
  std::optional<std::int32_t> limit;
  std::int32_t mode = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--mode" && i + 1 < args.size()) {
      value = args[++i];
    } else if (args[i].rfind("--mode=", 0) == 0) {
      value = args[i].substr(7);
    } else if (!limit.has_value() && args[i] != "--mode") {
      limit = ParseInt(args[i], "LIMIT");
      continue;
    } else {
      throw UsageError("unexpected argument '" + args[i] + "' for 'bayes prune'", "bayes");
    }
    if (value != "0" && value != "1") throw UsageError("--mode is 0 or 1", "bayes");
    mode = value == "1" ? 1 : 0;
  }
  if (!limit.has_value()) throw UsageError("'bayes prune' needs LIMIT", "bayes");
  BayesRun run(context);
  const std::optional<std::uint32_t> before = CountWordRecords(run.Dictionary());
  ascommon::CBlackBox params;
  params.SetInt(*limit, field::kParamOccurrenceLimit, true);
  run.Command(mode == 0 ? command::kBayesPrune : command::kBayesPruneMode1, params, "prune");
  const std::string dictionary = run.Dictionary();
  run.Finish();
  const std::optional<DictionaryHeader> after = ReadDictionaryHeader(dictionary);
  std::fprintf(context.Out(), "pruned %s with limit %d, mode %d: %s words, was %s\n",
               dictionary.c_str(), static_cast<int>(*limit), static_cast<int>(mode),
               after ? std::to_string(after->words).c_str() : "?",
               before ? std::to_string(*before).c_str() : "?");
  return 0;
}

int RunConvertAction(CommandContext& context, const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError("'bayes convert' needs TEXT and OUT", "bayes");
  BayesRun run(context);
  ascommon::CBlackBox params;
  params.SetCharBuf(args[0].c_str(), field::kParamTextList, true);
  params.SetCharBuf(args[1].c_str(), field::kParamDictionaryFile, true);
  run.Command(command::kBayesConvert, params, "convert");
  run.Finish();
  std::fprintf(context.Out(), "converted %s to %s\n", args[0].c_str(), args[1].c_str());
  return 0;
}

}  // namespace

int RunBayesCommand(CommandContext& context) {
  const std::vector<std::string>& all = context.Args();
  if (all.empty()) throw UsageError("'bayes' needs an action", "bayes");
  const std::string& action = all[0];
  const std::vector<std::string> args(all.begin() + 1, all.end());
  if (action != "prune") {
    for (const std::string& arg : args) {
      if (arg.size() > 1 && arg[0] == '-') {
        throw UsageError("unknown option '" + arg + "' for 'bayes " + action + "'", "bayes");
      }
    }
  }
  if (action == "categories") return RunCategoriesAction(context, args);
  if (action == "train") return RunTrainAction(context, args);
  if (action == "print") return RunPrintAction(context, args);
  if (action == "prune") return RunPruneAction(context, args);
  if (action == "convert") return RunConvertAction(context, args);
  throw UsageError("unknown 'bayes' action '" + action +
                       "': expected categories, train, print, prune or convert",
                   "bayes");
}

}  // namespace zzhost
