// What every filter shares: enable rules, session blocks, and the common start of Process
// (session checks, null item, missing shared data, unsupported commands).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include <functional>
#include <memory>
#include <thread>
#include <string>

#include "bayesfilter/bayesfilter.h"
#include "modnames.h"
#include "parentalbwlistadvancedfilter/parentalbwlistadvancedfilter.h"
#include "parentalbwlistfilter/parentalbwlistfilter.h"
#include "parentalsignfilter/parentalsignfilter.h"
#include "support/fake_settings.h"
#include "support/scratch_dir.h"
#include "support/trace_capture.h"
#include "support/what_of.h"
#include "urlinfo.h"

using namespace nsHttpModules;

namespace {

using zztest::WhatOf;

struct FilterCase {
  const char* label;
  CAFilter* (*make)();
  const char* tag;         // the filter's message tag
  const char16_t* ownKey;  // its own enable key
  bool enabledWhenUnset;   // IsEnabled with no key set at all

  bool IsBayes() const { return label[0] == 'B' && label[1] == 'a'; }  // ignores sessions
  std::string Message(const char* bayes, const char* others) const {
    return std::string("ASBadPtrException - MESSAGE: ") + tag + (IsBayes() ? bayes : others);
  }
  std::string NullItem() const {
    return Message(" Invalid item to process", " invalid item received for processing");
  }
  std::string NoSharedData() const {
    return Message(" Invalid session data struct", " invalid shared data struct");
  }
};

template <class T, const ascommon::usstring& kName>
CAFilter* Make() {
  return new T(kName);
}

const FilterCase kFilters[] = {
    {"Bayes", Make<CBayesFilter, g_strHttpParentalBayesianFilter>, "[Parental Bayes]",
     u"/http/filter/bayes/Enabled", true},
    {"BWList", Make<CParentalBWListFilter, g_strHttpParentalBWListFilter>, "[Parental BW List]",
     u"/http/filter/parentalbwlist/Enabled", true},
    {"BWListAdvanced", Make<CParentalBWListAdvancedFilter, g_strHttpParentalBWListAdvancedFilter>,
     "[Parental BW List Advanced]", u"/http/filter/parentalbwlistadvanced/Enabled", false},
    {"Sign", Make<CParentalSignFilter, g_strHttpParentalSignaturesFilter>, "[Parental Sign]",
     u"/http/filter/parentalbwlist/Enabled", true},
};

class FilterFramework : public ::testing::TestWithParam<FilterCase> {
 protected:
  void SetUp() override {
    m_filter.reset(GetParam().make());
    m_filter->SetSettings(&m_settings);
    // A data folder whose main rule file exists, so that a reload gets to its shared data.
    std::ofstream(m_data.Path() / "pc_sign.slf").flush();
    m_settings.SetString(u"/http/global/SharedDataPath", m_data.Path().u16string());
  }
  void TearDown() override {
    for (std::uint32_t id : {0u, 7u, 999u}) {
      void* block = m_filter->GetSessionData(id);
      if (block != nullptr) m_filter->DestroySessionData(block);
      m_filter->SetSessionData(id, nullptr);
    }
    m_filter->DestroySharedData(m_filter->GetSharedData());
  }
  // Opens a session the way the host does.
  void OpenSession(std::uint32_t id) {
    m_filter->SetSessionData(id, m_filter->CreateSessionData());
    m_filter->SetSessionActive(id, m_filter->IsEnabled(id) ? 1 : 0);
    m_filter->ReloadSessionSettings(id);
  }

