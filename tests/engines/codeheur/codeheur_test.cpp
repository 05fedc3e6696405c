// The heuristics registry and the heuristics over hand-built messages and pages.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engines/codeheur/codeheurengine.h"
#include "engines/codeheur/test_context.h"
#include "engines/feature/intfeature.h"
#include "engines/feature/summaryfeature.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

using zztest::CTestContext;
using zztest::WhatOf;

// Only its address is passed: the heuristics never look inside the engines handle.
assl::CEnginesHandle* const kEngines = reinterpret_cast<assl::CEnginesHandle*>(8);

double Heur(const char* name, CTestContext& context, CAFeature* feature = nullptr) {
  static const CCodeHeurEngine engine;
  return engine.Call(name, kEngines, &context, feature);
}

TEST(CodeHeurEngineTest, RegistryInOrderWithTypesAndCallChecks) {
  // name after "H_", function, type; in registration order
  std::istringstream rows(
      "MAIL_SIZE pfMailSize 1 MAIL_LINES_COUNT pfMailLinesCount 1 MAIL_HEADERS_COUNT pfMailHeadersCount 1 "
      "MAIL_HEADER_MESSAGEID_LENGTH pfMailMessageIDLength 1 MAIL_HEADER_SUBJECT_LENGTH pfMailSubjectLength 1 "
      "MAIL_SUBJECT_SEPARATORS_COUNT pfMailSubjectSeparatorsCount 1 MAIL_IS_MULTIPART pfMailIsMultipart 1 "
      "MAIL_PARTS_COUNT pfMailPartsCount 1 MAIL_SUBJECT_MAX_LEN_WORD pfMailSubjectMaxLenWord 1 "
      "MAIL_HEADER_FROM_IS_EQUAL_WITH_REPLAYTO pfMailIsFromEqualWithReplayto 1 "
      "MAIL_HEADER_FROM_HAS_A_NAME pfMailHeaderFromHasAName 1 MAIL_HEADER_RECEIVED_COUNT pfMailHeaderReceivedCount 1 "
      "MAIL_HEADER_DATE_FORMAT pfMailGetDataFormat 4 MAIL_HEADER_SUMMARY pfMailSummary 5 "
      "MAIL_LINKS_COUNT pfMailLinksCount 1 MAIL_VOID_LINES_COUNT pfMailVoidLinesCount 1 "
      "MAIL_MAX_COUNT_VOID_LINES_CONSEC pfMailMaxCountVoidLineConsec 1 "
      "MAIL_VOID_LINES_COUNT_AT_END pfMailVoidLinesCountAtEnd 1 "
      "MAIL_LINES_COUNT_WITH_1_LINK pfMailLinesCountWith1Link 1 FEW_WORDS FewWordsHeur 0 LONG_SIZE LongSizeHeur 0 "
      "HAS_ONE_RECV HasOneRecv 0 IP_IN_HOSTNAME_RECV IpInHostnameRecv 0 "
      "RECV_CONTAINS_DSL_LIKE_WORDS RecvContainsDslLikeWords 0 "
      "MAIL_HEADER_NON_ASCII_CHARS pfMailHeaderNonASCIIChars 1 RETPATH_EMPTY BlankReturnPath 0 "
      "YAHOO_AND_GMAIL_NO_DOMAIN_KEY MissingDK 0 FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED FromToDomainsNotInReceived 0 "
      "FIRST_RECV_CONTAINS_DSL_LIKE_WORDS FirstRecvContainsDslLikeWords 0 ");
  zztest::TraceCapture trace;
  CCodeHeurEngine engine;
  std::string expected, bound, name, function;
  for (int type = 0; rows >> name >> function >> type;) {
    expected += "Rule [H_" + name + "] bound to function [" + function + "]\n";
    EXPECT_EQ(engine.GetFeatureType(("H_" + name).c_str()), type) << name;
  }
  for (const auto& line : trace.Lines())
    if (line.text.find("bound to function") != std::string::npos) bound += line.text.substr(line.text.find("Rule"));
  EXPECT_EQ(bound, expected);
  EXPECT_FALSE(engine.Exists("H_NOT_THERE"));
  // Handles are checked before the name is looked up.
  CTestContext context;
  EXPECT_EQ(WhatOf([&] { engine.Call("H_MAIL_SIZE", nullptr, &context, nullptr); }),
            "ASException - MESSAGE: invalid engines handle");
  EXPECT_EQ(WhatOf([&] { engine.Call("H_NOT_THERE", kEngines, nullptr, nullptr); }),
            "ASException - MESSAGE: invalid context handle");
  EXPECT_EQ(WhatOf([&] { Heur("H_NOT_THERE", context); }),
            "ASException - MESSAGE: A heuristic function is called from the script but has no definition!");
  CSummaryFeature wrongKind;
  EXPECT_EQ(WhatOf([&] { Heur("H_MAIL_SIZE", context, &wrongKind); }), "ASException - MESSAGE: CAFeature cast failed");
}

