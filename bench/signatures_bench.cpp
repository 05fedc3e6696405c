// Pages per second through the signatures filter's Process at 10, 100 and 1,000 rules.
// The rules are generated like a real rule set: exact matches on the address and regexes on
// the raw page, its lower-cased form and the title, almost none of them matching. Every rule
// is a signature, so a page runs them all in priority order until the last one, which hits
// and writes the verdict. The page (about 32 KB of HTML with links and a title) is filled
// once, the way the host fills it; each iteration is one Process call on it.
// BM_SignaturesPages (registered when its two environment variables are set, see below) runs
// the filter over real pages and rules instead.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "itemfields.h"
#include "modnames.h"
#include "page_item.h"
#include "parentalsignfilter/parentalsignfilter.h"

namespace {

namespace fs = std::filesystem;

class BenchSettings : public CASettings {
 public:
  BenchSettings(const fs::path& data, const fs::path& libs)
      : m_data(Wide(data.string())), m_libs(Wide(libs.string())) {}
  std::uint32_t GetIntValue(std::uint32_t, const char16_t*, std::uint32_t d) override { return d; }
  const char16_t* GetStringValue(const char16_t* key) override {
    return std::u16string_view(key) == u"/http/global/SharedLibsPath" ? m_libs.c_str()
                                                                       : m_data.c_str();
  }

