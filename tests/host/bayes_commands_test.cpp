// "zazozor bayes" end to end: categories, training from page files, the listing, pruning
// and conversion, each through the module against a dictionary in a scratch data folder,
// and the Bayes verdict that "filter" then reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/host_process.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

class BayesCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(m_dir / "data"); }

  // Runs the host on the scratch data folder with the Bayes filter as the only filter.
  zztest::HostRun Run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {
        "--set", "/http/global/SharedDataPath=" + Data().string(),
        "--set", "/http/global/AllParentalFiltersEnabled=0",
        "--set", "/http/filter/parentalbwlist/Enabled=0",
        "--set", "/http/filter/parentalbwlistadvanced/Enabled=0"};
    all.insert(all.end(), args.begin(), args.end());
    return zztest::RunHost(all, m_dir, "", {"ZAZOZOR_TRACE_LEVEL=off"});
  }
  fs::path Data() const { return m_dir / "data"; }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(m_dir / name, std::ios::binary) << text;
    return (m_dir / name).string();
  }
  // A page of n distinct words "fill0x", "fill1x", ...: enough of them make the dictionary
  // large enough (over 3000 words) to answer real probabilities.
  std::string FillerPage(int n) {
    std::string text = "<html><body><p>";
    for (int i = 0; i < n; ++i) text += " fill" + std::to_string(i) + "x";
    return Write("filler.html", text + "</p></body></html>");
  }
  std::string Dictionary() const { return (Data() / "bayescsf.dat").string(); }

  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
};

TEST_F(BayesCommandsTest, TrainedCategoriesDecideTheVerdictOfFilter) {
  zztest::HostRun run = Run({"bayes", "categories", "White:0", "spam:3"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "added white:0 spam:3 to " + Dictionary() + "\n");

  const std::string spam1 = Write("spam1.html", "<p>Cheap pills, casino jackpot bonus winner!</p>");
  const std::string spam2 = Write("spam2.txt", "Subject: casino bonus\n\ncheap jackpot pills now");
  const std::string ham = Write("ham.html", "<p>Meeting agenda: project schedule and report</p>");
  run = Run({"bayes", "train", "SPAM", spam1, spam2});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no progress line off a terminal";
  EXPECT_EQ(run.out, "trained 2 files as 'spam' into " + Dictionary() + "\n");
  ASSERT_EQ(Run({"bayes", "train", "white", ham, FillerPage(3001)}).status, 0);

  run = Run({"filter", spam1, ham});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::regex_search(run.out, std::regex(
                  "\"bayes\": \\{\"category\": \"spam\", \"score\": 99\\}.*\"31001\": \"spam\", "
                  "\"31002\": 99.*\\n.*\"bayes\": \\{\"category\": \"white\", \"score\": 100\\}")))
      << run.out;
}

TEST_F(BayesCommandsTest, TrainingReportsWhatItCouldNotUse) {
  ASSERT_EQ(Run({"bayes", "categories", "white:0"}).status, 0);
  const std::string page = Write("page.html", "<p>some words here</p>");
  const std::string empty = Write("empty.html", "<script>only a script</script>");
  zztest::HostRun run = Run({"bayes", "train", "white", page, "missing.html", empty});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zazozor: cannot read missing.html: No such file or directory\n");
  EXPECT_EQ(run.out, "trained 2 files as 'white' into " + Dictionary() +
                         " (1 without text, which train nothing)\n");

  run = Run({"bayes", "train", "adult", page});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "zazozor: the dictionary " + Dictionary() +
                " has no category 'adult' (it has: white); add it with "
                "'zazozor bayes categories NAME:LEVEL'\n");
  // Names the file could not tell apart (it keeps 128 characters) are refused by name, and
  // the dictionary still loads.
  const std::string stem(128, 'k');
  ASSERT_EQ(Run({"bayes", "categories", stem + "one:1"}).status, 0);
  for (const auto& args : {std::vector<std::string>{"bayes", "categories", stem + "two:1"},
                           {"bayes", "categories", "a" + stem + "1:1", "A" + stem + "2:1"}}) {
    run = Run(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("in its first 128 characters"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Run({"bayes", "train", "white", page}).status, 0);
}

TEST_F(BayesCommandsTest, PruneRewritesTheDictionary) {
  ASSERT_EQ(Run({"bayes", "categories", "white:0", "spam:3"}).status, 0);
  ASSERT_EQ(Run({"bayes", "train", "white", Write("a.html", "<p>alpha alpha beta gamma</p>")}).status, 0);
  ASSERT_EQ(Run({"bayes", "train", "spam", Write("b.html", "<p>beta delta</p>")}).status, 0);
  // alpha 2/0, beta 1/1, gamma 1/0, delta 0/1.
  zztest::HostRun run = Run({"bayes", "prune", "1", "--mode", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "pruned " + Dictionary() + " with limit 1, mode 1: 2 words, was 4\n");

  run = Run({"bayes", "prune", "-1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "zazozor: bayes prune: ASException - MESSAGE: [Parental Bayes] Invalid occurence "
            "limit value\n");
}

TEST_F(BayesCommandsTest, ConvertedListBecomesTheDictionary) {
  const std::string words = Write("words.txt", "casino;1;40;0\nwhale;0;0;30\nquest;25;2;3\n");
  zztest::HostRun run = Run({"bayes", "convert", words, (Data() / "pcdic.dat").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "converted " + words + " to " + (Data() / "pcdic.dat").string() + "\n");
  // pcdic.dat now has content, so it is the dictionary in use. Its header claims 10000
  // words; it holds the 3 the file has.
  EXPECT_EQ(Run({"bayes", "print", (m_dir / "l.txt").string()}).status, 0);
  EXPECT_EQ(zztest::SlurpFile((m_dir / "l.txt").string()),
            "Total words : 3\nCategory No : 3\nCategories and total items trained for each one : "
            "\n\tteens-2(0)\t250000\n\tadult-3(1)\t250000\n\tkidz-1(2)\t250000\n\n"
            "casino\t1\t40\t0\nquest\t25\t2\t3\nwhale\t0\t0\t30\n");
  run = Run({"bayes", "prune", "30"});
  EXPECT_EQ(run.out, "pruned " + (Data() / "pcdic.dat").string() +
                         " with limit 30, mode 0: 1 words, was 3\n");
}

}  // namespace
