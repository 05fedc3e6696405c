// HTML parser throughput on real pages: every .html/.htm file under /usr/share/doc (or the
// folder named by ZAZOZOR_HTML_CORPUS), read into memory once, at most 50 MB.
//
//   BM_HTMLParser2_ParseAndText        CHTMLParser2::parse + getAllText on the UTF-16 page
//   BM_HTMLParser2_DecodeParseAndText  the same, plus the host's UTF-8 -> UTF-16 decoding
//   BM_LibXml2_ReadMemory              libxml2 htmlReadMemory + xmlFreeDoc on the bytes
//   BM_LibXml2_ReadMemoryAndText       the same, plus xmlNodeGetContent of the root
//
// Throughput (bytes_per_second) counts the page bytes as read from disk for every variant.
// The libxml2 variants exist when the build found libxml2 (ZZ_BENCH_LIBXML2).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "common/convert.h"
#include "engines/htmlparser2/htmlparser2.h"

#if defined(ZZ_BENCH_LIBXML2)
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

namespace {

constexpr std::size_t kCorpusLimit = 50u * 1024 * 1024;

struct Page {
  std::string bytes;
  std::u16string wide;
};

// The host's decoding: UTF-8, and where the bytes are not valid UTF-8, one unit per byte
// (Windows-1252 differs from that only in 0x80..0x9F, which does not matter for speed).
std::u16string Decode(const std::string& bytes) {
  std::u16string wide(bytes.size(), u'\0');
  std::size_t produced = 0;
  if (ascommon::Utf8ToUtf16(bytes.data(), bytes.size(), wide.data(), wide.size(), produced) ==
      0) {
    wide.resize(produced);
    return wide;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    wide[i] = static_cast<unsigned char>(bytes[i]);
  }
  return wide;
}

struct Corpus {
  std::vector<Page> pages;
  std::size_t bytes = 0;

  Corpus() {
    namespace fs = std::filesystem;
    const char* folder = std::getenv("ZAZOZOR_HTML_CORPUS");
    const fs::path root = folder != nullptr ? folder : "/usr/share/doc";
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                             error),
         end;
         it != end; it.increment(error)) {
      if (error) break;
      const std::string extension = it->path().extension().string();
      if ((extension == ".html" || extension == ".htm") && it->is_regular_file(error)) {
        files.push_back(it->path());
      }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (content.empty() || bytes + content.size() > kCorpusLimit) continue;
      bytes += content.size();
      pages.push_back({content, Decode(content)});
    }
  }
};

const Corpus& GetCorpus() {
  static const Corpus corpus;
  return corpus;
}

bool Ready(benchmark::State& state, const Corpus& corpus) {
  if (corpus.pages.empty()) {
    state.SkipWithError("no HTML files found");
    return false;
  }
  state.counters["pages"] = static_cast<double>(corpus.pages.size());
  state.counters["MB"] = static_cast<double>(corpus.bytes) / (1024.0 * 1024.0);
  return true;
}

void BM_HTMLParser2_ParseAndText(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  if (!Ready(state, corpus)) return;
  for (auto _ : state) {
    for (const Page& page : corpus.pages) {
      CHTMLParser2 document;
      benchmark::DoNotOptimize(document.parse(page.wide.data(), page.wide.size(), false, false));
      const ascommon::usstring text = document.getAllText();
      benchmark::DoNotOptimize(text.c_str());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
}
BENCHMARK(BM_HTMLParser2_ParseAndText)->Unit(benchmark::kMillisecond);

void BM_HTMLParser2_DecodeParseAndText(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  if (!Ready(state, corpus)) return;
  for (auto _ : state) {
    for (const Page& page : corpus.pages) {
      const std::u16string wide = Decode(page.bytes);
      CHTMLParser2 document;
      benchmark::DoNotOptimize(document.parse(wide.data(), wide.size(), false, false));
      const ascommon::usstring text = document.getAllText();
      benchmark::DoNotOptimize(text.c_str());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
}
BENCHMARK(BM_HTMLParser2_DecodeParseAndText)->Unit(benchmark::kMillisecond);

#if defined(ZZ_BENCH_LIBXML2)
constexpr int kLibXml2Options =
    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;

void BM_LibXml2_ReadMemory(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  if (!Ready(state, corpus)) return;
  xmlInitParser();
  for (auto _ : state) {
    for (const Page& page : corpus.pages) {
      htmlDocPtr document = htmlReadMemory(page.bytes.data(), static_cast<int>(page.bytes.size()),
                                           nullptr, nullptr, kLibXml2Options);
      benchmark::DoNotOptimize(document);
      if (document != nullptr) xmlFreeDoc(document);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
}
BENCHMARK(BM_LibXml2_ReadMemory)->Unit(benchmark::kMillisecond);

void BM_LibXml2_ReadMemoryAndText(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  if (!Ready(state, corpus)) return;
  xmlInitParser();
  for (auto _ : state) {
    for (const Page& page : corpus.pages) {
      htmlDocPtr document = htmlReadMemory(page.bytes.data(), static_cast<int>(page.bytes.size()),
                                           nullptr, nullptr, kLibXml2Options);
      if (document == nullptr) continue;
      xmlChar* text = xmlNodeGetContent(xmlDocGetRootElement(document));
      benchmark::DoNotOptimize(text);
      xmlFree(text);
      xmlFreeDoc(document);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
}
BENCHMARK(BM_LibXml2_ReadMemoryAndText)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
