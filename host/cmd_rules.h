// The JSON form of a parsed rule, as "zazozor rules dump" prints it (one line, no newline):
//   {"name": ..., "kind": "rule"|"metarule", "condition": ITEM|null, "actions": [ITEM...],
//    "metadata": [ITEM...]}
//   ITEM = {"generic": G, "specific": S, "values": {"KEY": VALUE, ...}} with keys ascending,
//   numbers as numbers, texts as strings, and an expression as nested
//   {"op": NAME, "code": N, "operands": [...]} / {"rule": NAME} / {"boolean": B}.
// Shared with the parser's fuzz target. Pure function; thread-safe for an unchanging rule.
#pragma once

#include <string>

#include "engines/assl/parser/rule.h"

namespace zzhost {

std::string RuleToJson(const assl::CParsedRule& rule);

class CommandContext;
// "rules test [--url URL] RULES... -- PAGE..." (cmd_rules_test.cpp).
int RunRulesTest(CommandContext& context);

}  // namespace zzhost
