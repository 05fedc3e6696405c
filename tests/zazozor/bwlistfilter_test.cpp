// The BW list filter on real list files: the order of its lookups, reloads
// that add to the lists, failures on missing files and items without URL information.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "itemfields.h"
#include "modnames.h"
#include "parentalbwlistfilter/parentalbwlistfilter.h"
#include "support/fake_settings.h"
#include "support/scratch_dir.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

namespace field = nsHttpModules::ItemField;

class BWListFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_settings.SetString(u"/http/global/SharedDataPath", m_dir.Wide());
    m_settings.SetString(u"/http/global/GlobalTempPath", m_dir.Wide());
    m_filter.SetSettings(&m_settings);
    m_filter.SetSharedData(m_filter.CreateSharedData());
    m_filter.SetSessionData(0, m_filter.CreateSessionData());
    m_filter.SetSessionActive(0, 1);
  }
  void TearDown() override {
    m_filter.DestroySessionData(m_filter.GetSessionData(0));
    m_filter.DestroySharedData(m_filter.GetSharedData());
  }

  // Writes a list file holding exactly these keys (no reduction to site keys).
  void WriteList(const char* file, std::initializer_list<const char*> keys) {
    ascommon::CURLDB db;
    for (const char* key : keys) {
      auto* item = new ascommon::CURL();
      ASSERT_EQ(item->SetKey(key, std::char_traits<char>::length(key)), 0);
      ASSERT_EQ(db.ApplyItem(1, item), 0);
    }
    ASSERT_EQ(db.UnloadURLsToFile(zztest::Wide(m_dir / file).c_str(), m_dir.Wide().c_str()), 0);
  }
  void WriteLists(std::initializer_list<const char*> black,
                  std::initializer_list<const char*> white) {
    WriteList("prlblk.cas", black);
    WriteList("prlwht.cas", white);
  }

  // "white", "black" or "" for the verdict the filter writes for a URL.
  std::string Verdict(const std::string& url) {
    ascommon::CParsedURL parsed;
    EXPECT_EQ(parsed.ParseURL(url.data(), url.size()), 0) << url;
    ascommon::CBlackBox ext;
    AItem item(&ext);
    item.GetBlackBox().SetGenericObject(field::kUrlInfo, &parsed);
    m_filter.Process(0, &item, 0);
    const bool white = item.GetBlackBox().GetKind(field::kWhiteListHit) != 0;
    const bool black = item.GetBlackBox().GetKind(field::kBlackListHit) != 0;
    EXPECT_FALSE(white && black) << url;
    return white ? "white" : black ? "black" : "";
  }

  zztest::ScratchDir m_dir;
  zztest::FakeSettings m_settings;
  nsHttpModules::CParentalBWListFilter m_filter{nsHttpModules::g_strHttpParentalBWListFilter};
};

TEST_F(BWListFilterTest, OrderOfLookupsAndReloads) {
  WriteLists({"gamble.test", "news.test/sports", "mixed.test", "shop.test/deals", "kids.test"},
             {"kids.test", "gamble.test/help", "mixed.test/ok", "news.test", "sub.kids2.test"});
  m_filter.ReloadSharedData();
  const struct {
    const char* url;
    const char* verdict;
  } cases[] = {
      {"http://www.gamble.test/", "black"},            // site lookup covers www.
      {"http://deep.sub.gamble.test/x?y=1", "black"},  // and every subdomain
      {"http://gamble.test/help", "black"},            // black domain beats a white path
      {"http://news.test/sports", "white"},            // white domain beats a black path
      {"http://mixed.test/ok", "black"},               // the domain candidate comes first
      {"http://shop.test/deals/", "black"},            // exact lookup of the path piece
      {"http://shop.test/other", ""},
      {"https://kids.test:8443/a", "white"},           // on both lists: white wins
      {"http://sub.kids2.test", "white"},  // exact lookup of a path that is no site key
      {"http://kids2.test", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Verdict(c.url), c.verdict) << c.url;
  // A reload adds what the files hold to what is loaded: a key gone from a file stays
  // listed until the process starts again.
  WriteLists({"gamble.test"}, {"shop.test"});
  m_filter.ReloadSharedData();
  EXPECT_EQ(Verdict("http://shop.test/deals/"), "white");
  EXPECT_EQ(Verdict("http://mixed.test/ok"), "black");
}

TEST_F(BWListFilterTest, MissingListsAndUrlInformation) {
  zztest::TraceCapture trace;
  EXPECT_EQ(zztest::WhatOf([&] { m_filter.ReloadSharedData(); }),
            "ASException - CODE: -3 MESSAGE: [Parental BW List] Problems loading the URLs, no blacklist?");
  EXPECT_EQ(trace.Count("[Parental BW List] error loading the BLACK list\n"), 1);
  EXPECT_EQ(trace.Count("no blacklist?"), 0);  // no exception line: "error loading" stands for it
  // With only the black list present the black list stays in service.
  WriteList("prlblk.cas", {"gamble.test"});
  EXPECT_THROW(m_filter.ReloadSharedData(), ASException);
  EXPECT_EQ(trace.Count("error loading the WHITE list"), 1);
  EXPECT_EQ(Verdict("http://gamble.test/"), "black");

  ascommon::CBlackBox ext;
  AItem item(&ext);
  EXPECT_EQ(zztest::WhatOf([&] { m_filter.Process(0, &item, 0); }),
            "ASBadPtrException - MESSAGE: invalid pointer to the url info");
  EXPECT_EQ(m_filter.GetLocker()->ReaderCount(), 0);
}

}  // namespace
