// "knn": trains a KNN model from labelled folders of messages (or pages) and checks it.
//
//   zazozor knn train --features FILE CATEGORY=DIR... [--out DIR] [--seed N]
//                     [--dump-features FILE]
//   zazozor knn classify [--model DIR] FILE...
//   zazozor knn eval [--model DIR] [--dump-features FILE] CATEGORY=DIR...
//
// train measures every item of every DIR with the feature definitions of FILE (the
// "vi2features.dat" format), hands the items to the KNN trainer, which builds the clusters
// and writes "vi2features.dat" and "vi2clusters.dat" into --out (default: the working
// folder) with its diagnostics files; then each training item is placed in the new model
// and "vi2labels.dat" names every cluster by the category most of its items came from.
// classify answers one JSON line per item; eval prints the confusion table over the labels
// and the accuracy. Part of the mail library (mail_library.h), which the executable loads
// for this command. Single-threaded. Tested by tests/host/knn_command_test.cpp.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/asexception.h"
#include "engines/assl/exec_structs.h"
#include "engines/knn2/centersextractor.h"
#include "engines/knn2/filehistoryv03.h"
#include "engines/knn2/knnengine.h"
#include "errors.h"
#include "json.h"
#include "knn_items.h"
#include "mail_library.h"
#include "rule_runner.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

ascommon::usstring Wide(const std::string& text) {
  ascommon::usstring wide;
  if (wide.assign(zzplat::Utf8ToUtf16Lenient(text).c_str()) != 0) throw std::bad_alloc();
  return wide;
}

std::string Text(const ascommon::sstring& text) {
  return text.c_str() != nullptr ? std::string(text.c_str(), text.length()) : std::string();
}

// Runs f, turning the engine's exceptions into HostError with what.
template <class F>
auto Engine(const std::string& what, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const AException& e) {
    throw HostError(what + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw HostError(what + ": out of memory");
  }
}

// The value of "--name VALUE" or "--name=VALUE" at args[i] (i advanced past it), or nullopt
// when args[i] is not that option.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       const std::string& name) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) throw UsageError("option '" + name + "' needs a value", "knn");
    return args[++i];
  }
  if (arg.rfind(name + "=", 0) == 0) return arg.substr(name.size() + 1);
  return std::nullopt;
}

struct KnnArgs {
  std::string features, out, model, dump;
  std::optional<std::uint32_t> seed;
  std::vector<std::string> positional;
};

// Splits args into the options allowed (names without "--") and positional arguments.
KnnArgs ParseKnnArgs(const std::vector<std::string>& args, const std::set<std::string>& allowed,
                     const std::string& action) {
  KnnArgs parsed;
  const std::pair<const char*, std::string*> fields[] = {{"features", &parsed.features},
                                                         {"out", &parsed.out},
                                                         {"model", &parsed.model},
                                                         {"dump-features", &parsed.dump}};
  for (std::size_t i = 1; i < args.size(); ++i) {
    bool matched = false;
    for (const auto& [name, field] : fields) {
      if (allowed.count(name) == 0) continue;
      if (auto value = OptionValue(args, i, std::string("--") + name)) {
        if (value->empty()) throw UsageError("option '--" + std::string(name) + "' is empty", "knn");
        *field = *value;
        matched = true;
        break;
      }
    }
    if (!matched && allowed.count("seed") != 0) {
      if (auto value = OptionValue(args, i, "--seed")) {
        char* end = nullptr;
        const unsigned long long seed = std::strtoull(value->c_str(), &end, 10);
        if (value->empty() || *end != '\0' || (*value)[0] == '-' || seed > 0xFFFFFFFFull) {
          throw UsageError("--seed takes a number from 0 to 4294967295", "knn");
        }
        parsed.seed = static_cast<std::uint32_t>(seed);
        matched = true;
      }
    }
    if (matched) continue;
    if (args[i].size() > 1 && args[i][0] == '-') {
      throw UsageError("unknown option '" + args[i] + "' for 'knn " + action + "'", "knn");
    }
    parsed.positional.push_back(args[i]);
  }
  return parsed;
}