TEST(CodeHeurEngineTest, MessageHeuristicsReadHeadersAndTextParts) {
  CTestContext mail;
  const std::tuple<const char*, const char16_t*, const char*> headers[] = {
      {"SUBJECT", u"Win big, now!!", nullptr}, {"MESSAGE-ID", u"  <abc@host", nullptr}, {"X-MAILER", u"m", nullptr},
      {"FROM", u"Ann Lee <ann@corp.test>", nullptr}, {"REPLY-TO", u"Ann Lee <ann@corp.test>", nullptr},
      {"DATE", u"1 D\u00e9c, 10:00", "1 Dec, 10:00"}, {"X-SPAM", u"s", "s\xc3\xa9"}};  // raw text when not ASCII
  for (auto [name, value, raw] : headers) mail.Add(name, value, raw);
  mail.Add("RECEIVED", u"", "from a\nfrom b\nby mx.mailfilter.zazozor.net\nfrom c.mailfilter.zazozor.net");
  mail.AddPart(false, u"hello", "BNUNNNE");
  mail.AddPart(true, u"hi there", "BNNNNEW");
  const struct { const char* name; double expected; } rows[] = {
      {"H_MAIL_SIZE", 13}, {"H_MAIL_LINES_COUNT", 8}, {"H_MAIL_HEADERS_COUNT", 6},
      {"H_MAIL_HEADER_MESSAGEID_LENGTH", 3}, {"H_MAIL_HEADER_SUBJECT_LENGTH", 14},
      {"H_MAIL_SUBJECT_SEPARATORS_COUNT", 5}, {"H_MAIL_SUBJECT_MAX_LEN_WORD", 3}, {"H_MAIL_PARTS_COUNT", 3},
      {"H_MAIL_IS_MULTIPART", 1}, {"H_MAIL_HEADER_FROM_IS_EQUAL_WITH_REPLAYTO", 1},
      {"H_MAIL_HEADER_FROM_HAS_A_NAME", 1}, {"H_MAIL_HEADER_RECEIVED_COUNT", 2}, {"H_MAIL_HEADER_DATE_FORMAT", 4},
      {"H_MAIL_HEADER_SUMMARY", 14}, {"H_MAIL_LINKS_COUNT", 1}, {"H_MAIL_VOID_LINES_COUNT", 5},
      {"H_MAIL_MAX_COUNT_VOID_LINES_CONSEC", 3}, {"H_MAIL_VOID_LINES_COUNT_AT_END", 4},
      {"H_MAIL_LINES_COUNT_WITH_1_LINK", 1}, {"H_MAIL_HEADER_NON_ASCII_CHARS", 1},
  };
  for (const auto& row : rows) EXPECT_EQ(Heur(row.name, mail), row.expected) << row.name;
  CIntFeature parts;  // the count less one is stored
  Heur("H_MAIL_IS_MULTIPART", mail, &parts);
  EXPECT_EQ(parts.GetInfo(), 2);
  CUStringFeature date;
  Heur("H_MAIL_HEADER_DATE_FORMAT", mail, &date);
  EXPECT_TRUE(date.GetValue() == ascommon::usstring(u" , :"));
  std::string summary;  // a longer summary is cut to 100 symbols, the last one 's'
  while (summary.size() < 150) summary += "BNUE";
  mail.AddPart(false, u"", summary.substr(0, 150 - 14).c_str());
  CSummaryFeature stored;
  EXPECT_EQ(Heur("H_MAIL_HEADER_SUMMARY", mail, &stored), 100);
  summary = "BNUNNNEBNNNNEW" + summary;
  EXPECT_EQ(std::u16string(stored.GetValue().c_str()), std::u16string(summary.begin(), summary.begin() + 99) + u"s");
}

