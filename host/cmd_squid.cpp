// "zazozor squid": a URL helper for Squid. Reads Squid's request lines on standard input and
// answers each on standard output (squid_protocol.h), deciding the URLs with the module's
// list filters on a pool of worker threads (squid_workers.h), in the session that the
// client's address or user name selects (squid_sessions.h).
//
// SIGHUP reloads the list filters' data (ReloadSharedData) between two reads: requests in
// flight finish under the filters' own read locks, later ones wait for the reload. The
// signal handler only writes a byte into a pipe that the reading loop polls. End of input
// ends the helper once every line read is answered.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "commands.h"
#include "errors.h"
#include "settings.h"
#include "squid_protocol.h"
#include "squid_sessions.h"
#include "squid_workers.h"
#include "url_decider.h"

namespace zzhost {

namespace {

// Where rewrite mode sends a blocked request unless --block-url says otherwise: a page the
// operator serves (data/blockpage.html filled from the query: reason, site, url, session).
constexpr std::string_view kDefaultBlockUrl = "http://localhost/zazozor/blocked";

struct SquidArgs {
  SquidMode mode = SquidMode::kAcl;
  std::optional<bool> channels;
  unsigned workers = 0;
  std::string blockUrl{kDefaultBlockUrl};
};

SquidArgs ParseSquidArgs(const std::vector<std::string>& args) {
  SquidArgs parsed;
  bool haveMode = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (name == "--mode" || name == "--workers" || name == "--block-url" ||
               name == "--concurrency") {
      if (i + 1 >= args.size()) throw UsageError("option '" + name + "' needs a value", "squid");
      value = args[++i];
    } else {
      throw UsageError("unexpected argument '" + name + "' for 'squid'", "squid");
    }
    if (name == "--mode") {
      if (value != "acl" && value != "rewrite") {
        throw UsageError("--mode is 'acl' or 'rewrite'", "squid");
      }
      parsed.mode = value == "acl" ? SquidMode::kAcl : SquidMode::kRewrite;
      haveMode = true;
    } else if (name == "--workers") {
      const std::optional<std::uint32_t> n = ParseUnsigned32(value);
      if (!n || *n < 1 || *n > 256) throw UsageError("--workers is a number from 1 to 256", "squid");
      parsed.workers = *n;
    } else if (name == "--block-url") {
      if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0) {
        throw UsageError("--block-url must be an http:// or https:// address", "squid");
      }
      parsed.blockUrl = value;
    } else if (name == "--concurrency") {
      if (value != "auto" && value != "on" && value != "off") {
        throw UsageError("--concurrency is 'auto', 'on' or 'off'", "squid");
      }
      if (value != "auto") parsed.channels = value == "on";
    } else {
      throw UsageError("unknown option '" + name + "' for 'squid'", "squid");
    }
  }
  if (!haveMode) throw UsageError("'squid' needs --mode acl or --mode rewrite", "squid");
  if (parsed.workers == 0) parsed.workers = std::max(1u, std::thread::hardware_concurrency());
  return parsed;
}

// The session mapping from the settings file and the --set values.
CSquidSessions LoadSessions(const GlobalOptions& options) {
  CSquidSessions sessions(options.session);
  if (!options.configFile.empty()) {
    std::ifstream in(options.configFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    sessions.LoadText(text.str(), options.configFile);
  }
  for (const std::string& assignment : options.overrides) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || assignment.rfind(kSquidSessionPrefix, 0) != 0) continue;
    const std::string problem = sessions.Add(
        std::string_view(assignment).substr(kSquidSessionPrefix.size(),
                                            equals - kSquidSessionPrefix.size()),
        std::string_view(assignment).substr(equals + 1));
    if (!problem.empty()) throw UsageError("--set " + assignment + ": " + problem);
  }
  return sessions;
}

// Creates each list filter that some mapped session enables (its data is loaded once) and
// opens every mapped session on them.
std::map<std::uint32_t, ListFilters> OpenSquidFilters(CommandContext& context,
                                                      const std::vector<std::uint32_t>& ids) {
  CHostSettings& settings = context.Settings();
  CModuleHost& host = context.Host();
  for (const std::uint32_t session : ids) {
    std::vector<std::u16string_view> missing;
    for (const std::u16string_view name : kListFilterNames) {
      if (host.FindFilter(name) == nullptr) missing.push_back(name);
    }
    if (missing.empty()) break;
    host.AddAllFilters(settings, session, missing.data(), missing.size());
  }
  std::map<std::uint32_t, ListFilters> bySession;
  for (const std::uint32_t session : ids) {
    host.OpenSession(session);
    bySession[session] = ActiveListFilters(host, session);
  }
  return bySession;
}

