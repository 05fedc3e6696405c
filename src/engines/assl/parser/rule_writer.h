// WriteRuleText: a committed parsed rule written back as rule text that parses to the same
// items (round trip). Items merged from repeated actions come back as several calls whose
// merge gives the same values. Used by the rule tools and the parser's fuzz target.
// Pure function of the rule; safe from any thread for a rule no one changes.
#pragma once

#include <string>

#include "engines/assl/parser/rule.h"

namespace assl {

std::string WriteRuleText(const CParsedRule& rule);

// The spelling of a where/what/size code ("HTML::Body"), how code ("EXACT") or part mode
// ("RAW"), or null for an unknown code. Named header codes give only the scope
// ("Headers::", "PartHeaders::").
const char* CodeSpelling(std::int32_t code);
// The token name of an operator code ("AND_OP"), or null.
const char* OperatorName(std::int32_t op);

}  // namespace assl
