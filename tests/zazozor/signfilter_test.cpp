// The parental signatures filter on real rule files: the missing main file, the order of the
// signatures with the first hit deciding, a failing signature passed over, the keys written,
// commands other than 0, and a reload that replaces the rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "itemfields.h"
#include "modnames.h"
#include "page_item.h"
#include "parentalsignfilter/parentalsignfilter.h"
#include "support/bin_dir.h"
#include "support/fake_settings.h"
#include "support/scratch_dir.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace field = nsHttpModules::ItemField;
namespace fs = std::filesystem;

namespace {

// Highest priority first: Fails raises (its header action has no headers on a page), Zero
// does not match, Hit decides, Later never runs. Extra's file holds a second Hit, ignored.
constexpr char kRules[] =
    "rule Fails { condition: none; actions: add_header(\"X-A\", \"1\"); metadata: priority = 40; }\n"
    "rule Zero { condition: match(\"absent\", HTML::Body, REGEX); actions: none;"
    " metadata: priority = 30; }\n"
    "rule Hit { condition: match(\"o(n|ff)e\", HTML::Body, REGEX, DECODED);"
    " actions: mark(\"games\", 7); metadata: priority = 20; }\n"
    "rule Later { condition: none; actions: mark(\"later\", 1); metadata: priority = 10; }\n";

class SignFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_settings.SetString(u"/http/global/SharedDataPath", m_dir.Path().u16string());
    m_settings.SetString(u"/http/global/SharedLibsPath", zztest::BinDir().u16string());
    m_settings.SetInt(u"/http/global/AllParentalFiltersEnabled", 1);
    m_filter.SetSettings(&m_settings);
    m_filter.SetSharedData(m_filter.CreateSharedData());
    m_filter.SetSessionData(0, m_filter.CreateSessionData());
    m_filter.SetSessionActive(0, 1);
  }
  void TearDown() override {
    m_filter.DestroySessionData(m_filter.GetSessionData(0));
    m_filter.SetSessionData(0, nullptr);
    m_filter.DestroySharedData(m_filter.GetSharedData());
  }
  void Write(const char* name, const std::string& text) {
    std::ofstream(m_dir.Path() / name) << text;
  }
  // Processes a page; returns its 31055/31056/31057 as "category score rule" ("-" absent).
  std::string Process(const std::string& html, std::uint32_t command = 0) {
    zzhost::CPageItem page(html, "http://page.test/", 50);
    m_filter.Process(0, &page.Item(), command);
    const ascommon::CBlackBox& bb = page.Item().GetBlackBox();
    auto text = [&](std::uint32_t key) {
      return bb.GetKind(key) != 0 ? std::string(bb.GetCharBuf(key)) : std::string("-");
    };
    return text(field::kSignatureCategory) + " " +
           (bb.GetKind(field::kSignatureScore) != 0 ? std::to_string(bb.GetInt(field::kSignatureScore))
                                                    : std::string("-")) +
           " " + text(field::kSignatureRule);
  }

  zztest::ScratchDir m_dir;
  zztest::FakeSettings m_settings;
  nsHttpModules::CParentalSignFilter m_filter{nsHttpModules::g_strHttpParentalSignaturesFilter};
};

TEST_F(SignFilterTest, MissingMainFileIsCreatedEmptyAndTheNextReloadRunsNoRule) {
  EXPECT_EQ(zztest::WhatOf([&] { m_filter.ReloadSharedData(); }),
            "ASMemException - MESSAGE: [Parental Sign] no data file pc_sign");
  EXPECT_TRUE(fs::exists(m_dir.Path() / "pc_sign.slf"));
  m_filter.ReloadSharedData();
  zztest::TraceCapture trace;
  EXPECT_EQ(Process("<p>one</p>"), "- - -");
  EXPECT_EQ(trace.Count("-[Parental Sign] obtained 0 signatures\n"), 1);
  EXPECT_EQ(trace.Count("-[Parental Sign] no signature has returned non-zero\n"), 1);
}

TEST_F(SignFilterTest, FirstHitDecidesAfterAFailingSignature) {
  Write("pc_sign.slf", kRules);
  Write("pc_extra.slf", "rule Hit { condition: none; actions: mark(\"other\", 1);"
                        " metadata: priority = 99; }\n");
  m_filter.ReloadSharedData();
  zztest::TraceCapture trace;
  EXPECT_EQ(Process("<p>one</p>"), "games 7 Hit");
  EXPECT_EQ(trace.Count("-[Parental Sign] obtained 4 signatures\n"), 1);
  EXPECT_EQ(trace.Count("-[Parental Sign] signature Fails failed to execute successfully\n"), 1);
  EXPECT_EQ(trace.Count("signature Zero executed successfully and returned 0.000000\n"), 1);
  EXPECT_EQ(trace.Count("signature Hit executed successfully and returned 1.000000\n"), 1);
  EXPECT_EQ(trace.Count("will execute signature Later"), 0);
  EXPECT_EQ(Process("<p>two</p>"), "later 1 Later");
  EXPECT_EQ(Process("<p>one</p>", 3), "- - -");
  EXPECT_EQ(trace.Count("-[Parental Sign] this command is not supported\n"), 1);
  // A reload builds the engine anew from the files as they are now.
  Write("pc_extra.slf", "");
  Write("pc_sign.slf", "rule Only { condition: none; actions: set_category(\"c\");"
                       " metadata: priority = 1; }\n");
  m_filter.ReloadSharedData();
  EXPECT_EQ(Process("<p>one</p>"), "c - Only");
}

}  // namespace
