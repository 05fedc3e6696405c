// "zazozor url" and "zazozor urls" end to end: the pieces of an address, the order of the
// list lookups (white before black, domain before path piece, site before exact), request
// lines as a proxy hands them over, and missing or damaged list files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/host_process.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

class UrlsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(m_dir / "settings.conf") << "/http/global/SharedDataPath = .\n"
                                               "/http/global/GlobalTempPath = .\n"
                                               "/http/global/AllParentalFiltersEnabled = 0\n"
                                               "/http/filter/parentalbwlistadvanced/Enabled = 0\n";
  }

  // Builds prlblk.cas / prlwht.cas from site lines.
  void WriteLists(const std::string& black, const std::string& white) {
    std::ofstream(m_dir / "black.txt") << black;
    std::ofstream(m_dir / "white.txt") << white;
    ASSERT_EQ(Run({"lists", "build", "black.txt", "prlblk.cas"}).status, 0);
    ASSERT_EQ(Run({"lists", "build", "white.txt", "prlwht.cas"}).status, 0);
  }
  zztest::HostRun Run(std::vector<std::string> args, const std::string& input = "") {
    return zztest::RunHost(args, m_dir, input, {"ZAZOZOR_TRACE_LEVEL=off"});
  }
  zztest::HostRun Urls(const std::string& input) {
    return Run({"--config", "settings.conf", "urls"}, input);
  }

  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
};

TEST_F(UrlsCommandTest, UrlShowsThePiecesTheListsUse) {
  const zztest::HostRun run = Run({"url", "http://www.Sample.test/a/b/?q=1",
                                   "https://news.sample.co.uk:8080/x", "ftp://host/x",
                                   "http://user@10.1.2.3/p", ""});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\"url\": \"http://www.Sample.test/a/b/?q=1\", \"escaped\": "
            "\"http://www.Sample.test/a/b/?q=1\", \"path\": \"sample.test/a/b\", \"host\": "
            "\"sample.test\", \"domain\": \"sample.test\"}\n"
            "{\"url\": \"https://news.sample.co.uk:8080/x\", \"escaped\": "
            "\"https://news.sample.co.uk:8080/x\", \"path\": \"news.sample.co.uk:8080/x\", "
            "\"host\": \"news.sample.co.uk:8080\", \"domain\": \"sample.co.uk\"}\n"
            "{\"url\": \"ftp://host/x\", \"escaped\": \"ftp://host/x\", \"path\": "
            "\"ftp://host/x\", \"host\": \"ftp:\", \"domain\": \"ftp\"}\n"
            "{\"url\": \"http://user@10.1.2.3/p\", \"escaped\": \"http://user@10.1.2.3/p\", "
            "\"path\": \"user@10.1.2.3/p\", \"host\": \"user@10.1.2.3\", \"domain\": "
            "\"10.1.2.3\"}\n"
            "{\"url\": \"\", \"error\": -1}\n");
}

// Request lines as a proxy hands them over; the order of lookups itself is followed in
// tests/zazozor/bwlistfilter_test.cpp.
TEST_F(UrlsCommandTest, VerdictsFollowTheOrderOfLookups) {
  // "lists build" keeps site keys: news.test lands on both lists.
  WriteLists("gamble.test\nnews.test\n", "kids.test\nnews.test/sports\n");
  const zztest::HostRun run = Urls(
      "http://www.gamble.test/x?y=1 10.0.0.1/- - GET\n"
      "\n"
      "   http://deep.sub.kids.test/ 10.0.0.1/- - GET\n"
      "http://news.test/sports\n"  // white before black
      "http://clean.test/\n");
  EXPECT_EQ(run.status, 0) << run.err;
  // The advanced filter is off in these settings: no categories, no flag.
  EXPECT_EQ(run.out,
            "{\"url\": \"http://www.gamble.test/x?y=1\", \"list\": \"black\", \"categories\": null, "
            "\"flag\": null}\n"
            "{\"url\": \"http://deep.sub.kids.test/\", \"list\": \"white\", \"categories\": null, "
            "\"flag\": null}\n"
            "{\"url\": \"http://news.test/sports\", \"list\": \"white\", \"categories\": null, "
            "\"flag\": null}\n"
            "{\"url\": \"http://clean.test/\", \"list\": null, \"categories\": null, \"flag\": "
            "null}\n");
}

// Threads answer batches of the stream side by side; the answers keep the input's order,
// whatever the number of threads.
TEST_F(UrlsCommandTest, ThreadsKeepTheInputOrder) {
  WriteLists("gamble.test\nnews.test\n", "kids.test\n");
  std::string input;
  const char* const sites[] = {"gamble.test", "kids.test", "clean.test", "a.news.test"};
  for (int i = 0; i < 20000; ++i) {
    input += "http://" + std::string(sites[i % 7 % 4]) + "/" + std::to_string(i) + " - GET\n";
  }
  const zztest::HostRun one = Run({"--config", "settings.conf", "urls", "--threads", "1"}, input);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 20000);
  EXPECT_NE(one.out.find("{\"url\": \"http://kids.test/19993\", \"list\": \"white\""),
            std::string::npos);
  for (const char* threads : {"--threads=2", "--threads=5"}) {
    const zztest::HostRun many = Run({"--config", "settings.conf", "urls", threads}, input);
    EXPECT_EQ(many.status, 0) << many.err;
    EXPECT_TRUE(many.out == one.out) << threads;
  }
  for (const char* wrong : {"--threads=0", "--threads=x", "--threads"}) {
    EXPECT_EQ(Run({"--config", "settings.conf", "urls", wrong}).status, 2) << wrong;
  }
}

TEST_F(UrlsCommandTest, MissingOrDamagedListsFailWithOneLine) {
  zztest::HostRun run = Urls("http://x.test/\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.find("no blacklist?"), run.err.size() - std::string("no blacklist?\n").size())
      << run.err;
  WriteLists("gamble.test\n", "kids.test\n");
  {
    std::fstream file(m_dir / "prlwht.cas", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(200);
    file.put('\x7f');  // inside the payload: the digest no longer matches
  }
  run = Urls("http://x.test/\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no whitelist?"), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

}  // namespace
