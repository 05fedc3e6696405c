// The "lists" command: builds a URL list file (".cas") from a text file of sites or URLs,
// and dumps the keys of a list file. It drives the URL database engine directly; no module
// is loaded.
//
//   zazozor lists build TEXT OUT.cas   one site or URL per line; "#" comments and blank
//                                      lines skipped; each line lower-cased (ASCII) and
//                                      reduced to its site key; each key written once
//   zazozor lists dump FILE.cas        the keys, one per line, ascending byte order
//
// Failures of the engine are reported with the engine's own exception text, taken from the
// trace line it writes before throwing. Single-threaded.
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>

#include "commands.h"
#include "common/asformat.h"
#include "common/astrace.h"
#include "engines/urldb/urldb.h"
#include "errors.h"
#include "exe_path.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

// Keeps the message of the last exception line the engine traces while it is installed.
class LastExceptionCapture : public CATrace {
 public:
  LastExceptionCapture() { m_previous = ascommon::SetTracerForTesting(this); }
  ~LastExceptionCapture() override { ascommon::SetTracerForTesting(m_previous); }
  LastExceptionCapture(const LastExceptionCapture&) = delete;
  LastExceptionCapture& operator=(const LastExceptionCapture&) = delete;

  void SetActive(bool) override {}
  void Write(const char*) override {}
  void Printf(const char*, ...) override {}
  void Trace(unsigned, const char* format, ...) override {
    static constexpr char kExceptionPrefix[] = "[VEVOZOVI EXCEPTION]";
    if (std::string(format).rfind(kExceptionPrefix, 0) != 0) return;
    char line[1024];
    std::va_list args;
    va_start(args, format);
    ascommon::FormatV(line, sizeof line, format, args);
    va_end(args);
    // "[VEVOZOVI EXCEPTION] file:line -TEXT\n": keep TEXT.
    std::string text(line + sizeof kExceptionPrefix);
    if (const std::size_t dash = text.find(" -"); dash != std::string::npos) {
      text.erase(0, dash + 2);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    m_last = text;
  }

  const std::string& Last() const { return m_last; }

 private:
  CATrace* m_previous = nullptr;
  std::string m_last;
};

std::u16string Wide(const std::string& path) { return zzplat::Utf8ToUtf16Lenient(path); }

// Builds a list database; the constructor throws only when memory runs out.
std::unique_ptr<ascommon::CURLDB> NewDatabase() {
  try {
    return std::make_unique<ascommon::CURLDB>();
  } catch (const std::exception& e) {
    throw HostError(std::string("cannot create the URL database: ") + e.what());
  }
}

std::string Trim(const std::string& line) {
  const char* const kBlanks = " \t\r\n\f\v";
  const std::size_t first = line.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  return line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
}

int RunListsBuild(CommandContext& context, const std::string& textPath,
                  const std::string& outPath) {
  std::ifstream in(textPath, std::ios::binary);
  if (!in) throw HostError("cannot read '" + textPath + "'");
  std::unique_ptr<ascommon::CURLDB> database = NewDatabase();
  unsigned long lines = 0, skipped = 0, keyless = 0;
  ascommon::sstring url, key;
  for (std::string line; std::getline(in, line);) {
    ++lines;
    line = Trim(line);
    if (line.empty() || line[0] == '#') {
      ++skipped;
      continue;
    }
    for (char& c : line) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (url.assign(line.c_str(), line.size()) != 0) throw HostError("out of memory");
    const std::int32_t status = database->GetKey(url, key);
    if (status == ascommon::CURLDB::kNoKey) {
      ++keyless;
      std::fprintf(stderr, "zazozor: line %lu: no site key\n", lines);
      continue;
    }
    if (status != 0) throw HostError("out of memory");
    auto* item = new (std::nothrow) ascommon::CURL();
    if (item == nullptr || item->SetKey(key.c_str(), key.length()) != 0) {
      delete item;
      throw HostError("out of memory");
    }
    if (database->ApplyItem(ascommon::kURLDBOpAdd, item) != 0) throw HostError("out of memory");
  }
  if (in.bad()) throw HostError("cannot read '" + textPath + "'");

  LastExceptionCapture capture;
  const std::int32_t status = database->UnloadURLsToFile(Wide(outPath).c_str(),
                                                         Wide(TempDir()).c_str());
  if (status != 0) {
    std::string reason = capture.Last().empty() ? "status " + std::to_string(status)
                                                : capture.Last();
    throw HostError("cannot write '" + outPath + "': " + reason);
  }
  std::fprintf(context.Out(),
               "read %lu lines (%lu skipped, %lu without a site key), wrote %u keys\n", lines,
               skipped, keyless, static_cast<unsigned>(database->GetCount()));
  return 0;
}

int RunListsDump(CommandContext& context, const std::string& listPath) {
  std::error_code ec;
  if (!std::filesystem::exists(listPath, ec)) {
    throw HostError("cannot read '" + listPath + "': no such file");
  }
  if (!std::filesystem::is_regular_file(listPath, ec)) {
    throw HostError("cannot read '" + listPath + "': not a file");
  }
  std::unique_ptr<ascommon::CURLDB> database = NewDatabase();
  LastExceptionCapture capture;
  const std::int32_t status =
      database->Load(Wide(listPath).c_str(), u"", Wide(TempDir()).c_str());
  if (status != 0) {
    std::string reason;
    switch (status) {
      case -13:
        reason = "corrupt list file (bad operation code or truncated record)";
        break;
      case -14:
        reason = "corrupt list file (a key cannot be read)";
        break;
      default:
        reason = capture.Last().empty() ? "cannot load the list" : capture.Last();
        break;
    }
    throw HostError("cannot load '" + listPath + "': " + reason + " (status " +
                    std::to_string(status) + ")");
  }
  std::FILE* out = context.Out();
  if (database->VisitKeysInOrder([out](const char* pKey, std::size_t length) {
        std::fwrite(pKey, 1, length, out);
        std::fputc('\n', out);
      }) != 0) {
    throw HostError("out of memory");
  }
  return 0;
}

}  // namespace

int RunLists(CommandContext& context) {
  context.ExpectArgs(1, 3);
  const std::vector<std::string>& args = context.Args();
  if (args[0] == "build") {
    if (args.size() != 3) throw UsageError("'lists build' needs TEXT and OUT.cas", "lists");
    return RunListsBuild(context, args[1], args[2]);
  }
  if (args[0] == "dump") {
    if (args.size() != 2) throw UsageError("'lists dump' needs exactly one FILE.cas", "lists");
    return RunListsDump(context, args[1]);
  }
  throw UsageError("unknown 'lists' action '" + args[0] + "': expected build or dump", "lists");
}

}  // namespace zzhost
