// The metainfo factory: a parsed item per row and the metainfo it builds, or the trace line
// that says why it builds none.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engines/assl/rules/ametainfo.h"
#include "support/trace_capture.h"

namespace {

using assl::AMetainfo;

std::string Describe(const AMetainfo& item) {
  std::string text = std::to_string(item.SpecificType()) + " ";
  if (auto* state = dynamic_cast<const assl::StateMetainfo*>(&item)) return text + (state->Enabled() ? "true" : "false");
  if (auto* relevance = dynamic_cast<const assl::RelevanceMetainfo*>(&item)) return text + std::to_string(relevance->Value());
  if (auto* priority = dynamic_cast<const assl::PriorityMetainfo*>(&item)) return text + std::to_string(priority->Value());
  return text + static_cast<const assl::CommentMetainfo&>(item).Text().c_str();
}

TEST(MetainfoFactoryTest, BuildsEachKindOrSaysWhyNot) {
  const struct {
    int generic, specific;  // 0: type absent
    int valueKey;           // 0: none
    int value;
    std::string expected;   // "<specific> <value>" or the traced message
  } rows[] = {
      {22, 2000, 2020, 0, "2000 false"}, {22, 2001, 2030, 7, "2001 7"}, {22, 2003, 2050, 5, "2003 5"},
      {22, 2002, 2040, 0, "2002 note"}, {0, 2000, 2020, 1, "blackbox missing generic item type"},
      {22, 0, 2020, 1, "blackbox missing specific item type"},
      {21, 2000, 2020, 1, "the container does not represent a metainfo item"},
      {22, 1000, 0, 0, "unknown metainfo type"}, {22, 2000, 0, 0, "missing enabled value"},
      {22, 2001, 0, 0, "missing relevance value"}, {22, 2002, 2020, 0, "missing comment value"},
      {22, 2003, 2030, 0, "missing priority value"},
  };
  for (const auto& row : rows) {
    assl::CParsedRule rule;  // owns the item and its text
    assl::CParsedItem untyped(row.generic, row.specific);
    const assl::CParsedItem* box = &untyped;
    if (row.generic != 0 && row.specific != 0) {
      const std::uint32_t key = row.valueKey != 0 ? static_cast<std::uint32_t>(row.valueKey) : 1u;
      if (key == 2040) rule.AddItemValue(row.generic, row.specific, key, rule.RegisterString("note", 4));
      else rule.AddItemValue(row.generic, row.specific, key, row.value);
      box = row.generic == assl::kGenericAction ? rule.Actions() : rule.Metainfo();
    }
    zztest::TraceCapture trace;
    std::unique_ptr<AMetainfo> item(assl::CreateMetainfo(*box));
    if (item != nullptr) {
      EXPECT_EQ(Describe(*item), row.expected);
      EXPECT_EQ(item->GenericType(), 22);
    } else {
      EXPECT_EQ(trace.Count(row.expected), 1) << row.expected;
    }
  }
}

}  // namespace
