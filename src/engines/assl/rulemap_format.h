// The rule map file "vi2nnmap.dat": which number each enabled rule has, for the tools that
// weigh rules by number. A streamer file (docs/streamer_format.md) whose payload is
//   int32 kRuleMapFormat (2), int32 count of enabled rules,
//   then per enabled rule, in rule-index order: int32 number (0, 1, ...), int32 name length
//   in bytes, the name's bytes (no terminator).
// Layout notes: docs/rule_map_format.md. Constants only, safe everywhere.
#pragma once

#include <cstdint>

namespace assl {

inline constexpr char16_t kRuleMapFileName[] = u"vi2nnmap.dat";
inline constexpr std::int32_t kRuleMapFormat = 2;
inline constexpr std::uint32_t kRuleMapStreamerVersion = 1;

}  // namespace assl
