// The advanced list filter on real category files: the white-list short cut, every category
// checked, the summary flag, per-session switches, lookups that answer neither 0 nor 1,
// incremental reloads that leave empty files behind, trace lines, and items processed on
// several threads while lists arrive.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "asfn/asfn.h"
#include "common/urlutils.h"
#include "itemfields.h"
#include "modnames.h"
#include "parentalbwlistadvancedfilter/parentalbwlistadvancedfilter.h"
#include "support/fake_settings.h"
#include "support/scratch_dir.h"
#include "support/trace_capture.h"
#include "zzplat/paths.h"

namespace {

namespace fs = std::filesystem;
namespace field = nsHttpModules::ItemField;
using nsHttpModules::BWListAdvancedSharedData;
using nsHttpModules::CParentalBWListAdvancedFilter;
using nsHttpModules::kCategoryLists;

// List indexes of the table in categories.h.
constexpr int kGames = 1, kGambling = 4, kOnlineDating = 11, kRegionalTLDS = 14,
              kPornography = 16, kWhite = 17;

std::u16string Wide(const std::string& text) { return zzplat::Utf8ToUtf16Lenient(text); }

// What Process left in an item: the lists that hit (bbext value 1, table order), the flag,
// and the result keys of the item blackbox ("all 0": the 18 keys, each 0).
struct Outcome {
  std::string hits;
  std::string item;
  bool operator==(const Outcome&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << "{" << o.hits << " | " << o.item << "}";
}

Outcome Read(AItem& item) {
  Outcome outcome;
  ascommon::CBlackBox& bb = item.GetBlackBox();
  ascommon::CBlackBox& ext = *item.GetExtBlackBox();
  int zeros = 0;
  for (const auto& list : kCategoryLists) {
    if (ext.GetKind(list.resultKey) != 0 && ext.GetBool(list.resultKey)) {
      outcome.hits += (outcome.hits.empty() ? "" : ",") + std::string(list.traceName);
    }
    if (bb.GetKind(list.resultKey) != 0) {
      ++zeros;
      outcome.item += (bb.GetBool(list.resultKey) ? " 1:" : " ") + std::string(list.traceName);
    }
  }
  outcome.hits += ext.GetKind(field::kListSummaryFlag) == 0
                      ? " flag none"
                      : std::string(" flag ") + (ext.GetBool(field::kListSummaryFlag) ? "1" : "0");
  outcome.item = zeros == 18 && outcome.item.find(':') == std::string::npos ? "all 0"
                 : outcome.item.empty()                                    ? "none"
                                                                           : outcome.item.substr(1);
  return outcome;
}

class AdvancedFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_settings.SetString(u"/http/global/SharedDataPath", Wide(m_dir.string()));
    m_settings.SetString(u"/http/global/GlobalTempPath", Wide(m_dir.string()));
    m_filter.SetSettings(&m_settings);
    m_filter.SetSharedData(m_filter.CreateSharedData());
  }
  void TearDown() override {
    for (std::uint32_t id : m_sessions) m_filter.DestroySessionData(m_filter.GetSessionData(id));
    m_filter.DestroySharedData(m_filter.GetSharedData());
  }

  // Writes list index's category file from URL lines.
  void WriteCategory(int index, std::initializer_list<const char*> urls) {
    std::string text;
    for (const char* url : urls) text += std::string(url) + "\n";
    std::ofstream(m_dir / "list.txt") << text;
    const std::string file(kCategoryLists[index].dataFile,
                           kCategoryLists[index].dataFile +
                               std::char_traits<char16_t>::length(kCategoryLists[index].dataFile));
    ascommon::CURLCategoryDB builder;
    ASSERT_EQ(builder.BuildFromText(Wide((m_dir / "list.txt").string()).c_str(),
                                    Wide((m_dir / file).string()).c_str(), nullptr,
                                    Wide(m_dir.string()).c_str()),
              0);
  }
  void Reload() { m_filter.ReloadSharedData(); }
  // Opens a session as the host does; its switches come from the settings.
  void OpenSession(std::uint32_t id) {
    m_filter.SetSessionData(id, m_filter.CreateSessionData());
    m_filter.SetSessionActive(id, 1);
    m_filter.ReloadSessionSettings(id);
    m_sessions.push_back(id);
  }
  void Switch(const char16_t* ending, std::uint32_t value, std::uint32_t session) {
    m_settings.SetInt(std::u16string(u"/http/filter/parentalbwlist/") + ending, value, session);
  }
  Outcome Run(const std::string& url, std::uint32_t session = 0,
              CParentalBWListAdvancedFilter* filter = nullptr) {
    ascommon::CParsedURL parsed;
    EXPECT_EQ(parsed.ParseURL(url.data(), url.size()), 0) << url;
    ascommon::CBlackBox ext;
    AItem item(&ext);
    item.GetBlackBox().SetGenericObject(field::kUrlInfo, &parsed);
    (filter != nullptr ? *filter : m_filter).Process(session, &item, 0);
    return Read(item);
  }
  BWListAdvancedSharedData& Shared() {
    return *static_cast<BWListAdvancedSharedData*>(m_filter.GetSharedData());
  }

  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
  zztest::FakeSettings m_settings;
  CParentalBWListAdvancedFilter m_filter{nsHttpModules::g_strHttpParentalBWListAdvancedFilter};
  std::vector<std::uint32_t> m_sessions;
};

