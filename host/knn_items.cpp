// The items of the "knn" commands: labelled folders, files cut into messages or read as
// pages, each item's features measured through FillFeatureSet, and the labels file.
// Cost: one parse of each message or page and one heuristic call per feature definition.
// Tested by tests/host/knn_command_test.cpp.
#include "knn_items.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "common/asexception.h"
#include "engines/assl/emlcontextif.h"
#include "engines/assl/exec_structs.h"
#include "engines/assl/httpcontextif.h"
#include "errors.h"
#include "mail_item.h"
#include "mail_reader.h"
#include "page_item.h"

namespace zzhost {

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

bool IsPageFile(const std::string& path) {
  return EndsWithNoCase(path, ".html") || EndsWithNoCase(path, ".htm");
}

// Page items get the Bayes threshold the filter's default gives them; the features never
// read it.
constexpr std::uint32_t kPageThreshold = 50;

}  // namespace

LabelledFolder ParseLabelledFolder(const std::string& arg, const std::string& command) {
  const std::size_t equals = arg.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == arg.size()) {
    throw UsageError("'" + arg + "' is not CATEGORY=DIR", command);
  }
  LabelledFolder folder{arg.substr(0, equals), arg.substr(equals + 1)};
  if (folder.category.find_first_of(" \t\r\n") != std::string::npos) {
    throw UsageError("category '" + folder.category + "' holds a blank", command);
  }
  return folder;
}

std::vector<std::string> FolderFiles(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw HostError("cannot list " + folder + ": " + ec.message());
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || !entry.is_regular_file(ec)) continue;
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void WriteLabels(const std::string& path, const std::vector<ClusterLabel>& labels) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const ClusterLabel& label : labels) {
    out << label.cluster << ' ' << label.category << ' ' << label.count << '\n';
  }
  out.flush();
  if (!out) throw HostError("cannot write " + path);
}

std::map<std::string, std::string> ReadLabels(const std::string& path, bool* found) {
  std::map<std::string, std::string> labels;
  std::ifstream in(path, std::ios::binary);
  *found = static_cast<bool>(in);
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    std::istringstream fields(line);
    std::string cluster, category, rest;
    std::uint64_t count = 0;
    if (!(fields >> cluster >> category >> count) || (fields >> rest)) {
      throw HostError(path + ":" + std::to_string(number) +
                      ": not a 'CLUSTER CATEGORY COUNT' line");
    }
    labels[cluster] = category;
  }
  return labels;
}

CKnnFeatureMeter::CKnnFeatureMeter(const std::u16string& librariesDir)
    : m_engines(new assl::CEnginesHandle()) {
  try {
    ascommon::usstring dir;
    if (dir.assign(librariesDir.c_str()) != 0) throw std::bad_alloc();
    m_engines->SetRegexLibrary(dir);
    m_engines->CreateCodeHeurEngine();
    // Expression features run through the rule engine; an engine without rules does.
    m_engines->LoadRuleFiles(nullptr, 0);
    m_converter.Init(librariesDir.c_str(), true);
  } catch (const AException& e) {
    throw HostError(std::string("knn: ") + e.what());
  } catch (const std::bad_alloc&) {
    throw HostError("knn: out of memory");
  }
}

CKnnFeatureMeter::~CKnnFeatureMeter() = default;

std::unique_ptr<CFeatureSet> CKnnFeatureMeter::Measure(const std::string& source,
                                                       const IFeatureDefinitions& definitions,
                                                       assl::ContextInterface& context) {
  auto set = std::make_unique<CFeatureSet>();
  if (set->SetName(source.c_str()) != 0) throw std::bad_alloc();
  FillFeatureSet(*set, definitions, m_engines.get(), &context);
  return set;
}

void CKnnFeatureMeter::MeasureFile(const std::string& path, const IFeatureDefinitions& definitions,
                                   const ItemVisitor& visit,
                                   const std::function<void(const std::string&)>& failed) {
  auto measureFailed = [&](const std::string& source, const char* what) {
    failed(source + ": features: " + what);
  };
  if (IsPageFile(path)) {
    CPageItem page(ReadPageBytes(path), PageFileUrl(path), kPageThreshold);
    assl::CHttpContextInterface context;
    try {
      context.Init(&page.Item());
      visit(path, Measure(path, definitions, context));
    } catch (const AException& e) {
      measureFailed(path, e.what());
    } catch (const std::bad_alloc&) {
      measureFailed(path, "out of memory");
    }
    return;
  }
  CMailReader reader(path);
  for (;;) {
    MailMessage message;
    try {
      if (!reader.Next(message)) break;
    } catch (const HostError& e) {
      failed(e.what());
      continue;
    }
    try {
      CMailItem item(message.bytes);
      assl::CEmlContextInterface mail(&m_converter);
      mail.Init(&item.Item());
      visit(message.source, Measure(message.source, definitions, mail));
    } catch (const AException& e) {
      measureFailed(message.source, e.what());
    } catch (const std::bad_alloc&) {
      measureFailed(message.source, "out of memory");
    }
  }
}

std::string FeatureText(const CAFeature& feature) {
  const ascommon::sstring text = feature.Serialize();
  return text.c_str() != nullptr ? std::string(text.c_str(), text.length()) : std::string();
}

}  // namespace zzhost