// "\r" progress on a terminal, at most a few times a second.
class Progress {
 public:
  Progress() : m_shown(isatty(STDERR_FILENO) == 1) {}
  ~Progress() {
    if (m_drawn) std::fputs("\n", stderr);
  }
  void Show(const std::string& line, bool force = false) {
    if (!m_shown) return;
    const auto now = Clock::now();
    if (!force && now - m_last < std::chrono::milliseconds(200)) return;
    m_last = now;
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
  }
  void Clear() {
    if (!m_drawn) return;
    std::fputs("\r\033[K", stderr);
    m_drawn = false;
  }

 private:
  bool m_shown;
  bool m_drawn = false;
  Clock::time_point m_last{};
};

// One line per item for the comparison with other classifiers: the category, then each
// feature's text form, tab-separated (tabs, line breaks and backslashes inside a string
// written as \t, \n, \r, \\).
class FeatureDump {
 public:
  explicit FeatureDump(const std::string& path) : m_path(path) {
    if (path.empty()) return;
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) throw HostError("cannot write " + path);
  }
  ~FeatureDump() {
    if (m_file != nullptr) std::fclose(m_file);
  }
  FeatureDump(const FeatureDump&) = delete;
  FeatureDump& operator=(const FeatureDump&) = delete;

  void Write(const std::string& category, const CFeatureSet& set) {
    if (m_file == nullptr) return;
    std::string line = category;
    for (std::uint32_t i = 0; i < set.GetFeatureCount(); ++i) {
      line += '\t';
      for (char c : FeatureText(*set.GetFeature(i))) {
        switch (c) {
          case '\t': line += "\\t"; break;
          case '\n': line += "\\n"; break;
          case '\r': line += "\\r"; break;
          case '\\': line += "\\\\"; break;
          default: line += c;
        }
      }
    }
    line += '\n';
    std::fputs(line.c_str(), m_file);
  }
  void Close() {
    if (m_file == nullptr) return;
    const bool failed = std::ferror(m_file) != 0;
    if (std::fclose(m_file) != 0 || failed) {
      m_file = nullptr;
      throw HostError("cannot write " + m_path);
    }
    m_file = nullptr;
  }

 private:
  std::string m_path;
  std::FILE* m_file = nullptr;
};

// A loaded model: the history of DIR with its features marked as heuristics or
// expressions, and the labels of its clusters.
struct LoadedModel {
  std::unique_ptr<CKNNFileHistoryv03> history;
  std::map<std::string, std::string> labels;
  bool hasLabels = false;
};

LoadedModel LoadModel(const std::string& dir, CKnnFeatureMeter& meter) {
  LoadedModel model;
  // The history would create missing files empty; a folder without a model stays as it is.
  for (const char* name : {kKnnFeaturesFileName, kKnnClustersFileName}) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(dir) / name, ec)) {
      throw HostError("no KNN model in " + dir + ": " + name + " is missing");
    }
  }
  const ascommon::usstring wideDir = Wide(dir);
  Engine("model " + dir, [&] {
    model.history = std::make_unique<CKNNFileHistoryv03>(wideDir, Wide(kKnnClustersFileName),
                                                        Wide(kKnnFeaturesFileName));
    model.history->DeSerialize();
    model.history->MarkFeatureSources(*meter.Engines()->GetCodeHeurEngine());
  });
  model.labels = ReadLabels((fs::path(dir) / kKnnLabelsFile).string(), &model.hasLabels);
  return model;
}

// The model folder: --model, else the data folder of the settings.
std::string ModelFolder(MailContext& context, const std::string& given) {
  if (!given.empty()) return given;
  const char16_t* data = context.Settings().GetStringValue(u"/http/global/SharedDataPath");
  if (data == nullptr || *data == 0) throw HostError("no data folder: give --model DIR");
  return zzplat::Utf16ToUtf8Lenient(data);
}

void ReportFailure(MailContext& context, const std::string& what, int& status) {
  std::fflush(context.Out());
  std::fprintf(stderr, "zazozor: %s\n", what.c_str());
  status = 1;
}

// The text forms of a set's features, tab-separated (the trainer's test of identical items).
std::string SetText(const CFeatureSet& set) {
  std::string text;
  for (std::uint32_t i = 0; i < set.GetFeatureCount(); ++i) {
    text += FeatureText(*set.GetFeature(i));
    text += '\t';
  }
  return text;
}

struct TrainingItem {
  std::string category;
  std::unique_ptr<CFeatureSet> set;
};