TEST(CodeHeurEngineTest, EveryHeuristicAnswersZeroWithoutHeadersOrParts) {
  CTestContext mail;  // no headers map, no parts, no page
  mail.mapPresent = mail.pagePresent = false;
  for (const char* name : {"H_MAIL_SIZE", "H_MAIL_HEADERS_COUNT", "H_MAIL_HEADER_MESSAGEID_LENGTH", "H_MAIL_PARTS_COUNT",
                           "H_MAIL_HEADER_RECEIVED_COUNT", "H_MAIL_HEADER_SUMMARY", "H_FEW_WORDS", "H_LONG_SIZE",
                           "H_HAS_ONE_RECV", "H_RETPATH_EMPTY", "H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED"})
    EXPECT_EQ(Heur(name, mail), 0.0) << name;
}

TEST(CodeHeurEngineTest, PageHeuristicsCountWordsAndSize) {
  auto words = [](int count) {
    std::string page;
    for (int i = 0; i < count; ++i) page += "w" + std::to_string(i) + "\t\r\n.,;!? "[i % 9];
    return page;
  };
  CTestContext page;
  for (const auto& [text, few] : {std::pair{words(19), 1.0}, {words(20), 0.0}, {" .,;!?\t\r\n", 1.0}, {"", 1.0},
                                  {words(5) + std::string(1, '\0') + words(30), 1.0}}) {
    page.page = text;
    EXPECT_EQ(Heur("H_FEW_WORDS", page), few) << text;
  }
  page.size = 204799;
  EXPECT_EQ(Heur("H_LONG_SIZE", page), 0.0);
  page.size = 204800;
  EXPECT_EQ(Heur("H_LONG_SIZE", page), 1.0);
}

TEST(CodeHeurEngineTest, ReceivedPathHeuristics) {
  const struct { std::vector<std::pair<const char*, const char*>> hops; double one, ipInHost, dsl, firstDsl; } rows[] = {
      {{{"mx.corp.test", "10.0.0.1"}}, 1, 0, 0, 0},
      {{{"mx.corp.test", "1.2.3.4"}, {"host-1-2-3-4.pool.isp.test", "1.2.3.4"}}, 0, 1, 1, 1},
      {{{"[1.2.3.4]", "1.2.3.4"}, {"1.2.3.4", "1.2.3.4"}, {"h1x3", "1.2"}}, 0, 0, 0, 0},
      {{{"adsl.isp.test", "5.6.7.8"}, {"relay.test", ""}}, 0, 0, 1, 0},
  };
  for (const auto& row : rows) {
    CTestContext mail;
    auto* received = mail.Add<zztest::CHeaderReceived>("RECEIVED", u"");
    for (const auto& [host, ip] : row.hops) received->hops.Add({host, ip});
    EXPECT_EQ(Heur("H_HAS_ONE_RECV", mail), row.one);
    EXPECT_EQ(Heur("H_IP_IN_HOSTNAME_RECV", mail), row.ipInHost) << row.hops.back().first;
    EXPECT_EQ(Heur("H_RECV_CONTAINS_DSL_LIKE_WORDS", mail), row.dsl);
    EXPECT_EQ(Heur("H_FIRST_RECV_CONTAINS_DSL_LIKE_WORDS", mail), row.firstDsl);
  }
  CTestContext mail;
  EXPECT_EQ(WhatOf([&] { Heur("H_HAS_ONE_RECV", mail); }), "ASException - MESSAGE: Headers \"Received\" not found ");
  mail.Add("RECEIVED", u"from a");
  EXPECT_EQ(WhatOf([&] { Heur("H_IP_IN_HOSTNAME_RECV", mail); }), "ASException - MESSAGE: wrong header type");
}

