// CPageJudge: the content decision of the ICAP service. It loads the module through the
// host's module loader, opens the page filters (the advanced list filter, the Bayes filter
// and the signatures filter) on the default session and every session the settings file maps
// users or client addresses to (the "squid.session." lines of squid_sessions.h), and judges
// one response body at a time in the session of its client: the body is decoded and filled
// into an item exactly as "zazozor filter" does it (page_item.h), every filter active for
// the session processes it, and the verdict keys decide:
//   1. a hit on the category white list allows the page (nothing else is asked);
//   2. a hit on any other category list blocks it, naming the list ("Gambling", ...);
//   3. a signature rule that hit blocks it, naming its category and the rule;
//   4. a Bayes category among the blocked ones (JudgeOptions::bayesBlocked) blocks it,
//      naming the category and its score.
//
// Ownership: owns the settings, the module host and the block page template; the module
// stays loaded for the judge's lifetime. Thread-safety: build and destroy from one thread;
// Judge and RenderBlock are safe from any number of threads at once (the filters' Process
// is, and everything else they touch is per call or read-only). Cost per page: the host's
// decoding and parsing (linear in the page) plus each filter's Process.
// Tested by host/icap/tests/icap_test.cpp and tests/proxy/icap_content_test.sh.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <map>

#include "block_page.h"
#include "module_host.h"
#include "settings.h"
#include "squid_sessions.h"

namespace zzhost {

struct JudgeOptions {
  std::string modulePath;    // zazozor.mdl; required
  std::string settingsFile;  // empty: the built-in defaults for a host in defaultsDir
  std::string defaultsDir;   // the folder the defaults take bin/data and the libraries from
  std::string blockPagePath; // empty: defaultsDir/data/blockpage.html
  std::vector<std::string> bayesBlocked = {"adult"};  // Bayes categories that block
  std::uint32_t session = 0;  // for clients no mapping names
};

struct PageVerdict {
  bool blocked = false;
  std::string reason;  // the category (list, rule or Bayes) that blocked
  std::string rule;    // the deciding rule or list
  std::uint32_t session = 0;
};

class CPageJudge {
 public:
  // Loads everything; HostError naming what failed (settings file, module, data files).
  explicit CPageJudge(const JudgeOptions& options);
  ~CPageJudge();
  CPageJudge(const CPageJudge&) = delete;
  CPageJudge& operator=(const CPageJudge&) = delete;

  // The verdict on one page as received, in the session of the client (its address and
  // user name as the proxy reports them; either may be empty). HostError when a filter
  // fails on it.
  PageVerdict Judge(std::string_view bytes, const std::string& url, std::string_view client = {},
                    std::string_view user = {}) const;
  // The block page for a verdict (UTF-8 HTML).
  std::string RenderBlock(const PageVerdict& verdict, const std::string& url) const;

  std::size_t SessionCount() const { return m_bySession.size(); }

 private:
  struct SessionFilters {
    std::vector<HostedFilter*> active;  // Not owned: m_host's filters active for the session
    bool advancedActive = false;
    bool fullItem = false;  // the signatures filter reads more than the page text
    std::uint32_t threshold = 50;
  };

  CSquidSessions m_sessions;
  std::vector<std::string> m_bayesBlocked;
  std::string m_template;
  std::unique_ptr<CHostSettings> m_settings;  // declared before m_host: outlives it
  std::unique_ptr<CModuleHost> m_host;
  std::map<std::uint32_t, SessionFilters> m_bySession;  // every session m_sessions selects
};

// Whether a Content-Type value names an HTML page: "text/html" in any case, with or without
// parameters ("text/html; charset=iso-8859-2").
bool IsHtmlContentType(std::string_view value);

// Words of a list separated by blanks or commas, empty ones left out.
std::vector<std::string> SplitWords(std::string_view text);

}  // namespace zzhost
