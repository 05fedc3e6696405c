// The URL database at a real list size: one million site keys. Measures the per-URL lookups
// the BW list filter makes (site lookup and exact lookup, listed and unlisted URLs, on a
// rotating sample that stays in the cache, and site keys of a million hosts, which do
// not) and the time to load (with the heap the loaded keys hold) and to write a
// one-million-key list file (streamer unscramble and digest check included).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engines/urldb/keyset.h"
#include "engines/urldb/urldb.h"
#include "zzplat/paths.h"

namespace {

using ascommon::CURL;
using ascommon::CURLDB;

constexpr std::size_t kKeys = 1000000;
constexpr std::size_t kURLs = 4096;  // a rotating sample, so caches see varied URLs

std::string RandomLabel(std::mt19937& random, std::size_t minLength, std::size_t maxLength) {
  const std::size_t length = minLength + random() % (maxLength - minLength + 1);
  std::string label(length, 'a');
  for (char& c : label) c = static_cast<char>('a' + random() % 26);
  return label;
}

// One million keys (registrable domains under a few top-level suffixes) and URLs on them.
struct Workload {
  std::vector<std::string> keys;
  std::vector<std::string> listedURLs;
  std::vector<std::string> unlistedURLs;
  CURLDB db;
  std::string folder;

  Workload() {
    std::mt19937 random(2024);
    const char* const suffixes[] = {".com", ".net", ".org", ".co.uk", ".de", ".ro", ".com.au"};
    keys.reserve(kKeys);
    CURLDB built;
    for (std::size_t i = 0; i < kKeys; ++i) {
      keys.push_back(RandomLabel(random, 5, 14) + suffixes[random() % 7]);
      auto* item = new CURL();
      item->SetKey(keys.back().data(), keys.back().size());
      built.ApplyItem(ascommon::kURLDBOpAdd, item);
    }
    for (std::size_t i = 0; i < kURLs; ++i) {
      const std::string& key = keys[random() % kKeys];
      listedURLs.push_back("www." + RandomLabel(random, 3, 8) + "." + key + "/news/" +
                           RandomLabel(random, 5, 20) + ".html");
      unlistedURLs.push_back("www." + RandomLabel(random, 5, 14) + "x.org/" +
                             RandomLabel(random, 5, 20));
    }
    char pattern[] = "/tmp/zz_urldb_bench_XXXXXX";
    folder = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    // Looked up as the filters hold a list: loaded from its file.
    const std::u16string path = Wide("start.cas");
    const std::u16string temp = zzplat::Utf8ToUtf16Lenient(folder);
    if (built.UnloadURLsToFile(path.c_str(), temp.c_str()) != 0 ||
        db.Load(path.c_str(), u"", temp.c_str()) != 0) {
      std::fprintf(stderr, "could not write and load the list\n");
    }
  }
  ~Workload() { std::filesystem::remove_all(folder); }

