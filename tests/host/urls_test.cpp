// "zazozor url" and "zazozor urls" end to end: the JSON of an address's pieces (the pieces
// themselves are the URL parser's test), request lines as a proxy hands them over, answers
// in input order whatever the number of threads (the order of lookups and missing lists are
// the BW list filter's test).
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
    std::ofstream(m_dir / "settings.conf")
        << "/http/global/SharedDataPath = .\n/http/global/GlobalTempPath = .\n"
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
  zztest::HostRun Urls(const std::string& input, const char* threads = "--threads=1") {
    return Run({"--config", "settings.conf", "urls", threads}, input);
  }

  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
};

TEST_F(UrlsCommandTest, UrlShowsThePiecesTheListsUse) {
  EXPECT_EQ(Run({"url", "https://news.sample.co.uk:8080/x", ""}).out,
            "{\"url\": \"https://news.sample.co.uk:8080/x\", \"escaped\": "
            "\"https://news.sample.co.uk:8080/x\", \"path\": \"news.sample.co.uk:8080/x\", "
            "\"host\": \"news.sample.co.uk:8080\", \"domain\": \"sample.co.uk\"}\n"
            "{\"url\": \"\", \"error\": -1}\n");
}

// Request lines (URL, then client and method), blank lines skipped, leading blanks dropped;
// the answers keep the input's order with any number of threads.
TEST_F(UrlsCommandTest, RequestLinesAnsweredInInputOrder) {
  WriteLists("gamble.test\nnews.test\n", "kids.test\n");
  const std::string line = "\", \"categories\": null, \"flag\": null}\n";
  const zztest::HostRun run = Urls("http://www.gamble.test/x?y=1 10.0.0.1/- - GET\n\n"
                                   "   http://deep.sub.kids.test/ 10.0.0.1/- - GET\nhttp://clean.test/\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "{\"url\": \"http://www.gamble.test/x?y=1\", \"list\": \"black" + line +
                         "{\"url\": \"http://deep.sub.kids.test/\", \"list\": \"white" + line +
                         "{\"url\": \"http://clean.test/\", \"list\": null, \"categories\": null, "
                         "\"flag\": null}\n");
  // The URL ends at the first blank, tab or carriage return, wherever it falls against
  // sixteen-character blocks.
  std::string fields, want;
  for (std::size_t length = 0; length < 32; ++length) {  // URLs of 17 to 48 characters
    for (const char* stop : {" x", "\tx", "\r", ""}) {
      const std::string url = "http://news.test/" + std::string(length, 'p');
      fields += url + stop + "\n";
      want += "{\"url\": \"" + url + "\", \"list\": \"black" + line;
    }
  }
  EXPECT_EQ(Urls(fields).out, want);
  std::string input;
  const char* const sites[] = {"gamble.test", "kids.test", "clean.test", "a.news.test"};
  for (int i = 0; i < 20000; ++i) {
    input += "http://" + std::string(sites[i % 7 % 4]) + "/" + std::to_string(i) + " - GET\n";
  }
  const zztest::HostRun one = Urls(input);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 20000);
  EXPECT_NE(one.out.find("{\"url\": \"http://kids.test/19993\", \"list\": \"white"),
            std::string::npos);
  for (const char* threads : {"--threads=2", "--threads=5"})
    EXPECT_TRUE(Urls(input, threads).out == one.out) << threads;
  for (const char* wrong : {"--threads=0", "--threads=x", "--threads"}) {
    EXPECT_EQ(Urls("", wrong).status, 2) << wrong;
  }
}

}  // namespace
