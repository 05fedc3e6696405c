// The URL commands: "url" shows how an address is cut into the pieces the lists are keyed
// by; "urls" runs the list filters over a stream of request lines, one item per URL, for
// millions of URLs in one run (input read in large blocks, output buffered).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "commands.h"
#include "common/urlutils.h"
#include "errors.h"
#include "itemfields.h"
#include "json.h"
#include "verdicts.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

using nsHttpModules::ItemField::kUrlInfo;
using nsHttpModules::ItemField::kUrlText;

// Output buffered in one string, written in large blocks.
class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* out) : m_out(out) { m_text.reserve(kFlushAt + 4096); }
  ~OutputBuffer() { Flush(); }
  std::string& Text() { return m_text; }
  void LineDone() {
    m_text += '\n';
    if (m_text.size() >= kFlushAt) Flush();
  }
  void Flush() {
    if (!m_text.empty()) std::fwrite(m_text.data(), 1, m_text.size(), m_out);
    m_text.clear();
  }

 private:
  static constexpr std::size_t kFlushAt = 1 << 16;
  std::FILE* m_out;
  std::string m_text;
};

// Calls onLine for every line of the file (no terminator), reading in large blocks.
template <class F>
void ForEachLine(std::FILE* in, const std::string& name, F&& onLine) {
  std::string pending;
  char block[1 << 16];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, in)) > 0) {
    std::string_view chunk(block, n);
    std::size_t start = 0;
    for (std::size_t end; (end = chunk.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
      if (pending.empty()) {
        onLine(chunk.substr(start, end - start));
      } else {
        pending.append(chunk.substr(start, end - start));
        onLine(std::string_view(pending));
        pending.clear();
      }
    }
    pending.append(chunk.substr(start));
  }
  if (std::ferror(in)) throw HostError("cannot read " + name + ": " + std::strerror(errno));
  if (!pending.empty()) onLine(std::string_view(pending));
}

// The URL of a request line: its first blank-separated field ("" for a blank line).
std::string_view FirstField(std::string_view line) {
  std::size_t begin = 0;
  while (begin < line.size() && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  std::size_t end = begin;
  while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
  return line.substr(begin, end - begin);
}

int RunUrl(CommandContext& context) {
  context.ExpectArgs(1, static_cast<std::size_t>(-1));
  OutputBuffer out(context.Out());
  ascommon::CParsedURL parsed;
  for (const std::string& arg : context.Args()) {
    std::string& line = out.Text();
    line += "{\"url\": ";
    AppendJsonString(line, arg);
    const std::int32_t status = parsed.ParseURL(arg.data(), arg.size());
    if (status != 0) {
      line += ", \"error\": " + std::to_string(status) + "}";
      out.LineDone();
      continue;
    }
    using Getter = void (ascommon::CParsedURL::*)(const char*&, std::size_t&) const noexcept;
    static constexpr std::pair<const char*, Getter> kPieces[] = {
        {", \"escaped\": ", &ascommon::CParsedURL::GetURL},
        {", \"path\": ", &ascommon::CParsedURL::GetPathLower},
        {", \"host\": ", &ascommon::CParsedURL::GetHostLower},
        {", \"domain\": ", &ascommon::CParsedURL::GetDomainLower}};
    for (const auto& [key, get] : kPieces) {
      const char* text;
      std::size_t length;
      (parsed.*get)(text, length);
      line += key;
      AppendJsonStringOrNull(line, text, length);
    }
    line += '}';
    out.LineDone();
  }
  return 0;
}

// The list filters of the module, as the host sees them for this run.
struct ListFilters {
  CAFilter* bwlist = nullptr;    // null when not active for the session
  CAFilter* advanced = nullptr;  // null when not active for the session
};

ListFilters OpenListFilters(CommandContext& context) {
  CModuleHost& host = context.OpenEnabledFilters();
  const std::uint32_t session = context.Options().session;
  ListFilters filters;
  auto active = [&](const char16_t* name) -> CAFilter* {
    HostedFilter* hosted = host.FindFilter(name);
    return hosted != nullptr && hosted->IsActive(session) ? hosted->filter : nullptr;
  };
  filters.bwlist = active(u"Http Parental BWList Filter");
  filters.advanced = active(u"Http Parental BWList Advanced Filter");
  return filters;
}

int RunUrls(CommandContext& context) {
  context.ExpectArgs(0, 1);
  const bool fromStdin = context.Args().empty() || context.Args()[0] == "-";
  const std::string name = fromStdin ? "standard input" : context.Args()[0];
  std::FILE* in = fromStdin ? stdin : std::fopen(name.c_str(), "rb");
  if (in == nullptr) throw HostError("cannot open " + name + ": " + std::strerror(errno));
  struct Closer {
    std::FILE* file;
    bool owned;
    ~Closer() {
      if (owned) std::fclose(file);
    }
  } closer{in, !fromStdin};

  const ListFilters filters = OpenListFilters(context);
  const std::uint32_t session = context.Options().session;
  OutputBuffer out(context.Out());
  // One item carries every URL in turn: emptied between URLs, its tables are built once.
  ascommon::CBlackBox ext;
  AItem item(&ext);
  ascommon::CBlackBox& bb = item.GetBlackBox();
  ascommon::CParsedURL parsed;
  std::u16string wide;
  ForEachLine(in, name, [&](std::string_view line) {
    const std::string_view url = FirstField(line);
    if (url.empty()) return;
    bb.RemoveAll();
    ext.RemoveAll();
    // A URL the parser refuses still gets an item; the filters then report it themselves.
    if (parsed.ParseURL(url.data(), url.size()) == 0) bb.SetGenericObject(kUrlInfo, &parsed);
    wide.clear();
    zzplat::AppendUtf8AsUtf16Lenient(url, wide);
    bb.SetUCharBuf(wide.c_str(), kUrlText, true);
    for (CAFilter* filter : {filters.bwlist, filters.advanced}) {
      if (filter == nullptr) continue;
      CModuleHost::Call("Process", [&] { filter->Process(session, &item, 0); });
    }
    std::string& text = out.Text();
    text += "{\"url\": ";
    AppendJsonString(text, url);
    AppendListVerdictsJson(text, ReadListVerdicts(bb, ext, filters.advanced != nullptr));
    text += '}';
    out.LineDone();
  });
  return 0;
}

}  // namespace

int RunUrlCommand(CommandContext& context) { return RunUrl(context); }
int RunUrlsCommand(CommandContext& context) { return RunUrls(context); }

}  // namespace zzhost
