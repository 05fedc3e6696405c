// "zazozor rules check" and "rules dump" as a rule writer meets them: each table row is rule
// text and what the command prints for it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/host_process.h"
#include "support/scratch_dir.h"

namespace {

class RulesCommandTest : public ::testing::Test {
 protected:
  zztest::HostRun Run(std::vector<std::string> args, const std::string& input = "") {
    return zztest::RunHost(args, m_scratch.Path(), input, {"ZAZOZOR_TRACE_LEVEL=off"});
  }
  zztest::ScratchDir m_scratch;
};

constexpr char kNone[] = "actions: none; metadata: none; }";

// The messages of one check, each line after "<stdin>", then the count line.
std::string Stdin(const std::string& lines, const char* counts) {
  std::string out, all = lines + ": " + counts + "\n";
  for (std::size_t start = 0, end; start < all.size(); start = end) {
    end = all.find('\n', start) + 1;
    out += "<stdin>" + all.substr(start, end - start);
  }
  return out;
}

TEST_F(RulesCommandTest, CheckReportsEveryProblemWithItsLine) {
  const char kOne[] = "1 rules committed, 0 discarded, 0 names replaced";
  const char kDiscarded[] = "0 rules committed, 1 discarded, 0 names replaced";
  const char kReplaced[] = "2 rules committed, 0 discarded, 1 names replaced";
  const std::string ok = "rule R { condition: none; " + std::string(kNone);
  const std::string outside = "syntax error, unexpected NAME, expecting $end or RULE or METARULE\n";
  const std::string same = ":3: warning: R - a rule with the same name already exists\n"
                           ":3: warning: previous rule will be discarded and replaced with the new one\n";
  const struct {
    std::string text, messages;
    const char* counts;
    int status;
  } rows[] = {
      {ok, "", kOne, 0},
      {"Rule x { condition: none; " + std::string(kNone) + "\n" + ok,
       ":1: " + outside + ":1: input error: text outside rules?\n", kOne, 1},
      // "//" starts no comment.
      {ok + "\n// note\n" + ok, ":2: " + outside + ":2: input error: text outside rules?\n" + same, kReplaced, 1},
      {ok + "\n\n" + ok, same, kReplaced, 0},
      {"rule R { condition: none; actions: none; metadata: relevance = 2.5; }",
       ":1: syntax error, unexpected CONSTANT, expecting ';'\n:1: invalid metainfo item\n"
       ":1: discarding simple rule R because it contains errors\n", kDiscarded, 1},
      {"rule R { condition: none; actions: metadata: priority = -5; }", "", kOne, 0},
      {"rule R { condition: none; actions: none; metadata: }", "", kOne, 0},
      {"metarule M { condition: !!A; " + std::string(kNone),
       ":1: syntax error, unexpected NOT_OP, expecting NAME or TRUE or FALSE or '('\n"
       ":1: invalid condition expression - check your syntax!\n"
       ":1: discarding meta-rule M because it contains errors\n", kDiscarded, 1},
      {"metarule M { condition: !(!A); " + std::string(kNone), "", kOne, 0},
      {"rule R { condition: any; " + std::string(kNone), ":1: syntax error, unexpected ANY\n:1: invalid condition\n"
       ":1: discarding simple rule R because it contains errors\n", kDiscarded, 1},
      {"rule R { }", ":1: syntax error, unexpected '}', expecting CONDITION\n:1: invalid body structure - check sections!\n"
       ":1: discarding simple rule R because it contains errors\n", kDiscarded, 1},
      {"rule R { condition: none; actions: foo; metadata: none; }", ":1: syntax error, unexpected NAME\n"
       ":1: invalid action item\n:1: discarding simple rule R because it contains errors\n", kDiscarded, 1},
      // A rule cut short by the end of the file, and a comment left open: the rules
      // before are kept.
      {ok + "\nrule S {\n condition: none;\n", ":4: syntax error, unexpected $end, expecting ACTIONS\n", kOne, 1},
      {ok + "\n/* old rules\n\n" + ok, ":4: C-style comment not closed before end of file\n", kOne, 1},
  };
  for (const auto& row : rows) {
    const zztest::HostRun run = Run({"rules", "check", "-"}, row.text);
    EXPECT_EQ(run.out, Stdin(row.messages, row.counts)) << row.text;
    EXPECT_EQ(run.status, row.status) << row.text;
  }
}

// Each construct's own error production: the parser's message, then the construct's.
TEST_F(RulesCommandTest, CheckNamesTheConstructInError) {
  struct Row {
    std::string condition, action, parserMessage, constructMessage;
  } rows[] = {
      {"match(\"a\", HTML::Bod, EXACT)", "", "unexpected NAME", "invalid match condition"},
      {"exists()", "", "unexpected ')', expecting HEADERS or PARTS", "invalid exists condition"},
      {"is_empty(Parts::Foo)", "", "unexpected NAME, expecting ALL or TEXT or TEXT_PLAIN or TEXT_HTML", "invalid is_empty condition"},
      {"exec(\"h\")", "", "unexpected STRING_LITERAL, expecting NAME", "invalid execute condition"},
      {"is_knn_categ(adult)", "", "unexpected NAME, expecting STRING_LITERAL", "invalid match KNN category condition"},
      {"score_greater_than(s 5)", "", "unexpected CONSTANT, expecting ','", "invalid score greater condition"},
      {"size_greater_than(Message::Size, 5)", "", "unexpected NAME, expecting TOTAL_SIZE or ANY_ATTACHMENT_SIZE", "invalid size greater condition"},
      {"none", "set_category(5)", "unexpected CONSTANT, expecting NAME or STRING_LITERAL", "invalid set_category action"},
      {"none", "increase_score(\"s\", 5)", "unexpected STRING_LITERAL, expecting NAME", "invalid increase_score action"},
      {"none", "mark(c)", "unexpected ')', expecting ','", "invalid mark action"},
      {"none", "add_header(h, v)", "unexpected NAME, expecting STRING_LITERAL", "invalid add header action"},
      {"none", "add_to_header(h)", "unexpected ')', expecting ','", "invalid add to header action"},
      {"none", "exec()", "unexpected ')', expecting NAME", "invalid execute condition"},
  };
  for (const Row& row : rows) {
    const std::string text = "rule R {\n condition: " + row.condition + ";\n actions: " +
                             (row.action.empty() ? "none" : row.action) + ";\n metadata: none;\n}\n";
    const int line = row.action.empty() ? 2 : 3;
    const std::string at = ":" + std::to_string(line) + ": ";
    EXPECT_EQ(Run({"rules", "check", "-"}, text).out,
              Stdin(at + "syntax error, " + row.parserMessage + "\n" + at + "syntax error: " +
                        row.constructMessage + "\n:5: discarding simple rule R because it contains errors\n",
                    "0 rules committed, 1 discarded, 0 names replaced"))
        << text;
  }
}

// What each construct stores: one table row per construct, one dumped rule per row.
TEST_F(RulesCommandTest, DumpShowsTheCodesOfEveryConstruct) {
  struct Row {
    std::string body;      // condition, actions and metadata sections
    std::string expected;  // the dump line after "kind"
  } rows[] = {
      {"condition: none; actions: none; metadata: none;", R"("condition": {"generic": 20, "specific": 100, "values": {"100": 100}}, "actions": [], "metadata": [])"},
      {R"(condition: match("say \"hi\"", Headers::"Subject", REGEX_SUMMARY, RAW); actions: metadata:)", R"("condition": {"generic": 20, "specific": 102, "values": {"120": "say \\\"hi\\\"", "121": 201, "122": 238, "123": 240, "202": "Subject"}}, "actions": [], "metadata": [])"},
      {R"(condition: match("x", PartHeaders::"To", IP_MASK, DECODED); actions: metadata:)", R"("condition": {"generic": 20, "specific": 102, "values": {"120": "x", "121": 261, "122": 237, "123": 241, "262": "To"}}, "actions": [], "metadata": [])"},
      {R"(condition: exists(Headers::Collection, "From"); actions: metadata:)", R"("condition": {"generic": 20, "specific": 103, "values": {"130": 203, "131": "From"}}, "actions": [], "metadata": [])"},
      {R"(condition: is_empty(Headers::"Cc"); actions: metadata:)", R"("condition": {"generic": 20, "specific": 104, "values": {"140": 201, "202": "Cc"}}, "actions": [], "metadata": [])"},
      {"condition: exec(heur.one); actions: metadata:", R"("condition": {"generic": 20, "specific": 105, "values": {"150": "heur.one"}}, "actions": [], "metadata": [])"},
      {R"(condition: is_knn_categ("adult"); actions: metadata:)", R"("condition": {"generic": 20, "specific": 106, "values": {"160": "adult", "161": 100}}, "actions": [], "metadata": [])"},
      {"condition: score_greater_than(s, t); actions: metadata:", R"("condition": {"generic": 20, "specific": 107, "values": {"170": "s", "171": "t"}}, "actions": [], "metadata": [])"},
      {"condition: size_greater_than(Message::TotalSize, 99999999999); actions: metadata:", R"("condition": {"generic": 20, "specific": 108, "values": {"180": 270, "181": -2147483648}}, "actions": [], "metadata": [])"},
      {R"(condition: none; actions: set_category(kids); increase_score(s, 5); mark("c", n); exec(h); add_header(H, "v"); add_to_header("T", "w"); metadata:)", R"("condition": {"generic": 20, "specific": 100, "values": {"100": 100}}, "actions": [{"generic": 21, "specific": 1000, "values": {"1020": "kids"}}, {"generic": 21, "specific": 1001, "values": {"1030": "s", "1032": 5}}, {"generic": 21, "specific": 1002, "values": {"1041": "c", "1042": "n"}}, {"generic": 21, "specific": 1003, "values": {"1050": "h"}}, {"generic": 21, "specific": 1004, "values": {"1061": "H", "1062": "v"}}, {"generic": 21, "specific": 1005, "values": {"1060": "T", "1062": "w"}}], "metadata": [])"},
      {R"(condition: score_greater_than(s, 5); actions: set_category("adult"); mark(cat, 7); metadata:)", R"("condition": {"generic": 20, "specific": 107, "values": {"170": "s", "172": 5}}, "actions": [{"generic": 21, "specific": 1000, "values": {"1021": "adult"}}, {"generic": 21, "specific": 1002, "values": {"1040": "cat", "1043": 7}}], "metadata": [])"},
      {"condition: size_greater_than(Message::AnyAttachmentSize, 10); actions: metadata:", R"("condition": {"generic": 20, "specific": 108, "values": {"180": 271, "181": 10}}, "actions": [], "metadata": [])"},
      // Repeated types merge into the first item; "-" and "." are not part of a number.
      {R"(condition: none; actions: increase_score(a, 1); increase_score(b, x); metadata: enabled = false; comment = "c"; relevance = 5; relevance = 7; priority = -5;)", R"("condition": {"generic": 20, "specific": 100, "values": {"100": 100}}, "actions": [{"generic": 21, "specific": 1001, "values": {"1030": "b", "1031": "x", "1032": 1}}], "metadata": [{"generic": 22, "specific": 2000, "values": {"2020": 0}}, {"generic": 22, "specific": 2002, "values": {"2040": "c"}}, {"generic": 22, "specific": 2001, "values": {"2030": 7}}, {"generic": 22, "specific": 2003, "values": {"2050": 5}}])"},
  };
  std::string text, expected;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const std::string name = "R" + std::to_string(i);
    text += "rule " + name + " { " + rows[i].body + " }\n";
    expected += "{\"name\": \"" + name + "\", \"kind\": \"rule\", " + rows[i].expected + "}\n";
  }
  // A rule of an earlier name replaces it: the earlier one is gone, the new one comes last.
  text += "rule R0 { condition: exec(again); actions: none; metadata: none; }\n";
  expected = expected.substr(expected.find('\n') + 1) +
             R"({"name": "R0", "kind": "rule", "condition": {"generic": 20, "specific": 105, "values": {"150": "again"}}, "actions": [], "metadata": []})" "\n";
  const zztest::HostRun run = Run({"rules", "dump", "-"}, text);
  EXPECT_EQ(run.err, "<stdin>:14: warning: R0 - a rule with the same name already exists\n"
                     "<stdin>:14: warning: previous rule will be discarded and replaced with the new one\n");
  EXPECT_EQ(run.out, expected);
}

