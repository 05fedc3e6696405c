// Actions run through rules: scores add up and mark replaces them; the header actions on a
// context with a headers map (created, replaced, appended, refused) and without one.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "engines/emlcomponents/emlheaders.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

// A context with a headers map that owns its headers, counting SetDirty calls.
class MailContext : public zztest::BareContext {
 public:
  MailContext() { headers.InitHashTable(17); }
  ~MailContext() override {
    headers.ForEach([](const ascommon::sstring&, nsEmlComponents::CHeader* header) { delete header; });
  }
  nsEmlComponents::CHeadersMap* GetHeaders() noexcept override { return &headers; }
  void SetDirty() override { ++dirty; }
  std::string Value(const char* key) {
    nsEmlComponents::CHeader** header = headers.Lookup(key);
    if (header == nullptr) return "(none)";
    ascommon::sstring text = (*header)->GetValue().to_sstring();
    return text.c_str();
  }
  nsEmlComponents::CHeadersMap headers;
  int dirty = 0;
};

class AddressHeader : public nsEmlComponents::CHeader {
 public:
  std::int32_t GetKind() const noexcept override { return nsEmlComponents::kHeaderAddress; }
};

TEST(ActionsRunTest, ScoresAddUpAndMarkReplacesThem) {
  zztest::RuleEngine rules;
  rules.Write("pc_sign.slf", R"(
    rule A { condition: none; actions: increase_score(SCORE, 10); metadata: none; }
    rule B { condition: none; actions: increase_score(SCORE, 10); set_category(SomeName); metadata: none; }
    rule M { condition: none; actions: mark("adult", 50); metadata: none; })");
  rules.LoadFolder();
  auto context = rules.NewContext();
  rules.Run(*context, "A");
  rules.Run(*context, "B");
  EXPECT_EQ(context->Int("SCORE"), 20);
  EXPECT_EQ(context->Text("CATEGORY"), "(none)");
  rules.Run(*context, "M");
  EXPECT_EQ(context->Int("SCORE"), 50);
  EXPECT_EQ(context->Text("CATEGORY"), "adult");
}

TEST(ActionsRunTest, HeaderActionsChangeTheHeadersMap) {
  zztest::RuleEngine rules;
  zztest::TraceCapture trace;
  rules.Write("pc_sign.slf", R"(
    rule Add { condition: none; actions: add_header("X-Tag", "one"); metadata: none; }
    rule Append { condition: none; actions: add_to_header(x-tag, "two"); metadata: none; }
    rule Replace { condition: none; actions: add_header("x-TAG", "three"); metadata: none; }
    rule Address { condition: none; actions: add_header("From", "x"); metadata: none; })"
              "rule BadName { condition: none; actions: add_header(\"X-\xc3\xa9\", \"x\"); metadata: none; }"
              "rule BadValue { condition: none; actions: add_to_header(X, \"caf\xc3\xa9\"); metadata: none; }");
  rules.LoadFolder();
  EXPECT_EQ(trace.Count("specific header name not ASCII"), 1);
  EXPECT_EQ(trace.Count("specific header value not ASCII"), 1);
  EXPECT_EQ(rules.Engine().GetRuleCount(), 4u);

  MailContext context;
  context.CopyStateRecords(rules.Engine().GetStateTemplate());
  context.headers.SetAt("FROM", new AddressHeader());
  const struct {
    const char* rule;
    const char* value;  // of X-TAG afterwards
    bool fails;
    int dirty;
  } rows[] = {
      {"Add", "one", false, 1}, {"Append", "onetwo", false, 2}, {"Replace", "three", false, 3},
      {"Address", "three", true, 3},
  };
  for (const auto& row : rows) {
    trace.Clear();
    const bool failed = zztest::WhatOf([&] { rules.Run(context, row.rule); }) != "(no exception)";
    EXPECT_EQ(context.Value("X-TAG"), row.value) << row.rule;
    EXPECT_EQ(failed, row.fails) << row.rule;
    EXPECT_EQ(context.dirty, row.dirty) << row.rule;
  }
  EXPECT_EQ(trace.Count("invalid header type"), 1);

  auto bare = rules.NewContext();
  trace.Clear();
  EXPECT_NE(zztest::WhatOf([&] { rules.Run(*bare, "Add"); }).find("one or more actions failed"), std::string::npos);
  EXPECT_EQ(trace.Count("invalid handle to headers map"), 1);
}

}  // namespace