int RunTrain(MailContext& context, const std::vector<std::string>& args) {
  const KnnArgs parsed =
      ParseKnnArgs(args, {"features", "out", "seed", "dump-features"}, "train");
  if (parsed.features.empty()) throw UsageError("'knn train' needs --features FILE", "knn");
  std::vector<LabelledFolder> folders;
  for (const std::string& arg : parsed.positional) folders.push_back(ParseLabelledFolder(arg, "knn"));
  if (folders.empty()) throw UsageError("'knn train' needs CATEGORY=DIR...", "knn");

  std::error_code missing;
  if (!fs::is_regular_file(parsed.features, missing)) {
    throw HostError("cannot read the feature definitions " + parsed.features);
  }
  // Every folder is listed before anything is written.
  std::vector<std::vector<std::string>> files;
  for (const LabelledFolder& folder : folders) files.push_back(FolderFiles(folder.folder));
  const std::string out = parsed.out.empty() ? std::string(".") : parsed.out;
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) throw HostError("cannot create " + out + ": " + ec.message());
  const ascommon::usstring wideOut = Wide(out);

  CKnnFeatureMeter meter(CHostRules::LibrariesFolder(context.Settings()));
  std::unique_ptr<CKNNFileHistoryv03> model;
  std::unique_ptr<CKNNTrainer> trainer;
  Engine("features " + parsed.features, [&] {
    model = std::make_unique<CKNNFileHistoryv03>(wideOut, Wide(kKnnClustersFileName),
                                                 Wide(kKnnFeaturesFileName));
    model->ReadFeatureDefinitions(Wide(parsed.features));
    model->MarkFeatureSources(*meter.Engines()->GetCodeHeurEngine());
    model->SetDetailsFolder(wideOut);
    trainer = std::make_unique<CKNNTrainer>(wideOut);
    if (parsed.seed) {  // a seeded run names its clusters "<seed>_<n>": same input, same file
      CKNNTrainer::SetSeed(*parsed.seed);
      trainer->SetNamesTime(*parsed.seed);
    }
    trainer->SetHistory(model.get());
  });
  CKNNFileHistoryv03& history = *model;
  if (history.GetFeatureCount() == 0) {
    throw HostError(parsed.features + ": no feature definitions");
  }

  int status = 0;
  FeatureDump dump(parsed.dump);
  Progress progress;
  std::vector<TrainingItem> items;
  std::map<std::string, std::size_t> perCategory;
  const auto start = Clock::now();
  for (std::size_t f = 0; f < folders.size(); ++f) {
    const LabelledFolder& folder = folders[f];
    for (const std::string& file : files[f]) {
      try {
        meter.MeasureFile(
            file, history,
            [&](const std::string& source, std::unique_ptr<CFeatureSet> set) {
              dump.Write(folder.category, *set);
              Engine(source + ": knn train", [&] {
                ascommon::sstring answer;
                float probability = 0.0f;
                trainer->Analyze(*set, answer, probability);
              });
              ++perCategory[folder.category];
              items.push_back({folder.category, std::move(set)});
              progress.Show("knn train: " + std::to_string(items.size()) + " items read");
            },
            [&](const std::string& what) { ReportFailure(context, what, status); });
      } catch (const HostError& e) {
        ReportFailure(context, e.what(), status);
      }
    }
  }
  dump.Close();
  if (items.empty()) throw HostError("knn train: no item could be read");
  const double readSeconds = Seconds(start);

  const auto trainStart = Clock::now();
  progress.Show("knn train: " + std::to_string(items.size()) + " items read, building clusters",
                true);
  trainer->SetProgress([&](std::uint32_t generation, std::uint32_t clusters) {
    progress.Show("knn train: " + std::to_string(items.size()) + " items, generation " +
                  std::to_string(generation) + ", " + std::to_string(clusters) + " clusters");
  });
  Engine("knn train", [&] { trainer->Train(); });
  const double trainSeconds = Seconds(trainStart);

  // A cluster's label: the category most of its training items came from. The trainer keeps
  // one copy of identical items, so each member stands for every item of its text form.
  std::map<std::string, std::map<std::string, std::uint64_t>> categoriesOf;  // form -> counts
  for (const TrainingItem& item : items) ++categoriesOf[SetText(*item.set)][item.category];
  std::vector<ClusterLabel> labels;
  std::map<std::string, std::vector<std::string>> clustersOf;
  for (const auto& [name, cluster] : history.GetClusters()) {
    std::map<std::string, std::uint64_t> votes;
    std::set<const CFeatureSet*> members;
    for (const ItemDescriptor* member : cluster.GetItems()) {
      if (!members.insert(member->fSet).second) continue;
      for (const auto& [category, count] : categoriesOf[SetText(*member->fSet)]) {
        votes[category] += count;
      }
    }
    ClusterLabel label{Text(name), "-", 0};
    for (const auto& [category, count] : votes) {
      if (count > label.count) label = {label.cluster, category, count};
    }
    clustersOf[label.category].push_back(label.cluster);
    labels.push_back(label);
  }
  // The assigned items are the trainer's; the model keeps only the clusters.
  history.ClearAssignedItems();
  // Training items the finished model leaves outside every cluster.
  std::size_t outside = 0;
  for (const TrainingItem& item : items) {
    ascommon::sstring cluster;
    float distance = 0.0f;
    if (Engine("knn train", [&] { return history.Search(*item.set, cluster, distance); }) ==
        kOutsideClusters) {
      ++outside;
    }
  }
  WriteLabels((fs::path(out) / kKnnLabelsFile).string(), labels);
  progress.Clear();

  std::FILE* o = context.Out();
  std::fprintf(o, "read %zu items in %.2f s:", items.size(), readSeconds);
  for (const auto& [category, count] : perCategory) std::fprintf(o, " %s %zu", category.c_str(), count);
  std::fprintf(o, "\ncaught by history: %u; gathered for training: %u\n",
               trainer->GetCaughtByHistory(), trainer->GetGatheredCount());
  std::fprintf(o, "trained %zu clusters in %.2f s (%u generations)\n", labels.size(),
               trainSeconds, trainer->GetGenerations());
  std::fprintf(o, "distance matrices: at most %u centers, %.1f MB\n",
               trainer->GetExtractor().GetPeakCenters(),
               static_cast<double>(trainer->GetExtractor().GetPeakMatrixBytes()) / 1048576.0);
  for (const auto& [category, names] : clustersOf) {
    std::fprintf(o, "  %s:", category.c_str());
    for (const std::string& name : names) std::fprintf(o, " %s", name.c_str());
    std::fputs("\n", o);
  }
  if (outside != 0) std::fprintf(o, "training items outside every cluster: %zu\n", outside);
  std::fprintf(o, "model written to %s (%s, %s, %s)\n", out.c_str(), kKnnFeaturesFileName,
               kKnnClustersFileName, kKnnLabelsFile);
  return status;
}

