// The ICAP service's pieces without c-icap: the body buffer against the bytes it was fed,
// the judge on the sample pages from several threads, the Content-Type test.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "body_buffer.h"
#include "page_item.h"
#include "page_judge.h"
#include "support/bin_dir.h"

namespace {

using zzhost::CBodyBuffer;

// Feeds a body in random blocks, draining random amounts in between as c-icap does once the
// data is unlocked (once full, or after the end): what comes out must be the body, the
// buffer must be full exactly when the body is over the limit, hold at most the limit plus
// one block, and take nothing while full with a window's worth waiting.
TEST(IcapBodyBufferTest, PassesEveryByteAndBoundsWhatItHolds) {
  constexpr std::size_t kWindow = 1000, kBlock = 300;
  std::mt19937 random(7);
  for (std::size_t size : {0, 1, 4999, 5000, 5001, 40000}) {
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(random());
    CBodyBuffer buffer(5000, kWindow);
    std::string out;
    char chunk[2 * kBlock];  // drains outpace what arrives, so the buffer often runs dry
    std::size_t fed = 0;
    while (fed < body.size() || !buffer.Ended()) {
      // Every third turn nothing arrives: c-icap also asks for output alone.
      const std::size_t offer =
          random() % 3 == 0 ? 0 : std::min<std::size_t>(random() % kBlock + 1, body.size() - fed);
      const bool held = buffer.Full() && buffer.Pending() >= kWindow;
      const std::size_t taken = buffer.Accept(body.data() + fed, offer);
      if (held) {
        ASSERT_EQ(taken, 0u);
      }
      fed += taken;
      if (fed == body.size()) buffer.MarkEnd();
      ASSERT_LE(buffer.Pending(), 5000 + kBlock);
      if (buffer.Full()) {
        const long n = buffer.Drain(chunk, random() % sizeof chunk + 1);
        ASSERT_TRUE(n >= 0 || buffer.Ended());  // -1 (the end) only after the last byte came
        if (n > 0) out.append(chunk, static_cast<std::size_t>(n));
      }
    }
    EXPECT_EQ(buffer.Full(), size > 5000) << size;
    for (long n; (n = buffer.Drain(chunk, sizeof chunk)) != -1;) {
      ASSERT_GT(n, 0);
      out.append(chunk, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(out, body) << size;
  }
}

// A page blocked on its first part: what still arrives is dropped, not sent or kept.
TEST(IcapBodyBufferTest, ReplacedBodyIsAllThatIsSent) {
  CBodyBuffer buffer(10, 10);
  EXPECT_EQ(buffer.Accept("original page", 13), 13u);
  ASSERT_TRUE(buffer.Full());
  buffer.Replace("block page");
  EXPECT_EQ(buffer.Accept("more of it", 10), 10u);
  EXPECT_EQ(buffer.Pending(), 10u);
  char out[64];
  const long n = buffer.Drain(out, sizeof out);
  EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), "block page");
  EXPECT_EQ(buffer.Drain(out, sizeof out), -1);
}

TEST(IcapContentTypeTest, HtmlWithAnyParameters) {
  for (const char* html : {"text/html", "TEXT/HTML", " text/html; charset=iso-8859-2",
                           "text/html ;charset=utf-8"}) {
    EXPECT_TRUE(zzhost::IsHtmlContentType(html)) << html;
  }
  for (const char* other : {"", "text/htm", "text/htmlx", "text/plain", "application/xhtml+xml",
                            "image/png; text/html"}) {
    EXPECT_FALSE(zzhost::IsHtmlContentType(other)) << other;
  }
}

// Four threads judge the sample pages at once through one judge (built from the module and
// the sample data in bin/) and must each get the single-threaded verdicts: the poker page
// blocked by its signature, the others allowed, and the block page naming rule and address.
TEST(IcapPageJudgeThreadTest, SamplePagesFromFourThreads) {
  zzhost::JudgeOptions options;
  options.defaultsDir = zztest::BinDir().string();
  options.modulePath = options.defaultsDir + "/zazozor.mdl";
  const zzhost::CPageJudge judge(options);
  const std::string pages = (zztest::SourceDir() / "data/pages/").string();
  const std::vector<std::string> files = {"poker-palace.html", "kids-encyclopedia.html",
                                          "friendface-utf16.html", "museum-windows1252.html"};
  std::vector<std::string> bodies;
  for (const std::string& file : files) bodies.push_back(zzhost::ReadPageBytes(pages + file));
  const std::string url = "http://pages.test/poker?a=<b>";

  const zzhost::PageVerdict poker = judge.Judge(bodies[0], url);
  EXPECT_TRUE(poker.blocked);
  EXPECT_EQ(poker.reason, "gambling");
  EXPECT_EQ(poker.rule, "GamblingSite");
  const std::string page = judge.RenderBlock(poker, url);
  EXPECT_NE(page.find("GamblingSite"), std::string::npos);
  EXPECT_NE(page.find("poker?a=&lt;b&gt;"), std::string::npos);
  // The category lists come before the signatures: a clean page on a listed site is blocked
  // with the list's name; the poker page on the category white list passes.
  const zzhost::PageVerdict listed = judge.Judge(bodies[1], "http://poker-palace.test/");
  EXPECT_TRUE(listed.blocked);
  EXPECT_EQ(listed.reason, "Gambling");
  EXPECT_EQ(listed.rule, "category list");
  EXPECT_FALSE(judge.Judge(bodies[0], "http://kids-encyclopedia.test/").blocked);

  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (std::size_t i = 0; i < bodies.size(); ++i) {
          const zzhost::PageVerdict verdict = judge.Judge(bodies[i], "http://pages.test/");
          if (verdict.blocked != (i == 0) || (i == 0 && verdict.rule != poker.rule)) ++wrong[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
