// The URL commands: "url" shows how an address is cut into the pieces the lists are keyed
// by; "urls" runs the list filters over a stream of request lines, one item per URL, for
// millions of URLs in one run (input read in large blocks, output buffered), on as many
// threads as asked (--threads; the answers keep the input's order).
#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>


#include "commands.h"
#include "common/bytes16.h"
#include "common/urlutils.h"
#include "errors.h"
#include "json.h"
#include "settings.h"
#include "url_decider.h"
#include "verdicts.h"

namespace zzhost {

namespace {

// Output buffered in one string, written in large blocks.
class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* out) : m_out(out) { m_text.reserve(kFlushAt + 4096); }
  ~OutputBuffer() { Flush(); }
  std::string& Text() { return m_text; }
  // Call after appending whole lines (each with its newline).
  void LineDone() {
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

// Offset of the first blank, tab or carriage return in text, or its size.
std::size_t FieldEnd(std::string_view text) {
  std::size_t end = text.size();
  ascommon::bytes16::ForEachBlock(
      text.data(), text.size(), [&](const char* block, unsigned keep, std::size_t base) {
        const unsigned bits = ascommon::bytes16::EqualAny<' ', '\t', '\r'>(block) & keep;
        if (bits == 0) return false;
        end = base + static_cast<std::size_t>(std::countr_zero(bits));
        return true;
      });
  return end;
}

// The URL of a request line: its first blank-separated field ("" for a blank line).
std::string_view FirstField(std::string_view line) {
  std::size_t begin = 0;
  while (begin < line.size() && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  const std::string_view rest = line.substr(begin);
  return rest.substr(0, FieldEnd(rest));
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
      line += ", \"error\": " + std::to_string(status) + "}\n";
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
    line += "}\n";
    out.LineDone();
  }
  return 0;
}

ListFilters OpenListFilters(CommandContext& context) {
  // Only the list filters: a URL needs no rules or dictionary.
  CModuleHost& host = context.OpenEnabledFilters(kListFilterNames, 2);
  return ActiveListFilters(host, context.Options().session);
}

// "urls [--threads N] [FILE]": the input's name ("" or "-" for standard input) and the
// number of threads (default: the number of cores).
struct UrlsArgs {
  std::string input;
  unsigned threads = 0;
};

UrlsArgs ParseUrlsArgs(const std::vector<std::string>& args) {
  UrlsArgs parsed;
  bool haveInput = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--threads") {
      if (i + 1 >= args.size()) throw UsageError("option '--threads' needs a number", "urls");
      value = args[++i];
    } else if (args[i].rfind("--threads=", 0) == 0) {
      value = args[i].substr(10);
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      throw UsageError("unknown option '" + args[i] + "' for 'urls'", "urls");
    } else if (haveInput) {
      throw UsageError("too many arguments", "urls");
    } else {
      parsed.input = args[i];
      haveInput = true;
      continue;
    }
    const std::optional<std::uint32_t> n = ParseUnsigned32(value);
    if (!n || *n < 1 || *n > 256) throw UsageError("--threads is a number from 1 to 256", "urls");
    parsed.threads = *n;
  }
  if (parsed.threads == 0) parsed.threads = std::max(1u, std::thread::hardware_concurrency());
  return parsed;
}

// What one thread needs to answer URLs: a decider and the filters of the session.
class UrlAnswerer {
 public:
  UrlAnswerer(const ListFilters& filters, std::uint32_t session)
      : m_filters(filters), m_session(session) {}

  // Runs the list filters over one URL and appends its JSON line to out. Whatever a
  // filter raises leaves as HostError.
  void Answer(std::string_view url, std::string& out) {
    const ListVerdicts verdicts = m_decider.Decide(url, m_filters, m_session);
    out += R"({"url": )";
    AppendJsonString(out, url);
    AppendListVerdictsJson(out, verdicts);
    out += "}\n";
  }

 private:
  ListFilters m_filters;
  std::uint32_t m_session;
  CUrlDecider m_decider;
};

// A run of consecutive URLs answered by one thread: the URLs' bytes back to back, their
// ends, and the answer lines. error holds what stopped the batch; the lines before the
// failing URL are in out.
struct UrlBatch {
  static constexpr std::size_t kSize = 2048;
  std::string urls;
  std::vector<std::uint32_t> ends;
  std::string out;
  std::exception_ptr error;

  void Clear() {
    urls.clear();
    ends.clear();
    out.clear();
    error = nullptr;
  }
  void Answer(UrlAnswerer& answerer) {
    try {
      std::size_t begin = 0;
      for (const std::uint32_t end : ends) {
        answerer.Answer(std::string_view(urls).substr(begin, end - begin), out);
        begin = end;
      }
    } catch (...) {
      error = std::current_exception();
    }
  }
};

// Answers the URLs on `threads` threads, in rounds of batches: the calling thread reads a
// round, every thread answers batches of it (taken in turn from a shared counter), then
// the calling thread writes the answers in input order. The first failure in input order
// is raised after the lines before it are written, as a single thread would.
void AnswerOnThreads(std::FILE* in, const std::string& name, OutputBuffer& out,
                     std::vector<std::unique_ptr<UrlAnswerer>>& answerers) {
  const std::size_t threads = answerers.size();
  std::vector<UrlBatch> batches(4 * threads);
  std::size_t filled = 0;
  const auto runRound = [&] {
    std::atomic<std::size_t> next{0};
    const auto work = [&](UrlAnswerer& answerer) {
      for (std::size_t b; (b = next.fetch_add(1)) < filled;) batches[b].Answer(answerer);
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work, std::ref(*answerers[t]));
    work(*answerers[0]);
    for (std::thread& helper : helpers) helper.join();
    for (std::size_t b = 0; b < filled; ++b) {
      out.Text() += batches[b].out;
      out.LineDone();
      if (batches[b].error) std::rethrow_exception(batches[b].error);
      batches[b].Clear();
    }
    filled = 0;
  };
  ForEachLine(in, name, [&](std::string_view line) {
    const std::string_view url = FirstField(line);
    if (url.empty()) return;
    UrlBatch& batch = batches[filled];
    batch.urls.append(url);
    batch.ends.push_back(static_cast<std::uint32_t>(batch.urls.size()));
    if (batch.ends.size() == UrlBatch::kSize && ++filled == batches.size()) runRound();
  });
  if (filled < batches.size() && !batches[filled].ends.empty()) ++filled;
  runRound();
}

int RunUrls(CommandContext& context) {
  const UrlsArgs args = ParseUrlsArgs(context.Args());
  const bool fromStdin = args.input.empty() || args.input == "-";
  const std::string name = fromStdin ? "standard input" : args.input;
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
  if (args.threads == 1) {
    UrlAnswerer answerer(filters, session);
    ForEachLine(in, name, [&](std::string_view line) {
      const std::string_view url = FirstField(line);
      if (url.empty()) return;
      answerer.Answer(url, out.Text());
      out.LineDone();
    });
    return 0;
  }
  std::vector<std::unique_ptr<UrlAnswerer>> answerers;
  for (unsigned t = 0; t < args.threads; ++t) {
    answerers.push_back(std::make_unique<UrlAnswerer>(filters, session));
  }
  AnswerOnThreads(in, name, out, answerers);
  return 0;
}

}  // namespace

int RunUrlCommand(CommandContext& context) { return RunUrl(context); }
int RunUrlsCommand(CommandContext& context) { return RunUrls(context); }

}  // namespace zzhost