TEST(CodeHeurEngineTest, SenderHeuristics) {
  const std::u16string from = u"FROM a@corp.test", plain = u"CONTENT-TYPE text/plain", empty = u"RETURN-PATH <>";
  const struct { const char* name; std::vector<std::u16string> headers; double expected; } rows[] = {
      {"H_MAIL_HEADER_FROM_HAS_A_NAME", {u"FROM ann@corp.test"}, 0}, {"H_MAIL_HEADER_FROM_HAS_A_NAME", {u"FROM <a@b>"}, 1},
      {"H_MAIL_HEADER_FROM_HAS_A_NAME", {u"FROM a@b (A B)"}, 0}, {"H_MAIL_HEADER_FROM_HAS_A_NAME", {u"FROM A\t<a@b>"}, 1},
      {"H_MAIL_HEADER_FROM_HAS_A_NAME", {u"FROM A a@b <x>"}, 0}, {"H_MAIL_HEADER_FROM_HAS_A_NAME", {u"FROM Ann"}, 0},
      {"H_RETPATH_EMPTY", {from, empty, plain}, 1}, {"H_RETPATH_EMPTY", {from, u"RETURN-PATH <a@b>", plain}, 0},
      {"H_RETPATH_EMPTY", {from, empty, u"CONTENT-TYPE report; delivery-status"}, 0},
      {"H_RETPATH_EMPTY", {u"FROM MAILER-DAEMON@corp.test", empty, plain}, 0},
      {"H_YAHOO_AND_GMAIL_NO_DOMAIN_KEY", {u"FROM x@gmail.com"}, 1},
      {"H_YAHOO_AND_GMAIL_NO_DOMAIN_KEY", {u"FROM x@gmail.com", u"LIST-UNSUBSCRIBE <u>"}, 0},
      {"H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED", {u"TO bob@corp.test", from, u"RECEIVED from mx.isp.test"}, 1},
      {"H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED", {u"TO bob@corp.test", from, u"RECEIVED by mx.corp.test"}, 0},
      {"H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED", {u"TO bob@corp.test", u"CC al@isp.test", from, u"RECEIVED x"}, 0},
      {"H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED", {u"TO b@gmail.com", u"CC c@gmail.com", u"RECEIVED by mail.google.com"}, 0},
      {"H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED", {u"TO b@gmail.com", u"CC c@gmail.com", u"RECEIVED by mx.isp.test"}, 1},
  };
  for (const auto& row : rows) {
    CTestContext mail;
    for (const std::u16string& header : row.headers) {
      const std::string name(header.begin(), header.begin() + header.find(u' '));
      const std::u16string value = header.substr(header.find(u' ') + 1);
      if (name == "TO") mail.Add<zztest::CHeaderAddress>("TO", value)->addresses.Add(value.c_str());
      else mail.Add(name.c_str(), value);
    }
    EXPECT_EQ(Heur(row.name, mail), row.expected) << row.name << " " << row.headers.size();
  }
}

// One engine, many threads, each on its own context: the registry is only read.
TEST(CodeHeurEngineThreadTest, ConcurrentCallsAgree) {
  const CCodeHeurEngine engine;  // built before the threads, as the filter builds it under its lock
  std::vector<double> sums(4);
  std::vector<std::thread> threads;
  for (double& sum : sums) threads.emplace_back([&sum, &engine] {
      CTestContext mail;
      mail.Add("SUBJECT", u"a b c");
      mail.AddPart(false, u"text", "BNUNE");
      for (int i = 0; i < 2000; ++i)
        sum += engine.Call("H_MAIL_HEADER_SUBJECT_LENGTH", kEngines, &mail, nullptr) +
               engine.Call("H_MAIL_HEADER_SUMMARY", kEngines, &mail, nullptr);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(sums, std::vector<double>(4, 2000 * (5 + 5)));
}

}  // namespace