// Where/how codes and operators: the code each spelling stores.
TEST_F(RulesCommandTest, DumpShowsWhereHowAndOperatorCodes) {
  const std::pair<const char*, int> where[] = {
      {"Headers::ALL", 200}, {"Parts::ALL", 210}, {"Parts::Text", 211}, {"Parts::TextPlain", 212},
      {"Parts::TextHTML", 213}, {"PartHeaders::ALL", 260}, {"Urls::ALL", 220}, {"HTML::Body", 280},
      {"HTML::Url", 281}, {"HTML::Title", 282}, {"HTML::Meta", 283}, {"HTML::Forms", 284},
      {"HTML::Comments", 285}, {"HTML::Images", 286}, {"HTML::AHref", 287}, {"HTML::Script", 288}};
  const std::pair<const char*, int> how[] = {
      {"EXACT", 230}, {"EXACT_INSENSITIVE", 231}, {"OBFUSCATED", 232}, {"REGEX", 233}, {"REGEX_INSENSITIVE", 234},
      {"IP_RANGE", 235}, {"IP_CLASS", 236}, {"IP_MASK", 237}, {"REGEX_SUMMARY", 238}};
  std::string text, expected;
  for (std::size_t i = 0; i < std::size(where); ++i) {
    const auto& [howText, howCode] = how[i % std::size(how)];
    text += "rule W" + std::to_string(i) + " { condition: match(\"t\", " + where[i].first +
            ", " + howText + "); actions: none; metadata: none; }\n";
    expected += "{\"name\": \"W" + std::to_string(i) +
                "\", \"kind\": \"rule\", \"condition\": {\"generic\": 20, \"specific\": 102, "
                "\"values\": {\"120\": \"t\", \"121\": " + std::to_string(where[i].second) +
                ", \"122\": " + std::to_string(howCode) +
                "}}, \"actions\": [], \"metadata\": []}\n";
  }
  text += "metarule M { condition: (A || B ||| true) && C &&& !D == (E != !false); " +
          std::string(kNone);
  expected +=
      R"({"name": "M", "kind": "metarule", "condition": {"generic": 20, "specific": 101, "values": {"250": )"
      R"({"op": "ALL_AND_OP", "code": 4, "operands": [{"op": "AND_OP", "code": 3, "operands": [)"
      R"({"op": "ALL_OR_OP", "code": 2, "operands": [{"op": "OR_OP", "code": 1, "operands": [{"rule": "A"}, {"rule": "B"}]}, {"boolean": true}]}, {"rule": "C"}]}, )"
      R"({"op": "EQ_OP", "code": 5, "operands": [{"op": "NOT_OP", "code": 7, "operands": [{"rule": "D"}]}, )"
      R"({"op": "NE_OP", "code": 6, "operands": [{"rule": "E"}, {"op": "NOT_OP", "code": 7, "operands": [{"boolean": false}]}]}]}]}}}, "actions": [], "metadata": []})"
      "\n";
  const zztest::HostRun run = Run({"rules", "dump", "-"}, text);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, expected);
}