TEST_F(AdvancedFilterTest, CategoriesAreCheckedInFullAndOnlyPornographySetsTheFlag) {
  WriteCategory(kGambling, {"casino.test", "both.test"});
  WriteCategory(kPornography, {"both.test", "http://adult.test/gallery"});
  WriteCategory(kGames, {"http://casino.test/games/"});  // lists its domain too
  WriteCategory(kWhite, {"kids.test"});
  Reload();
  OpenSession(0);
  const struct {
    const char* url;
    Outcome outcome;
  } cases[] = {
      {"http://casino.test/", {"Games,Gambling flag 0", "all 0"}},
      {"http://www.both.test/x", {"Gambling,Pornography flag 1", "all 0"}},
      {"https://cdn.adult.test/", {"Pornography flag 1", "all 0"}},
      {"http://clean.test/", {" flag 0", "all 0"}},
      // A white domain short-cuts the categories: only 10117 is written into the item.
      {"http://www.kids.test/casino.test", {"White flag 1", "White"}},
      {"http://sub.kids.test/", {"White flag 1", "White"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.url), c.outcome) << c.url;
}

TEST_F(AdvancedFilterTest, TraceLinesOfOneItem) {
  WriteCategory(kGambling, {"http://both.test/x"});
  WriteCategory(kPornography, {"both.test"});
  Reload();
  OpenSession(0);
  zztest::TraceCapture trace;
  Run("http://www.both.test/x?q=1");
  std::vector<std::string> texts;
  for (const auto& line : trace.Lines()) texts.push_back(line.text.substr(line.text.find(" -") + 2));
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "[Parental BW List Advanced] url to lookup: both.test/x\n",
                       "[Parental BW List Advanced] Gambling url\n",
                       "[Parental BW List Advanced] Gambling subdomain\n",
                       "[Parental BW List Advanced] Gambling domain\n",
                       "[Parental BW List Advanced] Pornography subdomain\n",
                       "[Parental BW List Advanced] Pornography domain\n",
                   }));
}

TEST_F(AdvancedFilterTest, SessionsKeepTheirOwnSwitches) {
  WriteCategory(kGambling, {"both.test"});
  WriteCategory(kPornography, {"both.test"});
  WriteCategory(kOnlineDating, {"date.test"});
  WriteCategory(kRegionalTLDS, {"date.test"});
  Reload();
  for (const char16_t* ending : {u"WebProxyEnabled", u"GamesEnabled", u"TabloidsEnabled",
                                 u"HateEnabled", u"GamblingEnabled", u"DrugsEnabled",
                                 u"IllegalEnabled", u"OnlineShopEnabled", u"OnlinePayEnabled",
                                 u"VideoEnabled", u"SocialNetworksEnabled", u"IMEnabled",
                                 u"SearchEnginesEnabled", u"RegionalTLDSEnabled", u"NewsEnabled",
                                 u"PornographyEnabled"}) {
    Switch(ending, 0, 3);  // session 3: nothing
  }
  Switch(u"GamblingEnabled", 0, 1);
  Switch(u"RegionalTLDSEnabled", 0, 1);  // switches online dating too
  Switch(u"PornographyEnabled", 2, 2);   // only 1 is on
  for (std::uint32_t id : {0u, 1u, 2u, 3u}) OpenSession(id);

  const Outcome both0 = {"Gambling,Pornography flag 1", "all 0"};
  EXPECT_EQ(Run("http://both.test/", 0), both0);
  EXPECT_EQ(Run("http://both.test/", 1), (Outcome{"Pornography flag 1", "all 0"}));
  EXPECT_EQ(Run("http://both.test/", 2), (Outcome{"Gambling flag 0", "all 0"}));
  EXPECT_EQ(Run("http://both.test/", 3), (Outcome{" flag 0", "all 0"}));
  EXPECT_EQ(Run("http://date.test/", 0), (Outcome{"Online Dating,Regional TLDS flag 0", "all 0"}));
  EXPECT_EQ(Run("http://date.test/", 1), (Outcome{" flag 0", "all 0"}));
  // Session 0 is untouched by the others.
  EXPECT_EQ(Run("http://both.test/", 0), both0);
}

