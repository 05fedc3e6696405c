// The MD5 digests on the list filters' paths: the category keys of one URL's pieces (three
// messages digested in lock-step, as the advanced filter does per page), and a list file's
// digest check (one long message).
#include <benchmark/benchmark.h>

#include <string>

#include "common/md5.h"
#include "engines/urldb2/categorykey.h"

namespace {

// Pieces as a request stream gives them: an address of one or two blocks, a host, and a
// domain (a distinct text: the filter digests equal pieces once).
void BM_CategoryKeysOfPieces(benchmark::State& state) {
  const std::string path = "www.hubchatdeo.com.cn/page/api/v1/search/" +
                           std::string(static_cast<std::size_t>(state.range(0)), 'x');
  const ascommon::CategoryText texts[3] = {
      {path.data(), path.size()}, {"www.hubchatdeo.com.cn", 21}, {"hubchatdeo.com.cn", 17}};
  std::uint64_t keys[3];
  for (auto _ : state) {
    ascommon::CategoryKeysOf(texts, 3, keys);
    benchmark::DoNotOptimize(keys);
  }
}
BENCHMARK(BM_CategoryKeysOfPieces)->Arg(0)->Arg(40);

void BM_Md5File(benchmark::State& state) {
  const std::string data(1 << 20, 'k');
  std::uint8_t digest[ascommon::CMD5::kDigestSize];
  for (auto _ : state) {
    ascommon::CMD5::Digest(data.data(), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_Md5File);

}  // namespace
