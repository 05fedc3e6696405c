// The advanced list filter on real category files: the white-list short cut, every category
// checked, the summary flag, trace lines, per-session switches, incremental reloads that
// leave empty files behind, and items processed on several threads while lists arrive
// (reloads under allocation failure: tests/host/filter_allocation_sweep_test.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
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

namespace {

namespace fs = std::filesystem;
namespace field = nsHttpModules::ItemField;
using nsHttpModules::BWListAdvancedSharedData;
using nsHttpModules::CParentalBWListAdvancedFilter;
using nsHttpModules::kCategoryLists;

// List indexes of the table in categories.h.
constexpr int kGames = 1, kGambling = 4, kOnlineDating = 11, kRegionalTLDS = 14,
              kPornography = 16, kWhite = 17;

// What Process left in an item: "HITS flag F | ITEM": the lists whose bbext result is 1
// (table order), the summary flag, and the item blackbox's result keys ("all 0": all 18,
// each 0; else the lists it holds).
std::string Read(AItem& item) {
  ascommon::CBlackBox& bb = item.GetBlackBox();
  ascommon::CBlackBox& ext = *item.GetExtBlackBox();
  std::string hits, held;
  int zeros = 0;
  for (const auto& list : kCategoryLists) {
    if (ext.GetKind(list.resultKey) != 0 && ext.GetBool(list.resultKey)) {
      hits += (hits.empty() ? "" : ",") + std::string(list.traceName);
    }
    if (bb.GetKind(list.resultKey) != 0) {
      zeros += !bb.GetBool(list.resultKey);
      held += (bb.GetBool(list.resultKey) ? " 1:" : " ") + std::string(list.traceName);
    }
  }
  hits += ext.GetKind(field::kListSummaryFlag) == 0 ? " flag none"
          : ext.GetBool(field::kListSummaryFlag)     ? " flag 1"
                                                     : " flag 0";
  return hits + " | " +
         (zeros == nsHttpModules::kListCount ? "all 0" : held.empty() ? "none" : held.substr(1));
}

class AdvancedFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_settings.SetString(u"/http/global/SharedDataPath", m_dir.Wide());
    m_settings.SetString(u"/http/global/GlobalTempPath", m_dir.Wide());
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
    zztest::WriteBytes(m_dir / "list.txt", text);
    ascommon::CURLCategoryDB builder;
    ASSERT_EQ(builder.BuildFromText(zztest::Wide(m_dir / "list.txt").c_str(),
                                    zztest::Wide(DataFile(index)).c_str(), nullptr,
                                    m_dir.Wide().c_str()),
              0);
  }
  fs::path DataFile(int index) const {
    const char16_t* name = kCategoryLists[index].dataFile;
    return m_dir / std::string(name, name + std::char_traits<char16_t>::length(name));
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
  std::string Run(const std::string& url, std::uint32_t session = 0,
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

  zztest::ScratchDir m_dir;
  zztest::FakeSettings m_settings;
  CParentalBWListAdvancedFilter m_filter{nsHttpModules::g_strHttpParentalBWListAdvancedFilter};
  std::vector<std::uint32_t> m_sessions;
};

// Session 0 has every switch on, 1 no gambling and no regional TLDs (which switches online
// dating too), 2 a pornography switch of 2 (only 1 is on), 3 nothing.
TEST_F(AdvancedFilterTest, CategoriesCheckedInFullPerSessionOnlyPornographySetsTheFlag) {
  WriteCategory(kGambling, {"casino.test", "both.test"});
  WriteCategory(kPornography, {"both.test", "http://adult.test/gallery"});
  WriteCategory(kGames, {"http://casino.test/games/"});  // lists its domain too
  WriteCategory(kOnlineDating, {"date.test"});
  WriteCategory(kRegionalTLDS, {"date.test"});
  WriteCategory(kWhite, {"kids.test"});
  Reload();
  for (int i = 0; i < nsHttpModules::kCategoryCount; ++i) {
    Switch(kCategoryLists[i].enableKeyEnding, 0, 3);
  }
  Switch(u"GamblingEnabled", 0, 1);
  Switch(u"RegionalTLDSEnabled", 0, 1);
  Switch(u"PornographyEnabled", 2, 2);
  for (std::uint32_t id : {0u, 1u, 2u, 3u}) OpenSession(id);
  const struct {
    const char* url;
    std::uint32_t session;
    const char* outcome;
  } cases[] = {
      {"http://casino.test/", 0, "Games,Gambling flag 0 | all 0"},
      {"http://www.both.test/x", 0, "Gambling,Pornography flag 1 | all 0"},
      // A white domain short-cuts the categories: only 10117 is written into the item.
      {"http://www.kids.test/casino.test", 0, "White flag 1 | White"},
      {"http://date.test/", 0, "Online Dating,Regional TLDS flag 0 | all 0"},
      {"http://date.test/", 1, " flag 0 | all 0"},
      {"http://both.test/", 1, "Pornography flag 1 | all 0"},
      {"http://both.test/", 2, "Gambling flag 0 | all 0"},
      {"http://both.test/", 3, " flag 0 | all 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.url, c.session), c.outcome) << c.url << c.session;
  // Without its filter (a white list too large for one, or memory ran out) the white list
  // answers from its own sets.
  delete Shared().whiteFilter;
  Shared().whiteFilter = nullptr;
  EXPECT_EQ(Run("http://www.kids.test/casino.test", 0), "White flag 1 | White");
}

TEST_F(AdvancedFilterTest, ReloadLoadsWhatIsMissingAndLeavesEmptyFilesBehind) {
  zztest::TraceCapture trace;
  EXPECT_THROW(Reload(), ASException);
  EXPECT_EQ(trace.Count("ASException - MESSAGE: [Parental BW List Advanced] None of the url "
                        "engines could be initialized.\n"),
            1);
  EXPECT_EQ(trace.Count("] Problems loading the "), 18);
  for (int i = 0; i < nsHttpModules::kListCount; ++i) {
    EXPECT_TRUE(fs::exists(DataFile(i)) && fs::file_size(DataFile(i)) == 0) << i;
  }

  // Only the white list: enough.
  WriteCategory(kWhite, {"kids.test"});
  trace.Clear();
  Reload();
  EXPECT_EQ(trace.Count("] Problems loading the OnlineShop URLs, no blacklist?\n"), 1);
  EXPECT_EQ(trace.Count("] Problems loading the WhiteList URLs"), 0);
  ascommon::CURLCategoryDB* const white = Shared().lists[kWhite];
  ASSERT_NE(white, nullptr);
  OpenSession(0);
  EXPECT_EQ(Run("http://gamble.test/"), " flag 0 | all 0");

  // A list that arrives later is picked up; the loaded white list is not reloaded, so a
  // changed white file has no effect.
  WriteCategory(kGambling, {"gamble.test"});
  WriteCategory(kWhite, {"gamble.test"});
  Reload();
  EXPECT_EQ(Shared().lists[kWhite], white);
  EXPECT_EQ(Run("http://gamble.test/"), "Gambling flag 0 | all 0");
}

// A list loaded when the index cannot be rebuilt (memory runs out at any allocation of the
// reload that adds it) is looked up itself, and the lists of the old index still answer
// through it.
TEST_F(AdvancedFilterTest, ListsTheIndexDoesNotCoverAreLookedUpThemselves) {
  WriteCategory(kWhite, {"kids.test"});
  WriteCategory(kGames, {"play.test"});
  WriteCategory(kGambling, {"gamble.test"});
  const fs::path kept = m_dir / "gambling.kept";
  fs::rename(DataFile(kGambling), kept);
  OpenSession(0);
  int unindexed = 0;
  for (std::uint64_t n = 1;; ++n) {
    m_filter.DestroySharedData(m_filter.GetSharedData());
    m_filter.SetSharedData(m_filter.CreateSharedData());
    fs::remove(DataFile(kGambling));
    Reload();
    fs::copy_file(kept, DataFile(kGambling), fs::copy_options::overwrite_existing);
    const std::uint64_t before = asfn_allocation_count();
    asfn_fail_at(n, ASFN_FAIL_ONCE);
    try {
      Reload();
    } catch (const ASException&) {
    }
    asfn_fail_at(0, ASFN_FAIL_OFF);
    const std::uint64_t used = asfn_allocation_count() - before;
    if (Shared().lists[kGambling] != nullptr) {
      unindexed += (Shared().indexed >> kGambling & 1u) == 0;
      ASSERT_EQ(Run("http://gamble.test/"), "Gambling flag 0 | all 0") << n;
    }
    ASSERT_EQ(Run("http://play.test/"), "Games flag 0 | all 0") << n;
    if (used <= n) break;  // the reload needed no more than n allocations
  }
  EXPECT_GT(unindexed, 0);
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
      const std::string got = Read(item);
      const bool ok = session == 0 ? got == " flag 0 | all 0" || got == "Gambling flag 0 | all 0" ||
                                         got == "Gambling,Pornography flag 1 | all 0"
                                   : got == " flag 0 | all 0" || got == "Pornography flag 1 | all 0";
      if (!ok) ++bad;
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
  EXPECT_EQ(Run("http://both.test/", 1), "Pornography flag 1 | all 0");
}

}  // namespace
