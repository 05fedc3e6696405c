// Fuzz target: rules and a page together, as the signatures filter meets them. The input is a
// rule file, a line "--page--", then the page's bytes. The rules are loaded (whatever their
// problems), the signatures run over the page twice on fresh contexts, and: nothing crashes,
// leaks or hangs (regular expressions run under match limits), both runs agree, and the rule
// that decided is among the rules that hit.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "errors.h"
#include "exe_path.h"
#include "fuzz_util.h"
#include "page_item.h"
#include "rule_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find("\n--page--\n");
  if (split == std::string_view::npos) return 0;
  const zzfuzz::fs::path rules = zzfuzz::ScratchDir() / "rules.slf";
  zzfuzz::WriteBytes(rules, input.substr(0, split));
  const std::string_view page = input.substr(split + 10);
  static const std::string bin = zzhost::ExecutableDir();
  try {
    zzhost::CHostRules engine(zzplat::Utf8ToUtf16Lenient(bin));
    engine.LoadFiles({rules.string()}, nullptr);
    zzhost::CPageItem first(page, "http://fuzz.test/page?q=1", 50);
    zzhost::CPageItem second(page, "http://fuzz.test/page?q=1", 50);
    const zzhost::SignatureVerdict a = engine.Run(first.Item());
    const zzhost::SignatureVerdict b = engine.Run(second.Item());
    FUZZ_CHECK(a.rule == b.rule && a.category == b.category && a.score == b.score);
    FUZZ_CHECK(a.hits == b.hits);
    FUZZ_CHECK(a.rule.empty() ||
               std::find(a.hits.begin(), a.hits.end(), a.rule) != a.hits.end());
  } catch (const zzhost::HostError&) {
    // no rule file content the engine accepts (no rule, unreadable): nothing to run
  }
  return 0;
}
