#include "verdicts.h"

#include <array>
#include <exception>

#include "itemfields.h"
#include "json.h"
#include "parentalbwlistadvancedfilter/categories.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

using nsHttpModules::ItemField::kBayesCategory;
using nsHttpModules::ItemField::kBayesScore;
using nsHttpModules::ItemField::kBlackListHit;
using nsHttpModules::ItemField::kListSummaryFlag;
using nsHttpModules::ItemField::kSignatureCategory;
using nsHttpModules::ItemField::kSignatureRule;
using nsHttpModules::ItemField::kSignatureScore;
using nsHttpModules::ItemField::kWhiteListHit;

static_assert(kVerdictListCount == nsHttpModules::kListCount);
static_assert(kVerdictWhiteList == nsHttpModules::kWhiteListIndex);

}  // namespace

const char ListVerdicts::kWhite[] = "white";
const char ListVerdicts::kBlack[] = "black";

const char* ListVerdicts::CategoryName(int list) {
  return nsHttpModules::kCategoryLists[list].traceName;
}

ListVerdicts ReadListVerdicts(const ascommon::CBlackBox& item, const ascommon::CBlackBox& ext,
                              bool advancedActive) {
  ListVerdicts verdicts;
  if (item.GetKind(kWhiteListHit) != 0) {
    verdicts.list = ListVerdicts::kWhite;
  } else if (item.GetKind(kBlackListHit) != 0) {
    verdicts.list = ListVerdicts::kBlack;
  }
  verdicts.advancedActive = advancedActive;
  verdicts.flag = ext.PeekBool(kListSummaryFlag);
  // bbext holds the flag and one key per category hit: with the flag alone (most URLs)
  // there is no category to look for.
  if (advancedActive && ext.GetCount() > (verdicts.flag < 0 ? 0u : 1u)) {
    for (const nsHttpModules::CategoryList& list : nsHttpModules::kCategoryLists) {
      if (ext.PeekBool(list.resultKey) == 1) {
        verdicts.categoryBits |= 1u << (&list - nsHttpModules::kCategoryLists);
      }
    }
  }
  return verdicts;
}

void AppendListVerdictsJson(std::string& out, const ListVerdicts& verdicts) {
  using namespace std::string_view_literals;
  if (verdicts.list == nullptr) {
    out += R"(, "list": null)"sv;
  } else if (verdicts.list == ListVerdicts::kWhite) {
    out += R"(, "list": "white")"sv;
  } else if (verdicts.list == ListVerdicts::kBlack) {
    out += R"(, "list": "black")"sv;
  } else {
    out += R"(, "list": )"sv;
    AppendJsonString(out, verdicts.list);
  }
  if (!verdicts.advancedActive) {
    out += R"(, "categories": null)"sv;
  } else if (verdicts.categoryBits == 0) {
    out += R"(, "categories": [])"sv;
  } else {
    // The names as JSON strings, made once: a third of the URLs of a run name one or two.
    static const std::array<std::string, kVerdictListCount> kQuoted = [] {
      std::array<std::string, kVerdictListCount> quoted;
      for (int i = 0; i < kVerdictListCount; ++i) {
        AppendJsonString(quoted[i], nsHttpModules::kCategoryLists[i].traceName);
      }
      return quoted;
    }();
    out += R"(, "categories": [)"sv;
    verdicts.ForEachCategory([&](int list, const char*) {
      if (out.back() != '[') out += ", "sv;
      out += kQuoted[list];
    });
    out += ']';
  }
  out += verdicts.flag < 0    ? R"(, "flag": null)"sv
         : verdicts.flag == 1 ? R"(, "flag": 1)"sv
                              : R"(, "flag": 0)"sv;
}

BayesVerdict ReadBayesVerdict(const ascommon::CBlackBox& item) {
  BayesVerdict verdict;
  if (item.GetKind(kBayesCategory) != ascommon::CBlackBox::kWideText ||
      item.GetKind(kBayesScore) != ascommon::CBlackBox::kScalar) {
    return verdict;
  }
  try {
    verdict.score = item.GetInt(kBayesScore);
    verdict.category = zzplat::Utf16ToUtf8Lenient(item.GetUCharBuf(kBayesCategory));
    verdict.written = true;
  } catch (const std::exception&) {
    // a score of another width: not the filter's
  }
  return verdict;
}

void AppendBayesVerdictJson(std::string& out, const BayesVerdict& verdict) {
  out += ", \"bayes\": ";
  if (!verdict.written) {
    out += "null";
    return;
  }
  out += "{\"category\": ";
  AppendJsonString(out, verdict.category);
  out += ", \"score\": " + std::to_string(verdict.score) + "}";
}

SignatureVerdict ReadSignatureVerdict(const ascommon::CBlackBox& bb) {
  SignatureVerdict verdict;
  if (bb.GetKind(kSignatureRule) != ascommon::CBlackBox::kText) return verdict;
  verdict.rule = bb.GetCharBuf(kSignatureRule);
  if (bb.GetKind(kSignatureCategory) == ascommon::CBlackBox::kText) {
    verdict.category = bb.GetCharBuf(kSignatureCategory);
  }
  if (bb.GetKind(kSignatureScore) == ascommon::CBlackBox::kScalar) {
    verdict.score = bb.GetInt(kSignatureScore);
  }
  return verdict;
}

void AppendSignatureJson(std::string& out, const SignatureVerdict& verdict) {
  out += ", \"signature\": ";
  if (verdict.rule.empty()) {
    out += "null";
    return;
  }
  out += "{\"category\": ";
  if (verdict.category) {
    AppendJsonString(out, *verdict.category);
  } else {
    out += "null";
  }
  out += ", \"score\": ";
  out += verdict.score ? std::to_string(*verdict.score) : "null";
  out += ", \"rule\": ";
  AppendJsonString(out, verdict.rule);
  out += ", \"hits\": ";
  if (!verdict.hitsListed) {
    out += "null}";
    return;
  }
  out += '[';
  for (std::size_t i = 0; i < verdict.hits.size(); ++i) {
    if (i != 0) out += ", ";
    AppendJsonString(out, verdict.hits[i]);
  }
  out += "]}";
}

}  // namespace zzhost
