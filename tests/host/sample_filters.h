// SampleFilters: the module loaded in this process with some of its filters hosted on a
// scratch copy of the sample data (bin/data), session 0 open and tracing off, plus the
// traffic the fault tests drive through them: the sample pages at their addresses on the
// sample lists and the sample request lines as bare URLs.
//
// Verdict() runs every filter hosted for session 0 over one item and renders what they
// wrote as one line, so a run can be compared with the single-threaded reference. A filter
// that raises makes the line "error: ..." instead.
//
// Ownership: the fixture owns the scratch folder, the settings and the host; the traffic is
// read once per process and shared read-only. Threads: Verdict() may run on many threads at
// once (each with its own item); everything else belongs to the thread that built it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

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

struct Traffic {
  std::string url;
  std::string bytes;  // the page as received; empty for a bare request
};

// The sample pages (data/pages) at their addresses, then the bare request URLs.
inline const std::vector<Traffic>& SampleTraffic() {
  static const std::vector<Traffic> traffic = [] {
    const fs::path root = SourceDir();
    const std::pair<const char*, const char*> pages[] = {
        {"http://news.kids-encyclopedia.test/today", "kids-encyclopedia.html"},
        {"http://www.poker-palace.test/tables?id=7", "poker-palace.html"},
        {"https://m.friendface.test/home", "friendface-utf16.html"},
        {"https://pixel-quest.test/levels/3", "pixel-quest.html"},
        {"http://museum.example/exhibits/", "museum-windows1252.html"},
    };
    std::vector<Traffic> all;
    for (const auto& [url, file] : pages) {
      all.push_back({url, ReadBytes(root / "data/pages" / file)});
      EXPECT_FALSE(all.back().bytes.empty()) << "no sample page " << file;
    }
    for (const char* url :
         {"http://www.casino-girls.example/welcome", "http://gallery.hot-pics.test/members/2024",
          "http://play.blockworld.test/servers", "https://news.sample.co.uk:8080/x",
          "http://weather.example/forecast", "http://adult-videos.test/clip"}) {
      all.push_back({url, ""});
    }
    return all;
  }();
  return traffic;
}

class SampleFilters {
 public:
  // Hosts the filters with these display names (all four when empty) in factory order;
  // prepare may change the copied data files before the filters load them. traceLevel is
  // the tracing library's level ("0" to "3", or "off").
  explicit SampleFilters(const std::vector<std::u16string_view>& names = {},
                         const std::function<void(const fs::path& dataDir)>& prepare = {},
                         const char* traceLevel = "off") {
    const fs::path bin = BinDir();
    fs::copy(bin / "data", m_scratch.Path() / "data", fs::copy_options::recursive);
    if (prepare) prepare(DataDir());
    setenv("ZAZOZOR_TRACE_LEVEL", traceLevel, 1);
    setenv("ZAZOZOR_TRACE_DIR", TraceDir().c_str(), 1);
    std::error_code ec;
    m_traceStart = static_cast<std::size_t>(fs::file_size(TraceDir() / "vi2_debug.log", ec));
    if (ec) m_traceStart = 0;
    m_settings.LoadDefaults(bin.string(), m_scratch.Path().string());
    m_settings.Set(std::nullopt, zzhost::kSharedDataPathKey, DataDir().string(), "/");
    m_host = std::make_unique<zzhost::CModuleHost>((bin / "zazozor.mdl").string());
    if (names.empty()) {
      m_host->AddAllFilters(m_settings);
    } else {
      for (std::u16string_view name : names) m_host->AddFilter(name, m_settings);
    }
    m_host->OpenSession(0);
  }
  ~SampleFilters() { unsetenv("ZAZOZOR_TRACE_LEVEL"); }

  zzhost::CModuleHost& Host() { return *m_host; }
  zzhost::HostedFilter& Filter(std::size_t index) { return m_host->FilterAt(index); }
  fs::path DataDir() const { return m_scratch.Path() / "data"; }
  // What the module traced since this fixture was made (lines are written whole as they
  // are traced).
  std::string TraceLog() const {
    std::ifstream in(TraceDir() / "vi2_debug.log", std::ios::binary);
    in.seekg(static_cast<std::streamoff>(m_traceStart));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // A fresh item of the traffic, filled as the host fills it.
  static std::unique_ptr<zzhost::CPageItem> MakeItem(const Traffic& traffic) {
    return std::make_unique<zzhost::CPageItem>(traffic.bytes, traffic.url, 50,
                                               zzhost::PageFields::kText);
  }

  // Runs every hosted filter over the item (session 0, command 0) and renders the verdicts.
  std::string Verdict(zzhost::CPageItem& page) {
    bool advanced = false;
    try {
      m_host->ForEachActiveFilter(0, [&](zzhost::HostedFilter& hosted) {
        advanced |= hosted.wideName == kAdvancedFilter;
        zzhost::CModuleHost::Call("process",
                                  [&] { hosted.filter->Process(0, &page.Item(), 0); });
      });
    } catch (const zzhost::HostError& e) {
      return std::string("error: ") + e.what();
    }
    std::string line;
    zzhost::AppendListVerdictsJson(
        line, zzhost::ReadListVerdicts(page.Item().GetBlackBox(), page.Ext(), advanced));
    zzhost::AppendBayesVerdictJson(line, zzhost::ReadBayesVerdict(page.Item().GetBlackBox()));
    return line;
  }
  // Verdict() for each item of the traffic, built fresh.
  std::vector<std::string> Verdicts() {
    std::vector<std::string> lines;
    for (const Traffic& traffic : SampleTraffic()) lines.push_back(Verdict(*MakeItem(traffic)));
    return lines;
  }

  // Reloads one filter's shared data; "" or the error it raised.
  std::string Reload(std::size_t index) {
    try {
      zzhost::CModuleHost::Call("reload", [&] { Filter(index).filter->ReloadSharedData(); });
    } catch (const zzhost::HostError& e) {
      return e.what();
    }
    return "";
  }

 private:
  // One trace folder per process, each fixture reading the log from where it started: the
  // log sink reads its folder once, so this holds whether or not the tracing library was
  // unloaded between two module loads.
  static const fs::path& TraceDir() {
    static const ScratchDir dir;
    return dir.Path();
  }

  ScratchDir m_scratch;
  std::size_t m_traceStart = 0;
  zzhost::CHostSettings m_settings;
  std::unique_ptr<zzhost::CModuleHost> m_host;  // declared last: torn down first
};

}  // namespace zztest