TEST_F(RulesCommandTest, FilesUsageAndExitStatus) {
  const zztest::HostRun sample = Run(
      {"rules", "check", std::string(ZAZOZOR_SOURCE_DIR) + "/data/rules/pc_sign.slf", "none.slf"});
  EXPECT_EQ(sample.out, std::string(ZAZOZOR_SOURCE_DIR) +
                            "/data/rules/pc_sign.slf: 23 rules committed, 0 discarded, 0 names "
                            "replaced\n");
  EXPECT_EQ(sample.err, "zazozor: cannot read 'none.slf': No such file or directory\n");
  EXPECT_EQ(sample.status, 1);
  EXPECT_EQ(Run({"rules", "check"}).status, 2);
  EXPECT_EQ(Run({"rules", "lint", "x.slf"}).status, 2);
  // dump keeps stdout for the rules and sends problems to stderr.
  const zztest::HostRun dump = Run({"rules", "dump", "-"}, "rule A { condition: none; }");
  EXPECT_EQ(dump.out, "");
  EXPECT_EQ(dump.err,
            "<stdin>:1: syntax error, unexpected '}', expecting ACTIONS\n"
            "<stdin>:1: invalid body structure - check sections!\n"
            "<stdin>:1: discarding simple rule A because it contains errors\n");
  EXPECT_EQ(dump.status, 1);
}