  zztest::ScratchDir m_data;
  zztest::FakeSettings m_settings;
  std::unique_ptr<CAFilter> m_filter;
};

TEST_P(FilterFramework, EnableRules) {
  const FilterCase& c = GetParam();
  EXPECT_EQ(m_filter->IsEnabled(0), c.enabledWhenUnset);
  m_settings.SetInt(u"/http/global/AllParentalFiltersEnabled", 1);
  EXPECT_TRUE(m_filter->IsEnabled(0));
  m_settings.SetInt(u"/http/global/AllParentalFiltersEnabled", 0);
  m_settings.SetInt(c.ownKey, 1, 5);
  m_settings.SetInt(c.ownKey, 2);  // only exactly 1 is on
  EXPECT_TRUE(m_filter->IsEnabled(5) && !m_filter->IsEnabled(0));
}

TEST_P(FilterFramework, ProcessPrologue) {
  const FilterCase& c = GetParam();
  m_settings.SetInt(u"/http/global/AllParentalFiltersEnabled", 1);
  OpenSession(0);
  OpenSession(999);
  ascommon::CBlackBox ext;
  AItem item(&ext);

  // Before any shared data exists.
  EXPECT_EQ(WhatOf([&] { m_filter->Process(0, &item, 0); }), c.NoSharedData());
  // Null item on an active session.
  EXPECT_EQ(WhatOf([&] { m_filter->Process(0, nullptr, 0); }), c.NullItem());

  zztest::TraceCapture trace;
  if (!c.IsBayes()) {
    // Session ID 1000 only traces; an inactive session is left alone even with a null item.
    EXPECT_EQ(WhatOf([&] { m_filter->Process(1000, nullptr, 0); }), "(no exception)");
    EXPECT_EQ(trace.Count("-invalid session ID (1000)\n"), 1);
    m_filter->SetSessionActive(0, 0);
    EXPECT_EQ(WhatOf([&] { m_filter->Process(0, nullptr, 0); }), "(no exception)");
    // 999 is a valid session ID and reaches the shared data check.
    EXPECT_EQ(WhatOf([&] { m_filter->Process(999, &item, 0); }), c.NoSharedData());
  } else {
    // The Bayes filter processes whatever it is given.
    m_filter->SetSessionActive(0, 0);
    EXPECT_EQ(WhatOf([&] { m_filter->Process(4000, &item, 0); }), c.NoSharedData());
  }
  EXPECT_EQ(m_filter->GetLocker()->ReaderCount(), 0) << "the read-only lock leaked";
  EXPECT_THROW(m_filter->ReloadSharedData(), ASBadPtrException);
  // The exclusive lock was released: a reader gets in.
  ascommon::auto_locker guard(m_filter->GetLocker(), ascommon::auto_locker::kReadOnly, true);
}

TEST_P(FilterFramework, CommandsOutsideTheFilterAreRefusedOrTraced) {
  const FilterCase& c = GetParam();
  if (c.IsBayes()) {
    // The Bayes filter has commands of its own; they need the shared data.
    EXPECT_EQ(WhatOf([&] { m_filter->ProcessCommand(0, 36, nullptr); }), c.NoSharedData());
    return;
  }
  m_settings.SetInt(u"/http/global/AllParentalFiltersEnabled", 1);
  OpenSession(0);
  m_filter->SetSharedData(m_filter->CreateSharedData());
  ascommon::CBlackBox ext;
  AItem item(&ext);
  zztest::TraceCapture trace;
  if (c.label[0] == 'S') {
    // The signatures filter binds its context to the page before it looks at the command.
    EXPECT_EQ(WhatOf([&] { m_filter->Process(0, &item, 35); }),
              "ASBadPtrException - MESSAGE: invalid pointer to the parsed html wide content");
  } else {
    m_filter->Process(0, &item, 35);
    EXPECT_EQ(trace.Count(std::string(" -") + c.tag + " this command is not supported\n"), 1);
  }
  EXPECT_NO_THROW(m_filter->ProcessCommand(0, 36, nullptr)) << "the framework default is overridden";
}

INSTANTIATE_TEST_SUITE_P(AllFilters, FilterFramework, ::testing::ValuesIn(kFilters),
                         [](const auto& info) { return std::string(info.param.label); });

// The list filters' URL record: only a CParsedURL (or a type derived from one) converts,
// whichever type converted before and from however many threads at once.
TEST(UrlInfoOfTest, ConvertsOnlyUrlRecords) {
  struct Other : ascommon::CBlackBoxObject {
    int value = 7;
  };
  struct Tagged : ascommon::CBlackBoxObject {
    double tag = 1.5;
  };
  struct Derived : Tagged, ascommon::CParsedURL {};  // two CBlackBoxObject bases
  const ascommon::CParsedURL url;
  const Other other;
  const Derived derived;
  const ascommon::CBlackBoxObject* viaTagged = static_cast<const Tagged*>(&derived);
  const ascommon::CParsedURL* const derivedUrl = &derived;
  EXPECT_EQ(UrlInfoOf(nullptr), nullptr);
  std::atomic<int> wrong{0};
  auto convert = [&] {
    for (int i = 0; i < 20000; ++i) {
      wrong += UrlInfoOf(&other) != nullptr;
      wrong += UrlInfoOf(&url) != &url;
      wrong += UrlInfoOf(&other) != nullptr;
      for (int twice = 0; twice < 2; ++twice) {  // the second one after the first converted
        wrong += UrlInfoOf(viaTagged) != derivedUrl;
      }
    }
  };
  std::thread first(convert), second(convert);
  first.join();
  second.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