// A store that answers what it is told, to see what the filter makes of the answers.
class ScriptedDB : public ascommon::CURLCategoryDB {
 public:
  ScriptedDB(std::int32_t url, std::int32_t subdomain, std::int32_t domain)
      : m_answers{url, subdomain, domain} {}
  void Lookup(const ascommon::CCategoryProbe& probe, std::int32_t results[3]) const noexcept override {
    for (int p = 0; p < 3; ++p) results[p] = probe.present[p] ? m_answers[p] : 0;
  }

 private:
  std::int32_t m_answers[3];
};

TEST_F(AdvancedFilterTest, OnlyAnAnswerOfExactlyOneIsAHit) {
  WriteCategory(kGames, {"other.test"});
  Reload();
  OpenSession(0);
  auto& lists = Shared().lists;
  lists[kWhite] = new ScriptedDB(2, -1, 2);
  lists[kGambling] = new ScriptedDB(-1, 2, 1);
  lists[kPornography] = new ScriptedDB(-2, 3, 0);
  zztest::TraceCapture trace;
  EXPECT_EQ(Run("http://www.site.test/page"), (Outcome{"Gambling flag 0", "all 0"}));
  EXPECT_EQ(trace.Count("] Gambling domain\n"), 1);
  EXPECT_EQ(trace.Count("] Gambling "), 1);
  EXPECT_EQ(trace.Count("] White "), 0);
}

TEST_F(AdvancedFilterTest, ReloadLoadsWhatIsMissingAndLeavesEmptyFilesBehind) {
  zztest::TraceCapture trace;
  EXPECT_THROW(Reload(), ASException);
  EXPECT_EQ(trace.Count("ASException - MESSAGE: [Parental BW List Advanced] None of the url "
                        "engines could be initialized.\n"),
            1);
  EXPECT_EQ(trace.Count("] Problems loading the "), 18);
  for (const auto& list : kCategoryLists) {
    const fs::path file = m_dir / std::string(list.dataFile, list.dataFile +
                                                  std::char_traits<char16_t>::length(list.dataFile));
    EXPECT_TRUE(fs::exists(file) && fs::file_size(file) == 0) << file;
  }

  // Only the white list: enough.
  WriteCategory(kWhite, {"kids.test"});
  trace.Clear();
  Reload();
  EXPECT_EQ(trace.Count("] Problems loading the "), 17);
  EXPECT_EQ(trace.Count("] Problems loading the OnlineShop URLs, no blacklist?\n"), 1);
  EXPECT_EQ(trace.Count("] Problems loading the WhiteList URLs"), 0);
  ascommon::CURLCategoryDB* const white = Shared().lists[kWhite];
  ASSERT_NE(white, nullptr);
  OpenSession(0);
  EXPECT_EQ(Run("http://kids.test/"), (Outcome{"White flag 1", "White"}));
  EXPECT_EQ(Run("http://gamble.test/"), (Outcome{" flag 0", "all 0"}));

  // A list that arrives later is picked up; the loaded white list is not reloaded, so a
  // changed white file has no effect.
  WriteCategory(kGambling, {"gamble.test"});
  WriteCategory(kWhite, {"gamble.test"});
  trace.Clear();
  Reload();
  EXPECT_EQ(trace.Count("] Problems loading the "), 16);
  EXPECT_EQ(Shared().lists[kWhite], white);
  EXPECT_EQ(Run("http://gamble.test/"), (Outcome{"Gambling flag 0", "all 0"}));
}

