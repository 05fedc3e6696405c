// The regular-expression library on a 100 KB page: full-page matches per second of a few
// rule patterns of the kinds signatures use, on the JIT and on the interpreter (kNoJit).
// Each pattern matches only near the end of the page, so every run scans the whole page as a
// rule that misses does. Bytes per second are the page bytes scanned.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "asregex/asregex.h"

extern "C" {
asregex::IRegEx* NewRegEx(const char* pattern, int options, int* errorOffset);
void DeleteRegEx(asregex::IRegEx* regex);
}

namespace {

const char* const kPatterns[] = {
    "(?i)\\b(?:online\\s+)?(?:casino|poker|roulette)\\b",          // words, any case
    "(?i)казино|рулетка",                                          // Cyrillic words
    "<script[^>]*src=[\"'][^\"']*\\.(?:xyz|top)/",                 // an element's attribute
    "\\b\\d{3}[-. ]\\d{3}[-. ]\\d{4}\\b",                          // digits and separators
    "(?i)free\\s+(?:spins|chips)|casino\\s+\\S+\\s+\\d{3}",         // no required literal
};

// About 100 KB of markup and mixed Latin and Cyrillic text; the hits are in the last line.
const std::string& Page() {
  static const std::string page = [] {
    std::string text = "<html><head><title>Weekly notes</title></head><body>\n";
    for (int i = 0; text.size() < 100 * 1024; ++i) {
      text += "<p class=\"n" + std::to_string(i % 7) + "\">The garden club met on day " +
              std::to_string(i) + "; новости школы и спорта, <a href=\"/page" +
              std::to_string(i) + ".html\">more</a> about the fair.</p>\n";
    }
    text += "<script src='http://x.xyz/a.js'></script> casino КАЗИНО 555-123-4567 </body></html>";
    return text;
  }();
  return page;
}

void BM_MatchPage(benchmark::State& state) {
  const char* pattern = kPatterns[state.range(0)];
  const bool jit = state.range(1) != 0;
  asregex::IRegEx* regex = NewRegEx(pattern, jit ? 0 : asregex::kNoJit, nullptr);
  if (regex == nullptr) {
    state.SkipWithError("pattern does not compile");
    return;
  }
  const std::string& page = Page();
  int hits = 0;
  for (auto _ : state) {
    hits += regex->Match(page.data(), page.size(), 0);
  }
  DeleteRegEx(regex);
  if (hits != static_cast<int>(state.iterations())) {
    state.SkipWithError("no match");
  }
  state.SetLabel(jit ? "jit" : "interpreter");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_MatchPage)->ArgNames({"pattern", "jit"})->ArgsProduct({{0, 1, 2, 3, 4}, {1, 0}});

}  // namespace
