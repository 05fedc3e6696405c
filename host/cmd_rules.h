// The JSON form of a parsed rule, as "zazozor rules dump" prints it (one line, no newline):
//   {"name": ..., "kind": "rule"|"metarule", "condition": ITEM|null, "actions": [ITEM...],
//    "metadata": [ITEM...]}
//   ITEM = {"generic": G, "specific": S, "values": {"KEY": VALUE, ...}} with keys ascending,
//   numbers as numbers, texts as strings, and an expression as nested
//   {"op": NAME, "code": N, "operands": [...]} / {"rule": NAME} / {"boolean": B}.
// Shared with the parser's fuzz target. Pure function; thread-safe for an unchanging rule.
#pragma once

#include <cstdio>
#include <string>

#include "engines/assl/parser/parser_utils.h"
#include "engines/assl/parser/rule.h"

namespace zzhost {

std::string RuleToJson(const assl::CParsedRule& rule);

// Prints each problem of a rule file as FILE:LINE: message, or FILE: message for a problem
// of a rule as a whole (one that fails to initialise), to a stream it does not own.
class CStreamDiagnostics : public assl::IParserDiagnostics {
 public:
  explicit CStreamDiagnostics(std::FILE* out) : m_out(out) {}
  void Report(const char* fileName, int line, const char* message) override {
    if (line > 0) {
      std::fprintf(m_out, "%s:%d: %s\n", fileName, line, message);
    } else {
      std::fprintf(m_out, "%s: %s\n", fileName, message);
    }
  }

 private:
  std::FILE* m_out;
};

class CommandContext;
// "rules test [--url URL] RULES... -- PAGE..." (cmd_rules_test.cpp).
int RunRulesTest(CommandContext& context);

}  // namespace zzhost
