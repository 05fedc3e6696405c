// The blackbox on the per-page path: forced scalar and text writes, one item's life (fill
// the page keys, write the verdicts, destroy), and the string hash the maps key on.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "common/blackbox.h"
#include "common/ustring.h"

namespace {

using ascommon::CBlackBox;

const char kText40[] = "the quick brown fox jumps over a lazy do";  // 40 characters.
const char16_t kWide40[] = u"the quick brown fox jumps over a lazy do";

void BM_SetGetIntForced(benchmark::State& state) {
  CBlackBox bag;
  bag.SetInt(0, 31002, false);
  std::int32_t value = 0;
  for (auto _ : state) {
    bag.SetInt(++value, 31002, true);
    benchmark::DoNotOptimize(bag.GetInt(31002));
  }
}
BENCHMARK(BM_SetGetIntForced);

void BM_SetGetUCharBufForced(benchmark::State& state) {
  CBlackBox bag;
  bag.SetUCharBuf(kWide40, 31001, false);
  for (auto _ : state) {
    bag.SetUCharBuf(kWide40, 31001, true);
    benchmark::DoNotOptimize(bag.GetUCharBuf(31001));
  }
}
BENCHMARK(BM_SetGetUCharBufForced);

// What one page does to its item blackbox: the host fills the read keys, the filters read
// them and write their verdicts, the item is destroyed.
void BM_ItemLife(benchmark::State& state) {
  ascommon::sstring url("http://www.example.test/some/path/index.html");
  ascommon::CBlackBoxObject urlInfo;
  for (auto _ : state) {
    CBlackBox bag;
    bag.SetUCharBuf(kWide40, 30001, false);
    bag.SetCharBuf(kText40, 30002, false);
    bag.SetUCharBuf(kWide40, 30004, false);
    bag.SetCharBuf(kText40, 30005, false);
    bag.SetInt(4096, 30006, false);
    bag.SetCharBuf(kText40, 30008, false);
    bag.SetCharBuf(kText40, 30009, false);
    bag.SetUCharBuf(kWide40, 30010, false);
    bag.SetUCharBuf(kWide40, 30011, false);
    bag.SetUCharBuf(kWide40, 12001, false);
    bag.SetGenericObject(30012, &urlInfo);
    bag.SetInt(70, 31003, false);
    for (std::uint32_t id = 10100; id < 10118; ++id) bag.SetBool(false, id, true);
    benchmark::DoNotOptimize(bag.GetUCharBuf(30001));
    benchmark::DoNotOptimize(bag.GetGenericObject(30012));
    benchmark::DoNotOptimize(bag.GetInt(31003));
    bag.SetBool(true, 31051, true);
    bag.SetUCharBuf(u"white", 31001, true);
    bag.SetInt(12, 31002, true);
  }
}
BENCHMARK(BM_ItemLife);

void BM_SstringHash(benchmark::State& state) {
  const ascommon::sstring text(std::string(static_cast<std::size_t>(state.range(0)), 'k').c_str());
  for (auto _ : state) benchmark::DoNotOptimize(text.hash());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SstringHash)->Arg(16)->Arg(256)->Arg(4096);

void BM_UsstringHash(benchmark::State& state) {
  const std::u16string source(static_cast<std::size_t>(state.range(0)), u'k');
  const ascommon::usstring text(source.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(text.hash());
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_UsstringHash)->Arg(16)->Arg(256)->Arg(4096);

}  // namespace
