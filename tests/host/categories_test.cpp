// "zazozor categories" and the category part of "zazozor urls" end to end: build and check
// print what the database answers, failures give one line, and "urls" reports the lists and
// the summary flag per session (the switches of each category are the filter's test).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "engines/urldb/list_files.h"
#include "support/host_process.h"

namespace {

namespace fs = std::filesystem;

class CategoriesCommandTest : public ::testing::Test {
 protected:
  zztest::HostRun Run(std::vector<std::string> args, const std::string& input = "") {
    return zztest::RunHost(args, dir.Path(), input, {"ZAZOZOR_TRACE_LEVEL=off"});
  }
  void Write(const std::string& name, const std::string& text) {
    zztest::WriteBytes(dir / name, text);
  }
  // Builds name.dat from the URL lines.
  void WriteCategory(const std::string& name, const std::string& lines) {
    Write(name + ".txt", lines);
    const zztest::HostRun run = Run({"categories", "build", name + ".txt", name + ".dat"});
    ASSERT_EQ(run.status, 0) << run.err;
  }

  zztest::ScratchDir dir;
};

// Hits and the log follow the reference tests of the database; here the command's output.
TEST_F(CategoriesCommandTest, BuildThenCheck) {
  Write("list.txt", "sample.test\nhttp://www.Shop.Example/Deals?x=1\n\n");
  const zztest::HostRun built = Run({"categories", "build", "list.txt", "list.dat"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.out, "address keys: 2, subdomain keys: 2, domain keys: 2\n");
  const zztest::HostRun checked =
      Run({"categories", "check", "list.dat", "shop.example/other", ""});
  ASSERT_EQ(checked.status, 0) << checked.err;
  EXPECT_EQ(checked.out,
            "{\"url\": \"shop.example/other\", \"url_hit\": false, \"subdomain_hit\": true, "
            "\"domain_hit\": true}\n"
            "{\"url\": \"\", \"url_hit\": false, \"subdomain_hit\": false, \"domain_hit\": "
            "false}\n");
}

TEST_F(CategoriesCommandTest, FailuresGiveOneLine) {
  std::string wide;
  for (std::uint32_t word : {4u, 1u, 0u, 0u}) wide += zztest::LittleEndian32(word);
  zztest::WriteListFile(dir / "wide.dat", wide + std::string(16, 'k'));
  Write("list.txt", "a.test\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"categories", "check", "wide.dat", "http://a.test/"}, 1, "(status -9)"},
      {{"categories", "build", "missing.txt", "out.dat"}, 1, "cannot read 'missing.txt'"},
      {{"categories", "build", "list.txt", "no/such/out.dat"}, 1, "cannot write"},
      {{"categories", "build", "list.txt", "out.dat", "--log", "no/such/x.log"}, 1,
       "cannot create the log"},
  };
  for (const auto& c : cases) {
    const zztest::HostRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir / "out.dat"));
}

TEST_F(CategoriesCommandTest, UrlsReportsTheListsAndTheFlagPerSession) {
  Write("black.txt", "casino.test\n");
  ASSERT_EQ(Run({"lists", "build", "black.txt", "prlblk.cas"}).status, 0);
  ASSERT_EQ(Run({"lists", "build", "black.txt", "prlwht.cas"}).status, 0);
  WriteCategory("pc_gambling", "both.test\n");
  WriteCategory("pc_pornography", "both.test\n");
  WriteCategory("pc_white", "kids.test\n");
  Write("settings.conf",
        "/http/global/SharedDataPath = .\n/http/global/GlobalTempPath = .\n"
        "/http/global/AllParentalFiltersEnabled = 1\n[session 2]\n"
        "/http/filter/parentalbwlistadvanced/Enabled = 0\n"
        "/http/global/AllParentalFiltersEnabled = 0\n");
  const auto urls = [&](const char* session) {
    const zztest::HostRun run = Run({"--config", "settings.conf", "--session", session, "urls"},
                                    "http://both.test/ 10.0.0.1/- - GET\nhttp://kids.test/\n");
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  };
  const std::string both = "{\"url\": \"http://both.test/\", \"list\": null, \"categories\": ";
  const std::string kids = "{\"url\": \"http://kids.test/\", \"list\": null, \"categories\": ";
  EXPECT_EQ(urls("0"), both + "[\"Gambling\", \"Pornography\"], \"flag\": 1}\n" + kids +
                           "[\"White\"], \"flag\": 1}\n");
  EXPECT_EQ(urls("2"), both + "null, \"flag\": null}\n" + kids + "null, \"flag\": null}\n");
}

// One item serves URL after URL, keeping the result keys the advanced filter writes again:
// whatever came before (a white page, a black one, a category hit), each answer is the one
// the URL gets alone.
TEST_F(CategoriesCommandTest, UrlsAnswerAsIfEachWereAlone) {
  Write("black.txt", "casino.test\n");
  ASSERT_EQ(Run({"lists", "build", "black.txt", "prlblk.cas"}).status, 0);
  Write("white.txt", "school.test\n");
  ASSERT_EQ(Run({"lists", "build", "white.txt", "prlwht.cas"}).status, 0);
  WriteCategory("pc_gambling", "both.test\ncasino.test\n");
  WriteCategory("pc_news", "both.test\n");
  WriteCategory("pc_white", "kids.test\n");
  Write("settings.conf",
        "/http/global/SharedDataPath = .\n/http/global/GlobalTempPath = .\n"
        "/http/global/AllParentalFiltersEnabled = 1\n");
  const char* const urls[] = {"http://both.test/", "http://kids.test/", "http://plain.test/",
                              "http://casino.test/", "http://school.test/", "ftp://casino.test/x",
                              "http://kids.test/a"};
  std::string answers[7];
  for (int i = 0; i < 7; ++i) {
    const zztest::HostRun run = Run({"--config", "settings.conf", "urls"}, urls[i]);
    ASSERT_EQ(run.status, 0) << run.err;
    answers[i] = run.out;
  }
  std::string input, alone;
  for (int i = 0; i < 40; ++i) {
    input += std::string(urls[i * 5 % 7]) + " - GET\n";
    alone += answers[i * 5 % 7];
  }
  const zztest::HostRun together = Run({"--config", "settings.conf", "urls", "--threads=1"}, input);
  ASSERT_EQ(together.status, 0) << together.err;
  EXPECT_EQ(together.out, alone);
}

}  // namespace
