// "zazozor squid": request lines and answers, session selection, the block page, answer
// order with a slow request (in process), and the helper end to end: bad input, sessions,
// and reloads by SIGHUP under eight concurrent channels.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

#include "block_page.h"
#include "errors.h"
#include "squid_protocol.h"
#include "squid_sessions.h"
#include "squid_workers.h"
#include "support/host_process.h"
#include "support/scratch_dir.h"

namespace zzhost {
namespace {

using zztest::ReadBytes;
using zztest::WriteBytes;

// Request fields as "channel|url|client|user|error|answer".
std::string Dump(const SquidRequest& r) {
  return r.channel + "|" + r.url + "|" + r.client + "|" + r.user + "|" + r.error + "|" +
         (r.answer ? "1" : "0");
}

TEST(SquidProtocolTest, RequestLines) {
  const struct {
    std::string line;
    bool channels;
    SquidMode mode;
    std::string dump;
  } cases[] = {
      {"7 http://a.test/x%20y 10.0.0.1 bob%20smith\r", true, SquidMode::kAcl,
       "7|http://a.test/x%20y|10.0.0.1|bob smith||1"},
      {"http://a.test/ 10.0.0.1/- - GET myip=1", false, SquidMode::kRewrite,
       "|http://a.test/|10.0.0.1|||1"},
      {"12", true, SquidMode::kAcl, "12||||no URL|1"},
      {"x http://a.test/", true, SquidMode::kAcl, "||||no channel ID|0"},
      {"", false, SquidMode::kAcl, "||||empty line|1"},
      {"3 http://a\x01.test/", true, SquidMode::kAcl, "3||||control characters in the request|1"},
      {"4 http://a.test/" + std::string(kMaxSquidLine, 'a'), true, SquidMode::kAcl,
       "4||||line longer than 65536 bytes|1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Dump(ParseSquidLine(c.line, c.channels, c.mode)), c.dump);
  EXPECT_TRUE(StartsWithChannel("0 http://a.test/"));
  EXPECT_FALSE(StartsWithChannel("123"));
  EXPECT_FALSE(StartsWithChannel("1.2.3.4:443 10.0.0.1"));
}

TEST(SquidProtocolTest, Answers) {
  ListVerdicts lists;
  lists.list = "black";
  lists.advancedActive = true;
  lists.categoryBits = 1u << 10;  // "Social Networks"
  const SquidVerdict black = MakeSquidVerdict(lists, "a\"b.test");
  EXPECT_EQ(FormatAclAnswer("5", black),
            "5 OK message=black%20list,%20Social%20Networks tag=black site=a%22b.test\n");
  EXPECT_EQ(FormatRewriteAnswer("", black, "http://block.test/p?x=1", "http://a b/", 3),
            "OK status=302 url=http://block.test/p?x=1&reason=black%2520list%252C%2520Social%2520"
            "Networks&site=a%2522b.test&url=http%253A%252F%252Fa%2520b%252F&session=3\n");
  lists.categoryBits |= 1u << zzhost::kVerdictWhiteList;  // a white list wins over every other
  EXPECT_EQ(FormatAclAnswer("", MakeSquidVerdict(lists, "x")), "ERR\n");
  EXPECT_EQ(FormatBrokenAnswer("9", "a\\b\n%"), "9 BH message=a%5Cb%0A%25\n");
}

TEST(SquidSessionsTest, UserThenLongestPrefixThenDefault) {
  CSquidSessions sessions(7);
  sessions.LoadText(
      "# c\n/http/x = 1\nsquid.session.10.1.0.0/16=2\nsquid.session.10.0.0.0/8 = 1\n"
      "squid.session.user.alice = 3\nsquid.session.2001:db8::/33 = 4\nsquid.session.10.1.2.3 = 5\n",
      "s.conf");
  const std::pair<std::pair<const char*, const char*>, std::uint32_t> cases[] = {
      {{"10.9.9.9", ""}, 1}, {{"10.1.9.9", ""}, 2},    {{"10.1.2.3", ""}, 5},
      {{"10.1.2.3", "alice"}, 3}, {{"::ffff:10.1.0.1", ""}, 2}, {{"2001:db8:7fff::1", ""}, 4},
      {{"2001:db8:8000::1", ""}, 7}, {{"11.0.0.1", "bob"}, 7}, {{"junk", ""}, 7}};
  for (const auto& [in, session] : cases) {
    EXPECT_EQ(sessions.Select(in.first, in.second), session) << in.first << " " << in.second;
  }
  EXPECT_EQ(sessions.Sessions(), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 7}));
  for (const char* bad : {"squid.session.10.0.0.0/33 = 1", "squid.session.user. = 1",
                          "squid.session.host = 1", "squid.session.1.2.3.4 = 1000",
                          "[session 2]\nsquid.session.1.2.3.4 = 1"}) {
    EXPECT_THROW(CSquidSessions().LoadText(std::string("\n") + bad, "s.conf"), HostError) << bad;
  }
}

TEST(BlockPageTest, FillsAndEscapes) {
  const BlockReason reason{"Games & <more>", "", "http://a.test/?q='x\"", 12};
  EXPECT_EQ(RenderBlockPage("{{reason}}|{{rule}}|{{url}}|{{session}}|{{other}}{{", reason),
            "Games &amp; &lt;more&gt;||http://a.test/?q=&#39;x&quot;|12|{{other}}{{");
  std::string page, error;
  EXPECT_TRUE(LoadBlockPageTemplate(std::string(ZAZOZOR_SOURCE_DIR) + "/data/blockpage.html",
                                    page, error));
  EXPECT_NE(page.find("{{reason}}"), std::string::npos);
  EXPECT_FALSE(LoadBlockPageTemplate("/nonexistent/page.html", page, error));
}

// One request is held until every later one was decided (and, with channel IDs, written):
// with IDs it is answered last, without them the answers keep the request order.
TEST(SquidHelperThreadTest, SlowRequestHoldsUpNoOtherAnswer) {
  for (const bool channels : {true, false}) {
    std::mutex mutex;
    std::condition_variable changed;
    int decided = 0;
    std::vector<std::string> written;
    const int n = 40;
    const auto decide = [&](const SquidRequest& request, unsigned) {
      std::unique_lock lock(mutex);
      if (request.url == "slow") {
        // Bounded only so that a helper that holds answers back fails instead of hanging.
        changed.wait_for(lock, std::chrono::seconds(20),
                         [&] { return (channels ? int(written.size()) : decided) == n - 1; });
      }
      ++decided;
      changed.notify_all();
      return (request.channel.empty() ? "" : request.channel + " ") + request.url + "\n";
    };
    const auto sink = [&](std::string_view line) {
      std::lock_guard lock(mutex);
      written.emplace_back(line);
      changed.notify_all();
    };
    std::string input;
    std::vector<std::string> inOrder;
    for (int i = 0; i < n; ++i) {
      const std::string id = channels ? std::to_string(i) + " " : "";
      inOrder.push_back(id + (i == 0 ? "slow" : "u" + std::to_string(i)) + "\n");
      input += inOrder.back();
    }
    {
      CSquidHelper helper({SquidMode::kAcl, std::nullopt, 3, 64}, decide, sink);
      helper.Feed(input);
    }
    ASSERT_EQ(written.size(), std::size_t{n});
    if (channels) {
      EXPECT_EQ(written.back(), "0 slow\n");
    } else {
      EXPECT_EQ(written, inOrder);
    }
  }
}

class SquidCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(m_dir / "settings.conf",
               "/http/global/SharedDataPath = .\n/http/global/GlobalTempPath = .\n"
               "/http/global/AllParentalFiltersEnabled = 0\n/http/filter/parentalbwlist/Enabled = 1\n"
               "squid.session.10.1.0.0/16 = 2\nsquid.session.10.1.2.0/24 = 0\n"
               "squid.session.user.alice = 2\n[session 2]\n/http/filter/parentalbwlist/Enabled = 0\n");
    WriteBytes(m_dir / "black.txt", "gamble.test\n");
    WriteBytes(m_dir / "white.txt", "kids.test\n");
    for (const char* list : {"black", "white"}) {
      const std::string name = list[0] == 'b' ? "prlblk.cas" : "prlwht.cas";
      ASSERT_EQ(zztest::RunHost({"lists", "build", std::string(list) + ".txt", name}, m_dir).status, 0);
    }
  }
  static std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  zztest::ScratchDir m_scratch;
  std::filesystem::path m_dir = m_scratch.Path();
};

