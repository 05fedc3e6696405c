// The list verdicts of one processed item, as "urls" and "filter" report them: the BW list
// filter's white/black hit, the advanced list filter's category hits and its summary flag.
//
// Also the Bayes filter's verdict (category name and score) and the signatures filter's. Reads the item blackbox and
// bbext after the filters ran; ListVerdicts holds pointers to static names only, BayesVerdict
// its own copy of the name. Pure functions, thread-safe.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/blackbox.h"

namespace zzhost {

// Lists of the advanced filter (seventeen categories and the white list, the last).
inline constexpr int kVerdictListCount = 18;
inline constexpr int kVerdictWhiteList = 17;

struct ListVerdicts {
  static const char kWhite[];
  static const char kBlack[];
  // kWhite (31050 present; white wins), kBlack (31051 present) or null.
  const char* list = nullptr;
  // False when the advanced filter was not active: categories are then not reported.
  bool advancedActive = false;
  // Bit i set when list i of the advanced filter (its table order) has 1 under its result
  // key in bbext.
  std::uint32_t categoryBits = 0;
  // 31052 in bbext: 0 or 1, -1 when absent.
  int flag = -1;

  // The trace name of list i ("Gambling", ..., "White").
  static const char* CategoryName(int list);
  // Calls visit(int list, const char* name) for the lists in categoryBits, in table order.
  template <class Visitor>
  void ForEachCategory(Visitor&& visit) const {
    for (std::uint32_t rest = categoryBits; rest != 0; rest &= rest - 1) {
      const int list = std::countr_zero(rest);
      visit(list, CategoryName(list));
    }
  }
};

ListVerdicts ReadListVerdicts(const ascommon::CBlackBox& item, const ascommon::CBlackBox& ext,
                              bool advancedActive);

// Appends `, "list": L, "categories": [...] or null, "flag": 0/1 or null`.
void AppendListVerdictsJson(std::string& out, const ListVerdicts& verdicts);

struct BayesVerdict {
  bool written = false;  // 31001 (a text) and 31002 (a 32-bit number) are both present
  std::string category;  // 31001 in UTF-8: the category's name or "white"
  std::int32_t score = 0;  // 31002, 0 to 100
};

BayesVerdict ReadBayesVerdict(const ascommon::CBlackBox& item);

// Appends `, "bayes": {"category": C, "score": S}` or `, "bayes": null`.
void AppendBayesVerdictJson(std::string& out, const BayesVerdict& verdict);

// The signatures filter's verdict (31055 category, 31056 score, 31057 the rule that hit)
// and every rule that hit (the host's own run of the rules, rule_runner.h).
struct SignatureVerdict {
  std::string rule;                     // the rule that hit; empty when none did
  std::optional<std::string> category;  // its CATEGORY variable, when set
  std::optional<std::int32_t> score;    // its SCORE variable, when set
  std::vector<std::string> hits;        // every rule evaluated to non-zero, engine order
  bool hitsListed = true;               // false: hits not computed (printed as null)
};

// The three keys from the item (hits left empty).
SignatureVerdict ReadSignatureVerdict(const ascommon::CBlackBox& item);

// Appends `, "signature": {"category": C, "score": S, "rule": R, "hits": [...]}` (category
// and score null when the rule set none, hits null when not listed), or `, "signature":
// null` when no rule hit.
void AppendSignatureJson(std::string& out, const SignatureVerdict& verdict);

}  // namespace zzhost
