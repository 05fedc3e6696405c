// Cost of the BW list filter's Process per URL with a 1,000,000-key black list and a
// 10,000-key white list, over a mix of listed and unlisted URLs (parsed beforehand, as the
// host hands them over).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "itemfields.h"
#include "modnames.h"
#include "parentalbwlistfilter/parentalbwlistfilter.h"

namespace {

namespace fs = std::filesystem;

class BenchSettings : public CASettings {
 public:
  explicit BenchSettings(const std::string& folder) : m_folder(folder.begin(), folder.end()) {}
  std::uint32_t GetIntValue(std::uint32_t, const char16_t*, std::uint32_t d) override { return d; }
  const char16_t* GetStringValue(const char16_t*) override { return m_folder.c_str(); }

 private:
  std::u16string m_folder;
};

std::string Site(int i) { return "site" + std::to_string(i) + (i % 3 == 0 ? ".co.uk" : ".com"); }

void WriteList(const fs::path& file, int first, int count) {
  ascommon::CURLDB db;
  for (int i = first; i < first + count; ++i) {
    auto* item = new ascommon::CURL();
    const std::string key = Site(i);
    item->SetKey(key.data(), key.size());
    db.ApplyItem(1, item);
  }
  const std::string path = file.string();
  const std::string folder = file.parent_path().string();
  const std::u16string widePath(path.begin(), path.end());
  const std::u16string wideFolder(folder.begin(), folder.end());
  db.UnloadURLsToFile(widePath.c_str(), wideFolder.c_str());
}

struct Fixture {
  Fixture() : folder(fs::temp_directory_path() / ("zz-bwbench-" + std::to_string(::getpid()))),
              settings(folder.string()) {
    fs::create_directories(folder);
    WriteList(folder / "prlblk.cas", 0, 1000000);
    WriteList(folder / "prlwht.cas", 2000000, 10000);
    filter.SetSettings(&settings);
    filter.SetSharedData(filter.CreateSharedData());
    filter.SetSessionData(0, filter.CreateSessionData());
    filter.SetSessionActive(0, 1);
    filter.ReloadSharedData();
    // One URL in three on the black list, one in twenty on the white list, the rest unlisted.
    for (int i = 0; i < 4096; ++i) {
      std::string url;
      if (i % 3 == 0) {
        url = "http://www." + Site(i * 97 % 1000000) + "/path/page.html?q=" + std::to_string(i);
      } else if (i % 20 == 1) {
        url = "https://" + Site(2000000 + i % 10000) + "/";
      } else {
        url = "http://cdn" + std::to_string(i) + "." + Site(5000000 + i) + "/img/x.png";
      }
      auto parsed = std::make_unique<ascommon::CParsedURL>();
      parsed->ParseURL(url.data(), url.size());
      urls.push_back(std::move(parsed));
    }
  }
  ~Fixture() {
    filter.DestroySessionData(filter.GetSessionData(0));
    filter.DestroySharedData(filter.GetSharedData());
    fs::remove_all(folder);
  }
  fs::path folder;
  BenchSettings settings;
  nsHttpModules::CParentalBWListFilter filter{nsHttpModules::g_strHttpParentalBWListFilter};
  std::vector<std::unique_ptr<ascommon::CParsedURL>> urls;
};

void BM_BWListProcess(benchmark::State& state) {
  static Fixture* fixture = new Fixture();  // built once, shared by the repetitions
  ascommon::CBlackBox ext;
  AItem item(&ext);
  std::size_t i = 0;
  for (auto _ : state) {
    ascommon::CBlackBox& bb = item.GetBlackBox();
    bb.RemoveAll();
    bb.SetGenericObject(nsHttpModules::ItemField::kUrlInfo, fixture->urls[i].get());
    fixture->filter.Process(0, &item, 0);
    benchmark::DoNotOptimize(bb.GetCount());
    i = (i + 1) % fixture->urls.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BWListProcess);

}  // namespace