// "rules test" shows the deciding rule, every rule that ran (a signature's meta-rule
// operands included, a rule without priority only through it) and what each matched; a page
// no rule catches says so, and rules that fail to initialise are reported by name.
TEST_F(RulesCommandTest, TestExplainsAHitAndAMiss) {
  const std::string rules =
      "rule Word { condition: match(\"b[a-z]+\", HTML::Body, REGEX_INSENSITIVE, DECODED);"
      " actions: increase_score(n, 1); metadata: none; }\n"
      "rule Site { condition: match(\"shop\", HTML::Url, EXACT_INSENSITIVE);"
      " actions: none; metadata: none; }\n"
      "metarule Both { condition: Word && Site; actions: mark(\"shopping\", 7);"
      " metadata: priority = 5; }\n"
      "rule Broken { condition: match(\"(\", HTML::Title, REGEX); actions: none;"
      " metadata: priority = 9; }\n";
  std::ofstream(m_scratch.Path() / "hit.html") << "<p>Big <b>Bargains</b></p>";
  std::ofstream(m_scratch.Path() / "miss.html") << "<p>123</p>";
  const std::string file = (m_scratch.Path() / "rules.slf").string();
  std::ofstream(file) << rules;
  const zztest::HostRun r = Run({"rules", "test", "--url", "http://SHOP.test/", file, "--",
                                 "hit.html", "miss.html"});
  EXPECT_EQ(r.err, file + ": Broken - error: rule failed to initialize\n");
  EXPECT_EQ(r.out,
            "3 rules loaded, 1 signatures\n\n"
            "page     hit.html\nurl      http://SHOP.test/\nverdict  Both: category shopping, score 7\n"
            "ran\n  Both  1\n  Word  1\n      HTML::Body \"big\"\n  Site  1\n      HTML::Url \"SHOP\"\n\n"
            "page     miss.html\nurl      http://SHOP.test/\nverdict  no rule hit\n"
            "ran\n  Both  0\n  Word  0\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Run({"rules", "test", file, "hit.html"}).status, 2);  // no "--"
}

}  // namespace