int g_hangupFd = -1;  // write end of the reload pipe, for the signal handler

extern "C" void OnHangup(int) {
  const int saved = errno;
  if (g_hangupFd >= 0) (void)!write(g_hangupFd, "r", 1);
  errno = saved;
}

// The reload pipe and the SIGHUP handler, undone on the way out.
class HangupPipe {
 public:
  HangupPipe() {
    if (pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
      throw HostError(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    g_hangupFd = m_fds[1];
    struct sigaction action {};
    action.sa_handler = OnHangup;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, &m_previous);
  }
  ~HangupPipe() {
    sigaction(SIGHUP, &m_previous, nullptr);
    g_hangupFd = -1;
    close(m_fds[0]);
    close(m_fds[1]);
  }
  int ReadFd() const { return m_fds[0]; }
  // True when a SIGHUP came since the last call.
  bool Take() {
    char bytes[64];
    bool any = false;
    while (read(m_fds[0], bytes, sizeof bytes) > 0) any = true;
    return any;
  }

 private:
  int m_fds[2] = {-1, -1};
  struct sigaction m_previous {};
};

void ReloadListFilters(CModuleHost& host) {
  for (const std::u16string_view name : kListFilterNames) {
    HostedFilter* hosted = host.FindFilter(name);
    if (hosted == nullptr) continue;
    try {
      CModuleHost::Call(hosted->name + ": ReloadSharedData",
                        [&] { hosted->filter->ReloadSharedData(); });
      std::fprintf(stderr, "zazozor squid: %s reloaded\n", hosted->name.c_str());
    } catch (const std::exception& error) {
      std::fprintf(stderr, "zazozor squid: %s\n", error.what());  // the old data stays
    }
  }
}

int RunSquid(CommandContext& context) {
  const SquidArgs args = ParseSquidArgs(context.Args());
  const CSquidSessions sessions = LoadSessions(context.Options());
  HangupPipe hangup;  // from here on a SIGHUP waits in the pipe, also while the lists load
  const std::map<std::uint32_t, ListFilters> filters =
      OpenSquidFilters(context, sessions.Sessions());
  std::vector<std::unique_ptr<CUrlDecider>> deciders;
  for (unsigned w = 0; w < args.workers; ++w) deciders.push_back(std::make_unique<CUrlDecider>());

  const auto decide = [&](const SquidRequest& request, unsigned worker) {
    const std::uint32_t session = sessions.Select(request.client, request.user);
    CUrlDecider& decider = *deciders[worker];
    bool parsed = false;
    const ListVerdicts verdicts = decider.Decide(request.url, filters.at(session), session, &parsed);
    if (!parsed) return FormatBrokenAnswer(request.channel, "cannot parse the URL");
    const char* site;
    std::size_t length;
    decider.LastUrl().GetDomainLower(site, length);
    if (site == nullptr) decider.LastUrl().GetHostLower(site, length);
    const SquidVerdict verdict =
        MakeSquidVerdict(verdicts, site != nullptr ? std::string(site, length) : std::string());
    return args.mode == SquidMode::kAcl
               ? FormatAclAnswer(request.channel, verdict)
               : FormatRewriteAnswer(request.channel, verdict, args.blockUrl, request.url, session);
  };
  std::FILE* out = context.Out();
  const auto sink = [out](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
  };

  SquidHelperOptions options;
  options.mode = args.mode;
  options.channels = args.channels;
  options.workers = args.workers;
  CSquidHelper helper(options, decide, sink);
  char block[1 << 16];
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {hangup.ReadFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw HostError(std::string("poll: ") + std::strerror(errno));
    }
    if (hangup.Take()) ReloadListFilters(context.Host());
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t n = read(STDIN_FILENO, block, sizeof block);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) throw HostError(std::string("cannot read standard input: ") + std::strerror(errno));
    if (n == 0) break;
    helper.Feed(std::string_view(block, static_cast<std::size_t>(n)));
  }
  helper.Finish();
  return 0;
}

}  // namespace

int RunSquidCommand(CommandContext& context) { return RunSquid(context); }

}  // namespace zzhost