TEST_F(SquidCommandTest, SessionsAndBadInputEndToEnd) {
  const std::string black = " OK message=black%20list tag=black site=gamble.test";
  const zztest::HostRun run = zztest::RunHost(
      {"--config", "settings.conf", "squid", "--mode", "acl", "--workers", "3"}, m_dir,
      "1 http://www.gamble.test/x 10.0.0.1 -\n2 http://www.gamble.test/x 10.1.0.7 -\n"
      "3 http://www.gamble.test/x 10.1.2.7 -\n4 http://www.gamble.test/x 10.0.0.1 alice\n"
      "5 http://kids.test/ 10.0.0.1 -\n6\n7 www.gamble.test:443\n8 http://a\x01/\n"
      "junk without id\n\n9 http://a.test/" + std::string(70000, 'x') + "\n10 http://gamble.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SortedLines(run.out),
            (std::vector<std::string>{"1" + black, "10" + black, "2 ERR", "3" + black, "4 ERR",
                                      "5 ERR", "6 BH message=no%20URL",
                                      "7" + black, "8 BH message=control%20characters%20in%20the%20request",
                                      "9 BH message=line%20longer%20than%2065536%20bytes"}));
}

// Eight channels in flight from a client thread while another thread rewrites the list files
// and sends SIGHUP: every request answered once, each as before the reloads.
TEST_F(SquidCommandTest, ReloadUnderLoadThreadTest) {
  int toHelper[2], fromHelper[2];
  ASSERT_EQ(pipe(toHelper), 0);
  ASSERT_EQ(pipe(fromHelper), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toHelper[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromHelper[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, (m_dir / "err.txt").c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addclose(&actions, toHelper[1]);
  posix_spawn_file_actions_addclose(&actions, fromHelper[0]);
  const std::string program = (zztest::HostBinDir() / "zazozor").string();
  const std::string config = (m_dir / "settings.conf").string();
  const char* argv[] = {program.c_str(), "--config", config.c_str(), "squid", "--mode", "acl",
                        "--workers", "4", nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(toHelper[0]);
  close(fromHelper[1]);

  const char* urls[] = {"http://www.gamble.test/a", "http://kids.test/", "http://other.test/"};
  const std::string answers[] = {" OK message=black%20list tag=black site=gamble.test", " ERR", " ERR"};
  const int total = 3000;
  std::mutex mutex;
  std::condition_variable freed;
  int answered = 0;
  std::vector<int> seen(total, 0);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    std::FILE* in = fdopen(fromHelper[0], "r");
    char line[256];
    while (std::fgets(line, sizeof line, in) != nullptr) {
      const int id = std::atoi(line);
      std::string text(line);
      EXPECT_EQ(text, std::to_string(id) + answers[id % 3] + "\n");
      std::lock_guard lock(mutex);
      ++seen.at(id);
      ++answered;
      freed.notify_all();
    }
    std::fclose(in);
  });
  std::thread reloader([&] {
    {  // the helper handles SIGHUP once it answers
      std::unique_lock lock(mutex);
      freed.wait(lock, [&] { return answered > 0; });
    }
    const std::string lists[] = {"prlblk.cas", "prlwht.cas"};
    const std::string bytes[] = {ReadBytes(m_dir / lists[0]), ReadBytes(m_dir / lists[1])};
    while (!done) {
      for (int i = 0; i < 2; ++i) {
        WriteBytes(m_dir / "new.cas", bytes[i]);
        std::filesystem::rename(m_dir / "new.cas", m_dir / lists[i]);
      }
      kill(pid, SIGHUP);
      std::this_thread::yield();
    }
  });
  for (int id = 0; id < total; ++id) {
    {
      std::unique_lock lock(mutex);
      freed.wait(lock, [&] { return id - answered < 8; });
    }
    const std::string line = std::to_string(id) + " " + urls[id % 3] + " 10.0.0.1 -\n";
    ASSERT_EQ(write(toHelper[1], line.data(), line.size()), ssize_t(line.size()));
  }
  done = true;
  reloader.join();
  close(toHelper[1]);
  reader.join();
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0) << ReadBytes(m_dir / "err.txt");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), total);
  EXPECT_NE(ReadBytes(m_dir / "err.txt").find("reloaded"), std::string::npos);
}

}  // namespace
}  // namespace zzhost