  std::u16string Wide(const std::string& name) const {
    return zzplat::Utf8ToUtf16Lenient(folder + "/" + name);
  }
};

Workload& GetWorkload() {
  static Workload workload;
  return workload;
}

void PerURL(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.counters["ns/URL"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate |
                                                    benchmark::Counter::kInvert);
}

// What the BW list filter does per candidate: site lookup, then exact lookup.
void Lookups(benchmark::State& state, const std::vector<std::string>& urls) {
  const CURLDB& db = GetWorkload().db;
  std::size_t i = 0, hits = 0;
  for (auto _ : state) {
    const std::string& url = urls[i++ % kURLs];
    hits += db.IsListed(url.data(), url.size());
    hits += db.HasEntry(url.data(), url.size());
  }
  benchmark::DoNotOptimize(hits);
  PerURL(state);
}

void BM_LookupListed(benchmark::State& state) { Lookups(state, GetWorkload().listedURLs); }
BENCHMARK(BM_LookupListed);

void BM_LookupUnlisted(benchmark::State& state) { Lookups(state, GetWorkload().unlistedURLs); }
BENCHMARK(BM_LookupUnlisted);

void BM_IsListedOnly(benchmark::State& state) {
  const Workload& workload = GetWorkload();
  std::size_t i = 0, hits = 0;
  for (auto _ : state) {
    const std::string& url = workload.listedURLs[i++ % kURLs];
    hits += workload.db.IsListed(url.data(), url.size());
  }
  benchmark::DoNotOptimize(hits);
  PerURL(state);
}
BENCHMARK(BM_IsListedOnly);

// Site keys of a million different hosts, listed and unlisted alternately, each looked up
// once per pass: as in a real request stream, the set's lines come from memory, not from
// the cache. One lookup (HasEntry, the key already reduced) per iteration.
void BM_SiteKeysCold(benchmark::State& state) {
  const Workload& workload = GetWorkload();
  static const std::vector<std::string> keys = [&] {
    std::mt19937 random(7);
    std::vector<std::string> out;
    out.reserve(kKeys);
    for (std::size_t i = 0; i < kKeys; ++i) {
      out.push_back(i % 2 == 0 ? workload.keys[random() % kKeys]
                               : RandomLabel(random, 5, 14) + "y.com");
    }
    return out;
  }();
  std::size_t i = 0, hits = 0;
  for (auto _ : state) {
    const std::string& key = keys[i];
    if (++i == keys.size()) i = 0;
    hits += workload.db.HasEntry(key.data(), key.size());
  }
  benchmark::DoNotOptimize(hits);
  PerURL(state);
}
BENCHMARK(BM_SiteKeysCold);

// Packing and hashing one key (CKeySet::MakeProbe), as the load does for every key and a
// lookup for every site key: a rotating sample of list keys, in the cache.
void BM_MakeProbe(benchmark::State& state) {
  const Workload& workload = GetWorkload();
  std::size_t i = 0;
  std::uint32_t sum = 0;
  for (auto _ : state) {
    const std::string& key = workload.keys[i++ % kURLs];
    sum += ascommon::CKeySet::MakeProbe(key.data(), key.size()).hash;
  }
  benchmark::DoNotOptimize(sum);
  PerURL(state);
}
BENCHMARK(BM_MakeProbe);

void BM_Unload1M(benchmark::State& state) {
  const Workload& workload = GetWorkload();
  const std::u16string path = workload.Wide("list.cas");
  const std::u16string folder = zzplat::Utf8ToUtf16Lenient(workload.folder);
  for (auto _ : state) {
    if (workload.db.UnloadURLsToFile(path.c_str(), folder.c_str()) != 0) {
      state.SkipWithError("UnloadURLsToFile failed");
    }
  }
  state.counters["keys"] = static_cast<double>(workload.db.GetCount());
}
BENCHMARK(BM_Unload1M)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Load1M(benchmark::State& state) {
  const Workload& workload = GetWorkload();
  const std::u16string path = workload.Wide("list.cas");
  const std::u16string folder = zzplat::Utf8ToUtf16Lenient(workload.folder);
  if (workload.db.UnloadURLsToFile(path.c_str(), folder.c_str()) != 0) {
    state.SkipWithError("UnloadURLsToFile failed");
    return;
  }
  std::uint32_t count = 0;
  std::optional<CURLDB> db;
  double heapMB = 0;
  for (auto _ : state) {
    state.PauseTiming();  // destroying the previous copy and building the suffix table
    db.reset();           // are not part of the load
    db.emplace();
    const std::size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    if (db->Load(path.c_str(), u"", folder.c_str()) != 0) state.SkipWithError("Load failed");
    count = db->GetCount();
    heapMB = static_cast<double>(mallinfo2().uordblks - before) / 1e6;
  }
  state.counters["keys"] = count;
  state.counters["heap MB"] = heapMB;  // what the loaded keys hold (glibc's in-use bytes)
  state.counters["file MB"] =
      static_cast<double>(std::filesystem::file_size(workload.folder + "/list.cas")) / 1e6;
}
BENCHMARK(BM_Load1M)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