// The analyzer's answer for one item.
struct Answer {
  std::string cluster;
  float probability = 0.0f;
  float distance = 0.0f;
};

Answer Classify(const CKNNAnalyzer& analyzer, const CFeatureSet& set, const std::string& source) {
  Answer answer;
  ascommon::sstring cluster;
  Engine(source + ": knn", [&] {
    analyzer.Analyze(set, cluster, answer.probability, answer.distance);
  });
  answer.cluster = Text(cluster);
  return answer;
}

std::string JsonNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

int RunClassify(MailContext& context, const std::vector<std::string>& args) {
  const KnnArgs parsed = ParseKnnArgs(args, {"model"}, "classify");
  if (parsed.positional.empty()) throw UsageError("'knn classify' needs FILE...", "knn");
  CKnnFeatureMeter meter(CHostRules::LibrariesFolder(context.Settings()));
  const LoadedModel model = LoadModel(ModelFolder(context, parsed.model), meter);
  CKNNAnalyzer analyzer;
  analyzer.SetHistory(model.history.get());

  int status = 0;
  for (const std::string& file : parsed.positional) {
    try {
      meter.MeasureFile(
          file, *model.history,
          [&](const std::string& source, std::unique_ptr<CFeatureSet> set) {
            const Answer answer = Classify(analyzer, *set, source);
            std::string line = "{\"file\": ";
            AppendJsonString(line, source);
            line += ", \"cluster\": ";
            AppendJsonString(line, answer.cluster);
            line += ", \"category\": ";
            auto label = model.labels.find(answer.cluster);
            if (label == model.labels.end() || label->second == "-") {
              line += "null";
            } else {
              AppendJsonString(line, label->second);
            }
            line += ", \"probability\": " + JsonNumber(answer.probability);
            line += ", \"distance\": " + JsonNumber(answer.distance) + "}\n";
            std::fputs(line.c_str(), context.Out());
          },
          [&](const std::string& what) { ReportFailure(context, what, status); });
    } catch (const HostError& e) {
      ReportFailure(context, e.what(), status);
    }
  }
  return status;
}

