// Fuzz target: the rule scanner and parser. Any bytes are a rule file: parsing ends (no
// crash, leak or hang), and every committed rule, written back as rule text and parsed
// again, commits alone and without a problem and dumps exactly as it did.
#include <cstdint>
#include <string>

#include "cmd_rules.h"
#include "engines/assl/parser/parser_utils.h"
#include "engines/assl/parser/rule_writer.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  assl::CParserState state("fuzz.slf");
  state.Parse(reinterpret_cast<const char*>(data), size);
  std::uint32_t rules = 0;
  state.ForEachRule([&](const assl::CParsedRule& rule) {
    ++rules;
    const std::string dump = zzhost::RuleToJson(rule);
    const std::string text = assl::WriteRuleText(rule);
    assl::CParserState again("again.slf");
    FUZZ_CHECK(again.Parse(text.data(), text.size()) == assl::CParserState::kParsed);
    FUZZ_CHECK(again.ErrorCount() == 0 && again.CommittedCount() == 1);
    again.ForEachRule([&](const assl::CParsedRule& copy) {
      if (zzhost::RuleToJson(copy) != dump) {
        std::fprintf(stderr, "written:\n%s\nfirst:  %s\nsecond: %s\n", text.c_str(),
                     dump.c_str(), zzhost::RuleToJson(copy).c_str());
        FUZZ_CHECK(false);
      }
    });
  });
  FUZZ_CHECK(rules <= state.CommittedCount());
  FUZZ_CHECK(state.CommittedCount() - state.ReplacedCount() == rules);
  return 0;
}
