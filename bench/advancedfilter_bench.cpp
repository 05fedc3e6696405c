// Cost of Process per URL: the advanced list filter with all eighteen lists loaded (100,000
// entries each) beside the BW list filter (1,000,000-key black list, 10,000-key white list),
// over the same mix of URLs (parsed beforehand, as the host hands them over): one in six on
// a category list, one in six on the black list, one in twenty on a white list, the rest on
// none. Each iteration empties the item as the host's "urls" command does between URLs.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "itemfields.h"
#include "modnames.h"
#include "parentalbwlistadvancedfilter/parentalbwlistadvancedfilter.h"
#include "parentalbwlistfilter/parentalbwlistfilter.h"

namespace {

namespace fs = std::filesystem;
using nsHttpModules::kCategoryLists;
using nsHttpModules::kListCount;

constexpr int kEntriesPerList = 100000;

class BenchSettings : public CASettings {
 public:
  explicit BenchSettings(const std::string& folder) : m_folder(folder.begin(), folder.end()) {}
  std::uint32_t GetIntValue(std::uint32_t, const char16_t*, std::uint32_t d) override { return d; }
  const char16_t* GetStringValue(const char16_t*) override { return m_folder.c_str(); }

 private:
  std::u16string m_folder;
};

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Entry j of list i, as a URL: a page, a host or a whole site.
std::string CategoryURL(int list, int j) {
  const std::string site = "c" + std::to_string(list) + "site" + std::to_string(j) +
                           (j % 3 == 0 ? ".co.uk" : ".com");
  switch (j % 3) {
    case 0: return "http://www." + site + "/";
    case 1: return "http://news." + site + "/";
    default: return "http://" + site + "/articles/" + std::to_string(j) + ".html";
  }
}

std::string Site(int i) { return "site" + std::to_string(i) + (i % 3 == 0 ? ".co.uk" : ".com"); }

void WriteCategory(const fs::path& file, int list) {
  ascommon::CURLCategoryDB db;
  ascommon::CParsedURL parsed;
  for (int j = 0; j < kEntriesPerList; ++j) {
    const std::string url = CategoryURL(list, j);
    parsed.ParseURL(url.data(), url.size());
    const char* texts[3];
    std::size_t lengths[3];
    parsed.GetPathLower(texts[0], lengths[0]);
    parsed.GetHostLower(texts[1], lengths[1]);
    parsed.GetDomainLower(texts[2], lengths[2]);
    ascommon::CCategoryProbe probe;
    probe.Set(texts, lengths);
    for (int p = 0; p < 3; ++p) db.AddKey(static_cast<ascommon::ECategoryPiece>(p), probe.keys[p]);
  }
  db.WriteFile(Wide(file.string()).c_str(), Wide(file.parent_path().string()).c_str());
}

void WriteList(const fs::path& file, int first, int count) {
  ascommon::CURLDB db;
  for (int i = first; i < first + count; ++i) {
    auto* item = new ascommon::CURL();
    const std::string key = Site(i);
    item->SetKey(key.data(), key.size());
    db.ApplyItem(1, item);
  }
  db.UnloadURLsToFile(Wide(file.string()).c_str(), Wide(file.parent_path().string()).c_str());
}

template <class Filter>
void Open(Filter& filter, CASettings& settings) {
  filter.SetSettings(&settings);
  filter.SetSharedData(filter.CreateSharedData());
  filter.SetSessionData(0, filter.CreateSessionData());
  filter.SetSessionActive(0, 1);
  filter.ReloadSharedData();
  filter.ReloadSessionSettings(0);
}

template <class Filter>
void Close(Filter& filter) {
  filter.DestroySessionData(filter.GetSessionData(0));
  filter.DestroySharedData(filter.GetSharedData());
}

struct Fixture {
  Fixture() : folder(fs::temp_directory_path() / ("zz-advbench-" + std::to_string(::getpid()))),
              settings(folder.string()) {
    fs::create_directories(folder);
    for (int i = 0; i < kListCount; ++i) {
      const char16_t* name = kCategoryLists[i].dataFile;
      WriteCategory(folder / std::string(name, name + std::char_traits<char16_t>::length(name)), i);
    }
    WriteList(folder / "prlblk.cas", 0, 1000000);
    WriteList(folder / "prlwht.cas", 2000000, 10000);
    Open(advanced, settings);
    Open(bwlist, settings);
    for (int i = 0; i < 4096; ++i) {
      std::string url;
      if (i % 3 == 0) {  // on one of the 16 first category lists, or on the black list
        url = (i / 3) % 2 == 0 ? CategoryURL(i % 16, i * 97 % kEntriesPerList)
                               : "http://www." + Site(i * 97 % 1000000) + "/x?q=1";
      } else if (i % 20 == 1) {  // on the category white list, or on the BW white list
        url = (i / 20) % 2 == 0 ? CategoryURL(kListCount - 1, i % kEntriesPerList)
                                : "https://" + Site(2000000 + i % 10000) + "/";
      } else {
        url = "http://cdn" + std::to_string(i) + "." + Site(5000000 + i) + "/img/x.png";
      }
      auto parsed = std::make_unique<ascommon::CParsedURL>();
      parsed->ParseURL(url.data(), url.size());
      urls.push_back(std::move(parsed));
    }
  }
  ~Fixture() {
    Close(advanced);
    Close(bwlist);
    fs::remove_all(folder);
  }
  fs::path folder;
  BenchSettings settings;
  nsHttpModules::CParentalBWListAdvancedFilter advanced{
      nsHttpModules::g_strHttpParentalBWListAdvancedFilter};
  nsHttpModules::CParentalBWListFilter bwlist{nsHttpModules::g_strHttpParentalBWListFilter};
  std::vector<std::unique_ptr<ascommon::CParsedURL>> urls;
};

Fixture& Shared() {
  static Fixture* fixture = new Fixture();  // built once, shared by every benchmark
  return *fixture;
}

// Runs work(item) on an item that holds the next URL of the fixture, emptied before each.
template <class Work>
void RunPerUrl(benchmark::State& state, Work&& work) {
  Fixture& fixture = Shared();
  ascommon::CBlackBox ext;
  AItem item(&ext);
  std::size_t i = 0;
  for (auto _ : state) {
    ascommon::CBlackBox& bb = item.GetBlackBox();
    bb.RemoveAll();
    ext.RemoveAll();
    bb.SetGenericObject(nsHttpModules::ItemField::kUrlInfo, fixture.urls[i].get());
    work(item);
    benchmark::DoNotOptimize(bb.GetCount() + ext.GetCount());
    i = (i + 1) % fixture.urls.size();
  }
  state.SetItemsProcessed(state.iterations());
}

template <class... Filters>
void RunProcess(benchmark::State& state, Filters&... filters) {
  RunPerUrl(state, [&](AItem& item) { (filters.Process(0, &item, 0), ...); });
}

void BM_BWListProcess(benchmark::State& state) { RunProcess(state, Shared().bwlist); }
void BM_AdvancedProcess(benchmark::State& state) { RunProcess(state, Shared().advanced); }
void BM_BothProcess(benchmark::State& state) {
  RunProcess(state, Shared().bwlist, Shared().advanced);
}
// The floor of the advanced filter: the 18 one-byte results it must store in the item
// blackbox and the summary flag in bbext, with no lookup at all.
void BM_ItemStoresOnly(benchmark::State& state) {
  RunPerUrl(state, [](AItem& item) {
    for (const auto& list : kCategoryLists) item.GetBlackBox().SetBool(false, list.resultKey, true);
    item.GetExtBlackBox()->SetBool(false, nsHttpModules::ItemField::kListSummaryFlag, true);
  });
}

BENCHMARK(BM_BWListProcess);
BENCHMARK(BM_ItemStoresOnly);
BENCHMARK(BM_AdvancedProcess);
BENCHMARK(BM_BothProcess);

}  // namespace