int RunEval(MailContext& context, const std::vector<std::string>& args) {
  const KnnArgs parsed = ParseKnnArgs(args, {"model", "dump-features"}, "eval");
  std::vector<LabelledFolder> folders;
  for (const std::string& arg : parsed.positional) folders.push_back(ParseLabelledFolder(arg, "knn"));
  if (folders.empty()) throw UsageError("'knn eval' needs CATEGORY=DIR...", "knn");
  CKnnFeatureMeter meter(CHostRules::LibrariesFolder(context.Settings()));
  const std::string dir = ModelFolder(context, parsed.model);
  const LoadedModel model = LoadModel(dir, meter);
  if (!model.hasLabels) throw HostError("no " + std::string(kKnnLabelsFile) + " in " + dir);
  CKNNAnalyzer analyzer;
  analyzer.SetHistory(model.history.get());

  int status = 0;
  FeatureDump dump(parsed.dump);
  std::vector<std::string> actual;  // the categories in the order given
  std::map<std::string, std::map<std::string, std::uint64_t>> table;
  std::set<std::string> predicted;
  std::uint64_t total = 0, right = 0, outside = 0;
  const auto start = Clock::now();
  for (const LabelledFolder& folder : folders) {
    if (table.count(folder.category) == 0) actual.push_back(folder.category);
    table[folder.category];
    for (const std::string& file : FolderFiles(folder.folder)) {
      try {
        meter.MeasureFile(
            file, *model.history,
            [&](const std::string& source, std::unique_ptr<CFeatureSet> set) {
              dump.Write(folder.category, *set);
              const Answer answer = Classify(analyzer, *set, source);
              auto label = model.labels.find(answer.cluster);
              const std::string guess = label == model.labels.end() ? "-" : label->second;
              ++table[folder.category][guess];
              predicted.insert(guess);
              ++total;
              if (guess == folder.category) ++right;
              if (answer.probability <= 0.0f) ++outside;
            },
            [&](const std::string& what) { ReportFailure(context, what, status); });
      } catch (const HostError& e) {
        ReportFailure(context, e.what(), status);
      }
    }
  }
  dump.Close();
  const double seconds = Seconds(start);
  for (const std::string& category : actual) predicted.insert(category);

  std::FILE* o = context.Out();
  std::size_t width = std::string("actual \\ label").size();
  for (const std::string& name : predicted) width = std::max(width, name.size());
  std::fprintf(o, "%-*s", static_cast<int>(width), "actual \\ label");
  for (const std::string& name : predicted) std::fprintf(o, "  %*s", static_cast<int>(std::max<std::size_t>(name.size(), 6)), name.c_str());
  std::fputs("\n", o);
  for (const std::string& category : actual) {
    std::fprintf(o, "%-*s", static_cast<int>(width), category.c_str());
    for (const std::string& name : predicted) {
      std::fprintf(o, "  %*llu", static_cast<int>(std::max<std::size_t>(name.size(), 6)),
                   static_cast<unsigned long long>(table[category][name]));
    }
    std::fputs("\n", o);
  }
  std::fprintf(o, "accuracy %llu/%llu = %.2f%%\n", static_cast<unsigned long long>(right),
               static_cast<unsigned long long>(total), total ? 100.0 * right / total : 0.0);
  std::fprintf(o, "outside every cluster (probability 0): %llu\n",
               static_cast<unsigned long long>(outside));
  std::fprintf(o, "classified %llu items in %.2f s (%.0f items/s)\n",
               static_cast<unsigned long long>(total), seconds,
               seconds > 0 ? total / seconds : 0.0);
  return status;
}

}  // namespace

int RunKnnCommand(MailContext& context) {
  const std::vector<std::string>& args = context.Args();
  if (args.empty()) throw UsageError("'knn' needs train, classify or eval", "knn");
  const std::string& action = args[0];
  if (action == "train") return RunTrain(context, args);
  if (action == "classify") return RunClassify(context, args);
  if (action == "eval") return RunEval(context, args);
  throw UsageError("unknown knn action '" + action + "'", "knn");
}

}  // namespace zzhost
