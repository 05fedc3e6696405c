// Features: distances, centres, text forms; feature sets; filling a set for an item.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engines/assl/exec_structs.h"
#include "engines/codeheur/test_context.h"
#include "engines/feature/fsutils.h"
#include "engines/feature/intfeature.h"
#include "engines/feature/summaryfeature.h"
#include "support/what_of.h"

namespace {

using zztest::WhatOf;

// A feature of kind 'i' (number), 's' (string) or 'm' (summary) holding text.
CAFeature* Make(char kind, const std::u16string& text) {
  if (kind == 'i') return new CIntFeature(std::stoi(std::string(text.begin(), text.end())));
  CUStringFeature* feature = kind == 's' ? new CUStringFeature() : new CSummaryFeature();
  feature->SetString(text.c_str());
  return feature;
}

std::string Text(const CAFeature& feature) { return feature.Serialize().c_str(); }

TEST(FeatureTest, DistancesAndCentres) {
  const struct { char kind; std::u16string a, b; std::uint32_t expected; } rows[] = {
      {'i', u"7", u"-3", 10}, {'s', u"ab", u"ba", 2}, {'s', u"xab", u"xba", 1}, {'s', u"abcd", u"abdc", 1},
      {'s', u"abc", u"xyz", 3}, {'s', u"", u"abc", 3}, {'s', u"kitten", u"sitting", 3}, {'m', u"", u"abc", 3},
      {'m', u"x", u"x", 1}, {'m', u"N", u"U", 2}, {'m', u"W", u"U", 1}, {'m', u"B", u"E", 3},
      {'m', u"NU", u"UN", 1}, {'m', u"BN", u"B", 4},
  };
  for (const auto& row : rows) {
    std::unique_ptr<CAFeature> a(Make(row.kind, row.a)), b(Make(row.kind, row.b));
    EXPECT_EQ(a->ComputeDistance(*b), row.expected) << row.kind << std::string(row.a.begin(), row.a.end());
  }
  std::unique_ptr<CAFeature> scaled(Make('s', u"abc")), other(Make('s', u"xyz")), number(Make('i', u"1"));
  scaled->SetDistanceNormalizator(new DistanceNormalizator(0.5f));
  EXPECT_EQ(scaled->ComputeDistance(*other), 1u);
  EXPECT_EQ(std::unique_ptr<CAFeature>(scaled->Clone())->ComputeDistance(*other), 1u);
  EXPECT_NE(WhatOf([&] { number->ComputeDistance(*scaled); }).find("ASBadFeatureType"), std::string::npos);
  EXPECT_NE(WhatOf([&] { CSummaryFeature().ComputeDistance(*scaled); }).find("CSummaryFeature*"), std::string::npos);
  // Centres: the mean, an exact half rounded down.
  const struct { std::vector<int> values; int expected; } centres[] = {
      {{1, 2}, 1}, {{1, 2, 2}, 2}, {{-1, -2}, -2}, {{3}, 3}, {{INT_MAX, INT_MAX}, INT_MAX},
  };
  for (const auto& row : centres) {
    std::vector<CIntFeature> others(row.values.begin() + 1, row.values.end());
    ascommon::CArray<CAFeature*> list;
    for (auto& other : others) list.Add(&other);
    std::unique_ptr<CAFeature> centre(CIntFeature(row.values[0]).ComputeCenter(list));
    EXPECT_EQ(Text(*centre), std::to_string(row.expected));
    EXPECT_EQ(list.GetSize(), 0u);
  }
}

TEST(FeatureTest, TextFormsRoundTripAndRefuseMalformedText) {
  // A cluster line: features one blank apart, read with end = the last index.
  const std::string line = "5 3_abc -7 0_ " + Text(*std::unique_ptr<CAFeature>(Make('s', u"\u00e9\u2713"))) + " 9";
  std::uint32_t pos = 0;
  std::string read;
  for (char kind : std::string("isissi")) {
    std::unique_ptr<CAFeature> feature(Make(kind, kind == 'i' ? u"0" : u""));
    feature->Deserialize(line.c_str(), pos, static_cast<std::uint32_t>(line.size() - 1));
    read += Text(*feature) + "|";
  }
  EXPECT_EQ(read, "5|3_abc|-7|0_|5_\xc3\xa9\xe2\x9c\x93|9|");
  EXPECT_EQ(pos, line.size() + 1);  // past the separator after the number
  const struct { char kind; const char* text; const char* message; } rows[] = {
      {'i', "xy", "Unable to extract int value from xy"}, {'i', "99999999999", "Unable to extract"},
      {'i', "", "Bad string"}, {'s', "3-abc", "Bad string"}, {'s', "9_ab", "Bad string"},
      {'s', "2_\xff\xfe", "Conversion to usstring failed"},
  };
  for (const auto& row : rows) {
    std::unique_ptr<CAFeature> feature(Make(row.kind, row.kind == 'i' ? u"0" : u""));
    std::uint32_t at = 0, last = static_cast<std::uint32_t>(std::max<std::size_t>(std::strlen(row.text), 1) - 1);
    EXPECT_NE(WhatOf([&] { feature->Deserialize(row.text, at, last); }).find(row.message), std::string::npos) << row.text;
  }
}

std::unique_ptr<CFeatureSet> MakeSet(const char* name, const char16_t* i, const char16_t* s, const char16_t* m) {
  auto set = std::make_unique<CFeatureSet>();
  set->SetName(name);
  for (CAFeature* feature : {Make('i', i), Make('s', s), Make('m', m)}) set->AddFeature(feature);
  return set;
}

TEST(FeatureSetTest, DistanceCutOffAndSlots) {
  auto a = MakeSet("a", u"1", u"ab", u"N"), b = MakeSet("b", u"4", u"ba", u"U");  // distances 3 + 2 + 2
  for (const auto& [limit, result] : {std::pair{-1.0f, 7.0f}, {7.0f, 7.0f}, {0.0f, -3.0f}, {5.0f, -7.0f}}) {
    try {
      EXPECT_EQ(a->ComputeDistance(*b, &limit), result);  // a negative result: the sum thrown
    } catch (float sum) {
      EXPECT_EQ(-sum, result) << limit;
    }
  }
  std::unique_ptr<CFeatureSet> copy(b->Clone());
  EXPECT_STREQ(copy->GetName().c_str(), "b");
  EXPECT_EQ(copy->ComputeDistance(*b, nullptr), 0.0f);
  EXPECT_EQ(WhatOf([&] { a->GetFeature(3); }),
            "ASBadFeatureNumber - MESSAGE: Feature 3 was requested, but there are only 3 features available");
  EXPECT_NE(WhatOf([&] { a->ComputeDistance(CFeatureSet(), nullptr); }).find("3 != 0 "), std::string::npos);
  copy->ForEachFeature(&CFeatureSet::DeleteFeature, nullptr);
  EXPECT_EQ(WhatOf([&] { copy->ComputeDistance(*b, nullptr); }), "ASException - MESSAGE: Empty local Feature!");
  EXPECT_EQ(WhatOf([&] { b->ComputeDistance(*copy, nullptr); }), "ASException - MESSAGE: Empty foreign Feature!");
  EXPECT_NE(WhatOf([&] { copy->ForEachFeature(&CFeatureSet::DeleteFeature, nullptr); }).find("ASEmptyFeature"),
            std::string::npos);
}

// Definitions from a table (a null name cannot be read); records the indexes it normalised.
struct CDefinitions : IFeatureDefinitions {
  std::vector<std::pair<const char*, std::uint32_t>> rows;
  mutable ascommon::sstring name;
  mutable std::string normalised;
  std::uint32_t GetFeatureCount() const override { return static_cast<std::uint32_t>(rows.size()); }
  const ascommon::sstring& GetFeatureName(std::uint32_t i) const override {
    return rows.at(i).first != nullptr ? (name = rows[i].first) : throw 1;
  }
  std::uint32_t GetSourceKind(std::uint32_t i) const override { return rows.at(i).second; }
  void ApplyNormalization(std::uint32_t i, CAFeature&) const override { normalised += std::to_string(i); }
};

TEST(FillFeatureSetTest, MeasuresEachDefinitionOrSaysWhyNot) {
  assl::CEnginesHandle engines;
  zztest::CTestContext mail;
  mail.AddPart(false, u"hi", "BNUNE");
  CDefinitions definitions;
  CFeatureSet set;
  auto fill = [&](assl::CEnginesHandle* handle, assl::ContextInterface* context) {
    return WhatOf([&] { FillFeatureSet(set, definitions, handle, context); });
  };
  EXPECT_EQ(fill(&engines, nullptr), "ASException - MESSAGE: invalid context handle");
  EXPECT_EQ(fill(nullptr, &mail), "ASException - MESSAGE: invalid engines handle");
  EXPECT_EQ(fill(&engines, &mail), "ASException - MESSAGE: NULL pointer to ASSL engine");
  engines.LoadRuleFiles(nullptr, 0);
  engines.CreateCodeHeurEngine();
  definitions.rows = {{"H_MAIL_PARTS_COUNT", 2}, {"H_MAIL_HEADER_SUMMARY", 2}, {"H_MAIL_HEADER_DATE_FORMAT", 2},
                      {"true", 1}};
  EXPECT_EQ(fill(&engines, &mail), "(no exception)");
  std::string values;
  for (std::uint32_t i = 0; i < set.GetFeatureCount(); ++i) values += Text(*set.GetFeature(i)) + " ";
  EXPECT_EQ(values, "2 5_BNUNE 0_ 1 ");
  EXPECT_EQ(definitions.normalised, "012");
  const char* unknown = "unknown featuretype or is not setted";
  for (const auto& [name, source, message] : {std::tuple{"H_FEW_WORDS", 2, "Internal error"},
       {"H_NOT_THERE", 2, "Internal error"}, {nullptr, 2, "Internal error"}, {"H_MAIL_SIZE", 0, unknown}}) {
    definitions.rows = {{name, source}};
    EXPECT_EQ(fill(&engines, &mail), std::string("ASException - MESSAGE: ") + message);
  }
}

}  // namespace
