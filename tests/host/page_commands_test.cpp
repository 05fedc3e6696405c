// "zazozor filter" and "zazozor page" end to end: list, Bayes and signature verdicts and filter
// keys of the sample pages on the bundled sample lists, dictionary and rules, and what "page"
// shows of links, images and meta tags.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/bin_dir.h"
#include "support/host_process.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

// The advanced filter's "not matched" resets of all eighteen lists in the item.
std::string ListResets() {
  std::string text;
  for (int key = 10100; key <= 10117; ++key) text += (key != 10100 ? ", \"" : "\"") + std::to_string(key) + "\": 0";
  return text;
}

class PageCommandsTest : public ::testing::Test {
 protected:
  zztest::HostRun Run(const std::vector<std::string>& args) {
    return zztest::RunHost(args, m_dir, "", {"ZAZOZOR_TRACE_LEVEL=off"});
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(m_dir / name, std::ios::binary) << bytes;
  }

  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
};

TEST_F(PageCommandsTest, FilterReportsTheVerdictsOfTheSamplePages) {
  const struct {
    const char* page;
    const char* url;
    std::string verdicts;
  } cases[] = {
      {"kids-encyclopedia.html", "http://news.kids-encyclopedia.test/today",
       "\"list\": \"white\", \"categories\": [\"White\"], \"flag\": 1, "
       "\"bayes\": {\"category\": \"kidz\", \"score\": 100}, \"signature\": null, "
       "\"item\": {\"10117\": 0, \"31001\": \"kidz\", \"31002\": 100, \"31050\": 1}, "
       "\"bbext\": {\"10117\": 1, \"31052\": 1}"},
      {"poker-palace.html", "http://www.poker-palace.test/tables?id=7",
       "\"list\": \"black\", \"categories\": [\"Gambling\"], \"flag\": 0, "
       "\"bayes\": {\"category\": \"adult\", \"score\": 100}, \"signature\": {\"category\": "
       "\"gambling\", \"score\": 85, \"rule\": \"GamblingSite\", \"hits\": [\"BettingLinks\", "
       "\"GamblingScoreHigh\", \"GamblingTitle\", \"CasinoBannerImages\", \"GamblingKeywordsMeta\", "
       "\"GamblingSite\", \"DepositForm\", \"GamblingBodyWords\", \"GamblingUrl\"]}, \"item\": {" +
           ListResets() +
           ", \"31001\": \"adult\", \"31002\": 100, \"31051\": 1, \"31055\": \"gambling\", "
           "\"31056\": 85, \"31057\": \"GamblingSite\"}, "
           "\"bbext\": {\"10104\": 1, \"31052\": 0}"},
  };
  for (const auto& c : cases) {
    const std::string file = (zztest::SourceDir() / "data" / "pages" / c.page).string();
    const zztest::HostRun run = Run({"filter", "--url", c.url, file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "{\"file\": \"" + file + "\", \"url\": \"" + c.url + "\", " + c.verdicts + "}\n");
  }
  const std::string poker = (zztest::SourceDir() / "data" / "pages" / "poker-palace.html").string();
  EXPECT_NE(Run({"filter", "--no-hits", poker}).out.find("\"rule\": \"GamblingSite\", \"hits\": null}"),
            std::string::npos);
  // The text report names the lists too, or says there are none.
  EXPECT_NE(Run({"filter", "--text", "--url", "http://poker-palace.test/", poker}).out.find(
                "\ncategories  Gambling\n"),
            std::string::npos);
  EXPECT_NE(Run({"filter", "--text", "--url", "http://other.test/", poker}).out.find(
                "\ncategories  (none)\n"),
            std::string::npos);
}

// The page text is the text runs one after the other with named entities replaced; an
// unknown element, "<?...>" and numeric references stay as written. Decoded link addresses
// (null without one; commented-out and scripted links are not links), image sources as
// written, meta attributes with null when absent.
TEST_F(PageCommandsTest, PageShowsWhatTheFiltersSee) {
  Write("p.html",
        "<html><head><META NAME=keywords CONTENT=\"a&amp;b\"><meta http-equiv=refresh><meta>"
        "<title>T&eacute;</title></head><body><!-- <a href=\"/hidden\">--><p>x&#233;</p>"
        "<nav>n</nav><?php 1 ?><a href=\"/x?a=1&amp;b=2&lt;\">x</a> <A name=top>t</A><area "
        "href='&#104;ttp://h.test/'><script>document.write(\"<a href=/s>\")</script>"
        "<img src=\"i&amp;.png\"><IMG alt=none><img src=>");
  const zztest::HostRun run = Run({"page", "p.html"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\"charset\": \"utf-8\", \"text\": \"T\xC3\xA9x&#233;<nav>n</nav><?php 1 ?>x t\", "
            "\"links\": [\"/x?a=1&b=2<\", null, \"&#104;ttp://h.test/\"], "
            "\"images\": [\"i&amp;.png\", null, \"\"], "
            "\"meta\": [{\"name\": \"keywords\", \"http-equiv\": null, \"content\": \"a&amp;b\"}, "
            "{\"name\": null, \"http-equiv\": \"refresh\", \"content\": null}, "
            "{\"name\": null, \"http-equiv\": null, \"content\": null}], \"signature\": null}\n");
}

}  // namespace
