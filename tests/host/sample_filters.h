// SampleFilters: the module loaded in this process with some of its filters hosted on a
// scratch copy of the sample data (bin/data), session 0 open (tracing is off by default),
// plus the traffic the fault tests drive through them: the sample pages at their addresses
// on the sample lists and the sample request lines as bare URLs.
//
// Verdict() runs every filter hosted for session 0 over one item and renders what they
// wrote as one line, so a run can be compared with the single-threaded reference. A filter
// that raises makes the line "error: ..." instead. Fixture verbs: Read/Write a data file,
// PutDictionary (into "pcdic.dat", or into its fallback "bayescsf.dat" with "pcdic.dat"
// empty), Reload a filter; RunFailingAt runs a step with one allocation failing.
//
// Ownership: the fixture owns the scratch folder, the settings and the host; the traffic is
// read once per process and shared read-only. Threads: Verdict() may run on many threads at
// once (each with its own item); everything else belongs to the thread that built it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asfn/asfn.h"
#include "errors.h"
#include "module_host.h"
#include "page_item.h"
#include "settings.h"
#include "support/bin_dir.h"
#include "support/scratch_dir.h"
#include "verdicts.h"

namespace zztest {

// Display names of the filters.
inline constexpr std::u16string_view kBWListFilter = u"Http Parental BWList Filter";
inline constexpr std::u16string_view kAdvancedFilter = u"Http Parental BWList Advanced Filter";
inline constexpr std::u16string_view kBayesFilter = u"Http Parental Bayesian Filter";
inline constexpr std::u16string_view kSignaturesFilter = u"Http Parental Signatures Filter";

// Runs f with the n-th allocation from now failing (none when n is 0); true when f made n
// allocations or more, that is when the failure was reached.
inline bool RunFailingAt(std::uint64_t n, const std::function<void()>& f) {
  const std::uint64_t before = asfn_allocation_count();
  if (n != 0) asfn_fail_at(n, ASFN_FAIL_ONCE);
  f();
  asfn_fail_at(0, ASFN_FAIL_OFF);
  return asfn_allocation_count() - before >= n;
}

struct Traffic {
  std::string url;
  std::string bytes;  // the page as received; empty for a bare request
};

// The sample pages (data/pages) at their addresses, then the bare request URLs.
inline const std::vector<Traffic>& SampleTraffic() {
  static const std::vector<Traffic> traffic = [] {
    std::vector<Traffic> all = {
        {"http://news.kids-encyclopedia.test/today", "kids-encyclopedia.html"},
        {"http://www.poker-palace.test/tables?id=7", "poker-palace.html"},
        {"https://m.friendface.test/home", "friendface-utf16.html"},
        {"https://pixel-quest.test/levels/3", "pixel-quest.html"},
        {"http://museum.example/exhibits/", "museum-windows1252.html"}};
    for (Traffic& page : all) {  // the file name becomes the file's bytes
      page.bytes = ReadBytes(SourceDir() / "data/pages" / page.bytes);
      EXPECT_FALSE(page.bytes.empty()) << "no sample page for " << page.url;
    }
    for (const char* url : {"http://www.casino-girls.example/welcome", "http://gallery.hot-pics.test/members/2024",
                            "http://play.blockworld.test/servers", "https://news.sample.co.uk:8080/x",
                            "http://weather.example/forecast", "http://adult-videos.test/clip"})
      all.push_back({url, ""});
    return all;
  }();
  return traffic;
}

class SampleFilters {
 public:
  // Hosts the filters with these display names (all four when empty) in factory order;
  // prepare may change the copied data files before the filters load them.
  explicit SampleFilters(const std::vector<std::u16string_view>& names = {},
                         const std::function<void(SampleFilters&)>& prepare = {}) {
    const fs::path bin = BinDir();
    fs::copy(bin / "data", DataDir(), fs::copy_options::recursive);
    if (prepare) prepare(*this);
    m_settings.LoadDefaults(bin.string(), m_scratch.Path().string());
    m_settings.Set(std::nullopt, zzhost::kSharedDataPathKey, DataDir().string(), "/");
    m_host = std::make_unique<zzhost::CModuleHost>((bin / "zazozor.mdl").string());
    if (names.empty()) m_host->AddAllFilters(m_settings);
    for (std::u16string_view name : names) m_host->AddFilter(name, m_settings);
    m_host->OpenSession(0);
  }

  zzhost::CModuleHost& Host() { return *m_host; }
  fs::path DataDir() const { return m_scratch.Path() / "data"; }
  std::string Read(const char* file) const { return ReadBytes(DataDir() / file); }
  void Write(const char* file, const std::string& bytes) { WriteBytes(DataDir() / file, bytes); }
  void PutDictionary(const std::string& bytes, bool fallback) {
    Write("pcdic.dat", fallback ? "" : bytes);
    Write("bayescsf.dat", fallback ? bytes : "");
  }

  // A fresh item of the traffic, filled as the host fills it.
  static std::unique_ptr<zzhost::CPageItem> MakeItem(const Traffic& traffic) {
    return std::make_unique<zzhost::CPageItem>(traffic.bytes, traffic.url, 50);
  }

  // Runs every hosted filter over the item (session 0, command 0) and renders the verdicts.
  std::string Verdict(zzhost::CPageItem& page) {
    bool advanced = false;
    try {
      m_host->ForEachActiveFilter(0, [&](zzhost::HostedFilter& hosted) {
        advanced |= hosted.wideName == kAdvancedFilter;
        zzhost::CModuleHost::Call("process", [&] { hosted.filter->Process(0, &page.Item(), 0); });
      });
    } catch (const zzhost::HostError& e) {
      return std::string("error: ") + e.what();
    }
    std::string line;
    zzhost::AppendListVerdictsJson(line, zzhost::ReadListVerdicts(page.Item().GetBlackBox(), page.Ext(), advanced));
    zzhost::AppendBayesVerdictJson(line, zzhost::ReadBayesVerdict(page.Item().GetBlackBox()));
    zzhost::AppendSignatureJson(line, zzhost::ReadSignatureVerdict(page.Item().GetBlackBox()));
    return line;
  }
  // Verdict() for each item of the traffic, built fresh.
  std::vector<std::string> Verdicts() {
    std::vector<std::string> lines;
    for (const Traffic& traffic : SampleTraffic()) lines.push_back(Verdict(*MakeItem(traffic)));
    return lines;
  }

  // Reloads one filter's shared data; "" or the error it raised.
  std::string Reload(std::size_t index = 0) {
    try {
      zzhost::CModuleHost::Call("reload", [&] { m_host->FilterAt(index).filter->ReloadSharedData(); });
    } catch (const zzhost::HostError& e) {
      return e.what();
    }
    return "";
  }

 private:
  ScratchDir m_scratch;
  zzhost::CHostSettings m_settings;
  std::unique_ptr<zzhost::CModuleHost> m_host;  // declared last: torn down first
};

}  // namespace zztest