 private:
  static std::u16string Wide(const std::string& text) { return {text.begin(), text.end()}; }
  std::u16string m_data;
  std::u16string m_libs;
};

// Rule i of n: five kinds in turn, none matching the page; the last rule matches its title.
std::string Rule(int i, int n) {
  const std::string name = "Rule" + std::to_string(i);
  const std::string tag = std::to_string(i * 7919 % 100000);
  std::string condition;
  switch (i % 5) {
    case 0: condition = "\"casino" + tag + "\", HTML::Url, EXACT_INSENSITIVE"; break;
    case 1: condition = R"r("\b(?:cheap|free)\s+pills?)r" + tag + R"r(\b", HTML::Body, REGEX)r"; break;
    case 2:
      condition = R"r("(?:win|earn) \$\d+ (?:now|today) )r" + tag + R"r(", HTML::Body, REGEX_INSENSITIVE)r";
      break;
    case 3: condition = R"r("^(?:adult|xxx)[ -]?)r" + tag + R"r(", HTML::Title, REGEX)r"; break;
    default: condition = "\"/promo/" + tag + "/\", HTML::Url, EXACT"; break;
  }
  if (i == n - 1) condition = R"r("Garden (?:club|society)", HTML::Title, REGEX)r";
  return "rule " + name + " {\n  condition: match(" + condition +
         ");\n  actions: mark(\"hit\", 10);\n  metadata: priority = " + std::to_string(n - i) +
         ";\n}\n";
}

// About 32 KB: a title, paragraphs of ordinary words with numbers, a link every paragraph.
std::string Page() {
  static const char* const kWords[] = {"garden", "roses", "water", "spring", "members",
                                       "meeting", "the", "and", "of", "soil", "seeds", "2024",
                                       "prize", "tomatoes", "weekly", "club", "free", "tips"};
  std::string page = "<html><head><title>Garden club news</title></head><body>\n";
  for (int p = 0; page.size() < 32 * 1024; ++p) {
    page += "<p>";
    for (int w = 0; w < 60; ++w) {
      page += kWords[(p * 31 + w * 7) % (sizeof(kWords) / sizeof(kWords[0]))];
      page += w % 12 == 11 ? ". " : " ";
    }
    page += "<a href=\"http://garden.example/p/" + std::to_string(p) + "\">more</a></p>\n";
  }
  return page + "</body></html>\n";
}

// One signatures filter over the rules of a data folder.
struct SignFilter {
  explicit SignFilter(const fs::path& data)
      : settings(data, fs::read_symlink("/proc/self/exe").parent_path()) {
    filter.SetSettings(&settings);
    filter.SetSharedData(filter.CreateSharedData());
    filter.SetSessionData(0, filter.CreateSessionData());
    filter.SetSessionActive(0, 1);
    filter.ReloadSharedData();
  }
  ~SignFilter() {
    filter.DestroySessionData(filter.GetSessionData(0));
    filter.DestroySharedData(filter.GetSharedData());
  }
  BenchSettings settings;
  nsHttpModules::CParentalSignFilter filter{nsHttpModules::g_strHttpParentalSignaturesFilter};
};

fs::path ScratchFolder(int n) {
  fs::path folder = fs::temp_directory_path() /
                    ("zz-signbench-" + std::to_string(::getpid()) + "-" + std::to_string(n));
  fs::create_directories(folder);
  std::ofstream rules(folder / "pc_sign.slf");
  for (int i = 0; i < n; ++i) rules << Rule(i, n);
  return folder;
}

// n generated rules in a scratch folder, and the sample page's item.
struct Workload {
  explicit Workload(int n)
      : folder(ScratchFolder(n)), sign(folder), page(Page(), "http://garden.example/news/", 50) {}
  ~Workload() { fs::remove_all(folder); }
  fs::path folder;
  SignFilter sign;
  zzhost::CPageItem page;
};

void BM_SignaturesProcess(benchmark::State& state) {
  static std::map<int, std::unique_ptr<Workload>> workloads;  // built once per rule count
  std::unique_ptr<Workload>& workload = workloads[static_cast<int>(state.range(0))];
  if (!workload) workload = std::make_unique<Workload>(static_cast<int>(state.range(0)));
  AItem& item = workload->page.Item();
  for (auto _ : state) {
    workload->sign.filter.Process(0, &item, 0);
  }
  // The last rule hit: its name is the verdict.
  std::string hit;
  try {
    hit = item.GetBlackBox().GetCharBuf(nsHttpModules::ItemField::kSignatureRule);
  } catch (...) {  // absent: no rule hit
  }
  if (hit != "Rule" + std::to_string(state.range(0) - 1)) {
    state.SkipWithError("the last rule did not decide the page");
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["page_bytes"] = static_cast<double>(Page().size());
}

// With ZZ_SIGN_BENCH_DATA (a data folder with pc_sign.slf) and ZZ_SIGN_BENCH_PAGES (a file
// of page paths, one a line): Process on each of those pages, each filled once
// beforehand; one iteration is one pass over all of them (bench/signatures_vs_spamassassin.sh
// runs it on the converted SpamAssassin rules and the mails).
void BM_SignaturesPages(benchmark::State& state) {
  static SignFilter sign(std::getenv("ZZ_SIGN_BENCH_DATA"));
  static std::vector<std::unique_ptr<zzhost::CPageItem>> pages = [] {
    std::vector<std::unique_ptr<zzhost::CPageItem>> items;
    std::ifstream list(std::getenv("ZZ_SIGN_BENCH_PAGES"));
    for (std::string path; std::getline(list, path);) {
      if (!path.empty()) {
        items.push_back(std::make_unique<zzhost::CPageItem>(zzhost::ReadPageBytes(path),
                                                            "file://" + path, 50));
      }
    }
    return items;
  }();
  if (pages.empty()) {
    state.SkipWithError("no pages listed");
    return;
  }
  for (auto _ : state) {
    for (auto& page : pages) sign.filter.Process(0, &page->Item(), 0);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pages.size()));
}

const bool kPagesRegistered = std::getenv("ZZ_SIGN_BENCH_DATA") != nullptr &&
                              std::getenv("ZZ_SIGN_BENCH_PAGES") != nullptr &&
                              benchmark::RegisterBenchmark("BM_SignaturesPages", BM_SignaturesPages)
                                  ->Unit(benchmark::kMicrosecond) != nullptr;

BENCHMARK(BM_SignaturesProcess)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
