// The "categories" command: builds a category file (".dat") from a text file of URLs with
// the category database's own builder, and checks URLs against a category file. It drives
// the URL category engine directly; no module is loaded.
//
//   zazozor categories build TEXT OUT.dat [--log LOG]   one URL per line
//   zazozor categories check FILE.dat URL...             one JSON line per URL
//
// Engine failures are reported with the engine's exception text. Single-threaded.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "common/urlutils.h"
#include "engines/urldb2/urlcategorydb.h"
#include "errors.h"
#include "exe_path.h"
#include "json.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

std::u16string Wide(const std::string& path) { return zzplat::Utf8ToUtf16Lenient(path); }

// "build TEXT OUT [--log LOG]": the positional arguments and the log path ("" without).
struct BuildArgs {
  std::vector<std::string> positional;
  std::string log;
};

BuildArgs ParseBuildArgs(const std::vector<std::string>& args) {
  BuildArgs parsed;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--log") {
      if (i + 1 >= args.size()) throw UsageError("option '--log' needs a file", "categories");
      parsed.log = args[++i];
    } else if (arg.rfind("--log=", 0) == 0) {
      parsed.log = arg.substr(6);
      if (parsed.log.empty()) throw UsageError("option '--log' needs a file", "categories");
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "' for 'categories build'", "categories");
    } else {
      parsed.positional.push_back(arg);
    }
  }
  if (parsed.positional.size() != 2) {
    throw UsageError("'categories build' needs TEXT and OUT.dat", "categories");
  }
  return parsed;
}

int RunBuild(CommandContext& context, const BuildArgs& args) {
  const std::string& textPath = args.positional[0];
  const std::string& outPath = args.positional[1];
  if (!args.log.empty()) {
    // Checked here so that a log that cannot be written stops the build before it starts.
    std::FILE* log = std::fopen(args.log.c_str(), "wb");
    if (log == nullptr) throw HostError("cannot create the log '" + args.log + "'");
    std::fclose(log);
  }
  ascommon::CURLCategoryDB database;
  std::int32_t status = 0;
  try {
    status = database.BuildFromText(Wide(textPath).c_str(), Wide(outPath).c_str(),
                                    args.log.empty() ? nullptr : Wide(args.log).c_str(),
                                    Wide(TempDir()).c_str());
  } catch (const std::exception& e) {
    throw HostError("cannot write '" + outPath + "': " + e.what());
  }
  if (status == ascommon::kCategoryTextNotOpened) {
    throw HostError("cannot read '" + textPath + "'");
  }
  if (status != 0) throw HostError("out of memory (status " + std::to_string(status) + ")");
  std::fprintf(context.Out(), "address keys: %llu, subdomain keys: %llu, domain keys: %llu\n",
               static_cast<unsigned long long>(database.GetCount(ascommon::ECategoryPiece::kAddress)),
               static_cast<unsigned long long>(
                   database.GetCount(ascommon::ECategoryPiece::kSubdomain)),
               static_cast<unsigned long long>(database.GetCount(ascommon::ECategoryPiece::kDomain)));
  return 0;
}

int RunCheck(CommandContext& context, const std::string& filePath,
             const std::vector<std::string>& urls) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(filePath, ec)) {
    throw HostError("cannot read '" + filePath + "': " +
                    (std::filesystem::exists(filePath, ec) ? "not a file" : "no such file"));
  }
  ascommon::CURLCategoryDB database;
  std::int32_t status = 0;
  try {
    status = database.LoadFile(Wide(filePath).c_str(), Wide(TempDir()).c_str());
  } catch (const std::exception& e) {
    throw HostError("cannot load '" + filePath + "': " + e.what());
  }
  if (status == ascommon::kCategoryWrongKeySize) {
    throw HostError("cannot load '" + filePath + "': keys of another size (status -9)");
  }
  if (status != 0) {
    throw HostError("cannot load '" + filePath + "' (status " + std::to_string(status) + ")");
  }
  ascommon::CParsedURL parsed;
  std::string line;
  for (const std::string& url : urls) {
    // A URL the parser refuses has no pieces, so nothing of it is listed.
    if (parsed.ParseURL(url.data(), url.size()) != 0) parsed.Reset();
    const char* text;
    std::size_t length;
    line = "{\"url\": ";
    AppendJsonString(line, url);
    parsed.GetPathLower(text, length);
    line += database.HasURL(text, length) == 1 ? ", \"url_hit\": true" : ", \"url_hit\": false";
    parsed.GetHostLower(text, length);
    line += database.HasSubdomain(text, length) == 1 ? ", \"subdomain_hit\": true"
                                                      : ", \"subdomain_hit\": false";
    parsed.GetDomainLower(text, length);
    line += database.HasDomain(text, length) == 1 ? ", \"domain_hit\": true}\n"
                                                   : ", \"domain_hit\": false}\n";
    std::fputs(line.c_str(), context.Out());
  }
  return 0;
}

}  // namespace

int RunCategories(CommandContext& context) {
  const std::vector<std::string>& args = context.Args();
  if (args.empty()) throw UsageError("'categories' needs more arguments", "categories");
  if (args[0] == "build") return RunBuild(context, ParseBuildArgs(args));
  if (args[0] == "check") {
    context.ExpectArgs(3, static_cast<std::size_t>(-1));
    return RunCheck(context, args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  }
  throw UsageError("unknown 'categories' action '" + args[0] + "': expected build or check",
                   "categories");
}

}  // namespace zzhost
