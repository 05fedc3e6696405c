// "zazozor knn": a model trained on two small folders of messages in a scratch folder loads
// back and gives the training items their own labels (classify and eval), nothing lands in
// the working folder, and usage errors and a missing model are reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_process.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

const char kFeatures[] =
    "0.3\n6\n# test features\n"
    "1 H_MAIL_HEADER_MESSAGEID_LENGTH NONE\n"
    "1 H_MAIL_HEADER_SUBJECT_LENGTH NONE\n"
    "1 H_MAIL_SUBJECT_SEPARATORS_COUNT NONE\n"
    "1 H_MAIL_HEADER_FROM_HAS_A_NAME BOOL 10 0\n"
    "1 H_MAIL_LINKS_COUNT LINIAR 20 5 0\n";

// A family-like message (named sender, long id, plain text) or a spam-like one (bare
// address, short id, shouting subject, a body of links).
std::string Message(bool spam, int n) {
  const std::string i = std::to_string(n);
  if (!spam) {
    return "From: \"Friend " + i + "\" <friend" + i + "@family.example.net>\n"
           "Subject: Lunch on Sunday with grandma " + i + "\n"
           "Message-ID: <20260301.long.identifier." + i + "@family.example.net>\n"
           "Content-Type: text/plain\n\nSee you at noon.\nLove\n";
  }
  return "From: win" + i + "@spam.example.biz\n"
         "Subject: $$$ FREE!!! CLICK NOW!!! -- " + i + " --\n"
         "Message-ID: <s" + i + "@x>\nContent-Type: text/html\n\n"
         "<p><a href=\"http://a.example.biz/\">A</a> <a href=\"http://b.example.biz/\">B</a>"
         " <a href=\"http://c.example.biz/\">C</a> <a href=\"http://d.example.biz/\">D</a></p>\n";
}

struct Corpus {
  zztest::ScratchDir dir;
  fs::path work = dir / "work";
  Corpus() {
    fs::create_directories(work);
    fs::create_directories(dir / "ham");
    fs::create_directories(dir / "spam");
    zztest::WriteBytes(dir / "features.dat", kFeatures);
    for (int n = 1; n <= 4; ++n) {
      zztest::WriteBytes(dir / "ham" / ("h" + std::to_string(n) + ".eml"), Message(false, n));
      zztest::WriteBytes(dir / "spam" / ("s" + std::to_string(n) + ".eml"), Message(true, n));
    }
    // The trainer keeps one copy of identical items: a ham message filed as spam too.
    zztest::WriteBytes(dir / "spam" / "s0.eml", Message(false, 1));
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  zztest::HostRun Train() const {
    return zztest::RunHost({"knn", "train", "--features", Path("features.dat"),
                            "ham=" + Path("ham"), "spam=" + Path("spam"), "--out",
                            Path("model"), "--seed", "7"},
                           work);
  }
};

TEST(KnnCommandTest, TrainedModelGivesTheTrainingItemsTheirLabels) {
  Corpus corpus;
  const zztest::HostRun train = corpus.Train();
  ASSERT_EQ(train.status, 0) << train.err << train.out;
  EXPECT_NE(train.out.find("read 9 items"), std::string::npos) << train.out;
  for (const char* file : {"vi2features.dat", "vi2clusters.dat", "vi2labels.dat"}) {
    EXPECT_TRUE(fs::exists(corpus.dir / "model" / file)) << file;
  }
  std::istringstream labels(zztest::SlurpFile(corpus.dir / "model" / "vi2labels.dat"));
  std::string cluster, category;
  int count = 0, ham = 0;
  while (labels >> cluster >> category >> count) ham += category == "ham" ? count : 0;
  EXPECT_EQ(ham, 4);  // the copy counts for spam
  // Only the captured streams of the runs are in the working folder.
  for (const auto& entry : fs::directory_iterator(corpus.work)) {
    EXPECT_EQ(entry.path().filename().string()[0], '.') << entry.path();
  }

  for (const std::string category : {"ham", "spam"}) {
    const zztest::HostRun run = zztest::RunHost(
        {"knn", "classify", "--model", corpus.Path("model"),
         corpus.Path(category + "/" + category[0] + "1.eml"),
         corpus.Path(category + "/" + category[0] + "4.eml")},
        corpus.work);
    ASSERT_EQ(run.status, 0) << run.err;
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = run.out.find("\"category\": \"" + category + "\"", at)) !=
                             std::string::npos;
         ++at) {
      ++lines;
    }
    EXPECT_EQ(lines, 2u) << run.out;
  }

  const zztest::HostRun eval =
      zztest::RunHost({"knn", "eval", "--model", corpus.Path("model"), "ham=" + corpus.Path("ham"),
                       "spam=" + corpus.Path("spam")},
                      corpus.work);
  ASSERT_EQ(eval.status, 0) << eval.err;
  EXPECT_NE(eval.out.find("accuracy 8/9 = 88.89%"), std::string::npos) << eval.out;
}

TEST(KnnCommandTest, UsageErrorsAndMissingModels) {
  Corpus corpus;
  const struct {
    std::vector<std::string> args;
    int status;
  } rows[] = {
      {{"knn"}, 2},
      {{"knn", "forget"}, 2},
      {{"knn", "train", "ham=" + corpus.Path("ham")}, 2},                      // no --features
      {{"knn", "train", "--features", corpus.Path("features.dat")}, 2},        // no folder
      {{"knn", "train", "--features", corpus.Path("features.dat"), "ham"}, 2},  // not CAT=DIR
      {{"knn", "train", "--features", corpus.Path("features.dat"), "--seed", "-1", "a=b"}, 2},
      {{"knn", "classify", "--out", "x", "f.eml"}, 2},
      {{"knn", "eval", "--model", corpus.Path("model")}, 2},
      {{"knn", "classify", "--model", corpus.Path("ham"), corpus.Path("ham/h1.eml")}, 1},
      {{"knn", "train", "--features", corpus.Path("nothing.dat"), "ham=" + corpus.Path("ham")}, 1},
      {{"knn", "train", "--features", corpus.Path("features.dat"), "ham=" + corpus.Path("no")}, 1},
  };
  for (const auto& row : rows) {
    const zztest::HostRun run = zztest::RunHost(row.args, corpus.work);
    EXPECT_EQ(run.status, row.status) << row.args.back() << ": " << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
  // A folder without a model is not given one, and failed runs leave no file behind.
  EXPECT_FALSE(fs::exists(corpus.dir / "ham" / "vi2clusters.dat"));
  for (const auto& entry : fs::directory_iterator(corpus.work)) {
    EXPECT_EQ(entry.path().filename().string()[0], '.') << entry.path();
  }
}

}  // namespace