// A reload that adds a list, with an allocation failing at every step in turn: the answers
// follow the lists that did load (whether or not the gate could be rebuilt), and nothing
// leaks.
TEST_F(AdvancedFilterTest, ReloadUnderAllocationFailureKeepsAnswersRight) {
  // Every list but gambling loads at once, so the second reload only adds gambling.
  for (int i = 0; i < nsHttpModules::kListCount; ++i) WriteCategory(i, {"elsewhere.test"});
  WriteCategory(kWhite, {"kids.test"});
  WriteCategory(kGames, {"games.test"});
  std::ofstream(m_dir / "pc_gambling.dat").close();  // empty: not loaded at first
  OpenSession(0);
  const std::int64_t before = asfn_live_blocks();
  // n = 0 runs without a failure and counts the reload's allocations; then each one fails.
  std::uint64_t allocations = 0;
  for (std::uint64_t n = 0; n <= allocations; ++n) {
    {
      CParentalBWListAdvancedFilter filter(nsHttpModules::g_strHttpParentalBWListAdvancedFilter);
      filter.SetSettings(&m_settings);
      filter.SetSharedData(filter.CreateSharedData());
      filter.SetSessionData(0, m_filter.GetSessionData(0));
      filter.SetSessionActive(0, 1);
      filter.ReloadSharedData();
      WriteCategory(kGambling, {"games.test", "casino.test"});
      const std::uint64_t start = asfn_allocation_count();
      if (n != 0) asfn_fail_at(n, ASFN_FAIL_ONCE);
      try {
        filter.ReloadSharedData();
      } catch (const std::exception&) {
      }
      asfn_fail_at(0, ASFN_FAIL_OFF);
      if (n == 0) allocations = asfn_allocation_count() - start;
      auto& shared = *static_cast<BWListAdvancedSharedData*>(filter.GetSharedData());
      const bool gambling = shared.lists[kGambling] != nullptr;
      EXPECT_EQ(Run("http://games.test/", 0, &filter).hits,
                gambling ? "Games,Gambling flag 0" : "Games flag 0") << "allocation " << n;
      EXPECT_EQ(Run("http://casino.test/", 0, &filter).hits,
                gambling ? "Gambling flag 0" : " flag 0") << "allocation " << n;
      filter.SetSessionData(0, nullptr);
      filter.DestroySharedData(filter.GetSharedData());
      std::ofstream(m_dir / "pc_gambling.dat").close();
    }
    ASSERT_EQ(asfn_live_blocks(), before) << "failure at allocation " << n;
  }
  EXPECT_GT(allocations, 10u);
}

// Threads process items of two sessions while lists arrive and are loaded: every result is
// one a single moment of the lists could give.
class AdvancedFilterThreadTest : public AdvancedFilterTest {};

TEST_F(AdvancedFilterThreadTest, ProcessWhileListsArrive) {
  WriteCategory(kWhite, {"kids.test"});
  Reload();
  Switch(u"GamblingEnabled", 0, 1);
  OpenSession(0);
  OpenSession(1);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  const auto worker = [&](std::uint32_t session) {
    ascommon::CParsedURL url;
    url.ParseURL("http://www.both.test/", 21);
    ascommon::CBlackBox ext;
    AItem item(&ext);
    while (!done.load()) {
      item.GetBlackBox().RemoveAll();
      ext.RemoveAll();
      item.GetBlackBox().SetGenericObject(field::kUrlInfo, &url);
      m_filter.Process(session, &item, 0);
      const Outcome got = Read(item);
      const bool ok = session == 0
                          ? got.hits == " flag 0" || got.hits == "Gambling flag 0" ||
                                got.hits == "Gambling,Pornography flag 1"
                          : got.hits == " flag 0" || got.hits == "Pornography flag 1";
      if (!ok || got.item != "all 0") ++bad;
    }
  };
  std::thread first(worker, 0), second(worker, 1);
  WriteCategory(kGambling, {"both.test"});
  Reload();
  WriteCategory(kPornography, {"both.test"});
  Reload();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  done = true;
  first.join();
  second.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(Run("http://both.test/", 1), (Outcome{"Pornography flag 1", "all 0"}));
}

}  // namespace
