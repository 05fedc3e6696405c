// The category database on real files: BuildFromText then LoadFile against a reference made
// of std::set's of hex digests, the build log, and loading under allocation failure (a file
// of another key size: the categories command test).
#include "engines/urldb2/urlcategorydb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "common/md5.h"
#include "common/urlutils.h"
#include "engines/urldb/list_files.h"
#include "support/trace_capture.h"

namespace {

using ascommon::CURLCategoryDB;
using ascommon::ECategoryPiece;
namespace fs = std::filesystem;

// The reference: the first 8 digest bytes of each lower-case piece, as hex, per piece kind.
struct Reference {
  std::set<std::string> pieces[3];

  static std::string HexKey(const char* text, std::size_t length) {
    std::uint8_t digest[16];
    ascommon::CMD5::Digest(text, length, digest);
    char hex[17];
    for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
  }
  // The lower-case pieces of a URL (null when absent), in ECategoryPiece order.
  static void Pieces(const ascommon::CParsedURL& parsed, const char* texts[3],
                     std::size_t lengths[3]) {
    parsed.GetPathLower(texts[0], lengths[0]);
    parsed.GetHostLower(texts[1], lengths[1]);
    parsed.GetDomainLower(texts[2], lengths[2]);
  }
  void Add(const std::string& line) {
    ascommon::CParsedURL parsed;
    if (parsed.ParseURL(line.data(), line.size()) != 0) return;
    const char* texts[3];
    std::size_t lengths[3];
    Pieces(parsed, texts, lengths);
    for (int p = 0; p < 3; ++p)
      if (texts[p] != nullptr) pieces[p].insert(HexKey(texts[p], lengths[p]));
  }
};

class CategoryDBTest : public ::testing::Test {
 protected:
  // Builds name.dat from name.txt; the database that built it stays in built.
  std::int32_t Build(const std::string& name, const char16_t* log = nullptr) {
    return built.BuildFromText(Path(name + ".txt").c_str(), Path(name + ".dat").c_str(), log,
                               dir.Wide().c_str());
  }
  std::int32_t Load(CURLCategoryDB& db, const std::string& name) {
    return db.LoadFile(Path(name).c_str(), dir.Wide().c_str());
  }
  std::u16string Path(const std::string& name) const { return zztest::Wide(dir / name); }
  static std::vector<std::uint64_t> Counts(const CURLCategoryDB& db) {
    return {db.GetCount(ECategoryPiece::kAddress), db.GetCount(ECategoryPiece::kSubdomain),
            db.GetCount(ECategoryPiece::kDomain)};
  }

  zztest::ScratchDir dir;
  CURLCategoryDB built;
};

// A comment line lists nothing (its path piece is empty); the last line shares the first's
// domain key.
TEST_F(CategoryDBTest, BuildThenLoadAgreesWithHexDigestReference) {
  std::string text;
  Reference reference;
  for (const std::string line :
       {"sample.test", "http://www.Shop.Sample.test/Deals/?id=4#top", "http://www.",
        "https://news.sample.co.uk:8080/x", "http://user@198.51.100.7/login", "# a comment", "",
        "http://sample.test/a/b/"}) {
    text += line + "\r\n";
    reference.Add(line);
  }
  zztest::WriteBytes(dir / "list.txt", text);
  ASSERT_EQ(Build("list"), 0);
  CURLCategoryDB loaded;
  ASSERT_EQ(Load(loaded, "list.dat"), 0);
  for (const CURLCategoryDB* db : {&built, &loaded}) {
    for (int p = 0; p < 3; ++p) EXPECT_EQ(Counts(*db)[p], reference.pieces[p].size()) << p;
  }
  for (const std::string url :
       {"http://www.sample.test/other", "http://deep.sub.sample.test/", "http://198.51.100.7/",
        "HTTP://SHOP.SAMPLE.TEST/deals", "http://shop.sample.test/Deals", "news.sample.co.uk:8080/x",
        "https://news.sample.co.uk/x", "http://unlisted.example/", "ftp://sample.test/",
        "http://sample.test/a/b"}) {
    ascommon::CParsedURL parsed;
    ASSERT_EQ(parsed.ParseURL(url.data(), url.size()), 0) << url;
    const char* texts[3];
    std::size_t lengths[3];
    Reference::Pieces(parsed, texts, lengths);
    ascommon::CCategoryProbe probe;
    probe.Set(texts, lengths);
    std::int32_t results[3];
    loaded.Lookup(probe, results);
    const std::int32_t answers[3] = {loaded.HasURL(texts[0], lengths[0]),
                                     loaded.HasSubdomain(texts[1], lengths[1]),
                                     loaded.HasDomain(texts[2], lengths[2])};
    for (int p = 0; p < 3; ++p) {
      const int expected = texts[p] == nullptr ? -1 : static_cast<int>(reference.pieces[p].count(
                                                          Reference::HexKey(texts[p], lengths[p])));
      EXPECT_EQ(answers[p], expected) << url << " piece " << p;
      EXPECT_EQ(results[p], expected == 1 ? 1 : 0) << url << " piece " << p;
    }
  }
}

TEST_F(CategoryDBTest, LogListsEveryKeyAndEveryLineThatDoesNotParse) {
  zztest::WriteBytes(dir / "list.txt", "http://www.Sample.test/a\n\n");
  ASSERT_EQ(Build("list", Path("build.log").c_str()), 0);
  const auto words = [](const std::string& piece) {
    std::uint32_t w[4];
    ascommon::CMD5::Digest(piece.data(), piece.size(), reinterpret_cast<std::uint8_t*>(w));
    return std::to_string(w[0]) + " " + std::to_string(w[1]) + " " + std::to_string(w[2]) + " " +
           std::to_string(w[3]) + "\n\n";
  };
  const std::string line = "http://www.Sample.test/a";
  EXPECT_EQ(zztest::ReadBytes(dir / "build.log"),
            "u\n" + line + "\nsample.test/a\n" + words("sample.test/a") +
            "sd\n" + line + "\nsample.test\n" + words("sample.test") +
            "d\n" + line + "\nsample.test\n" + words("sample.test") +
            "errorconv\n\n\n");
  EXPECT_EQ(Counts(built), (std::vector<std::uint64_t>{1, 1, 1}));
}

// A line is read in pieces of at most 500 characters: 600 characters give two URLs.
TEST_F(CategoryDBTest, LongLinesAndBuildFailures) {
  const std::string first = "a.test/" + std::string(493, 'x');
  zztest::WriteBytes(dir / "list.txt", first + "b.test/" + std::string(93, 'y'));
  ASSERT_EQ(Build("list"), 0);
  EXPECT_EQ(built.HasURL(first.c_str(), 500), 1);
  EXPECT_EQ(Counts(built), (std::vector<std::uint64_t>{2, 2, 2}));
  // A log that cannot be created is traced; the data file is still written. (A text or data
  // file that cannot be opened: the categories command test.)
  zztest::TraceCapture trace;
  fs::remove(dir / "list.dat");
  EXPECT_EQ(Build("list", Path("no/such/folder/build.log").c_str()), 0);
  EXPECT_TRUE(fs::exists(dir / "list.dat"));
  EXPECT_EQ(trace.Count("-[URLDB2 Engine] Error on creating the log file.\n"), 1);
}

TEST_F(CategoryDBTest, LoadUnderAllocationFailureIsAllOrNothing) {
  // The database holds one inserted domain key, and either nothing else (the load's address
  // and subdomain keys then keep their blocks as read) or 50 sites loaded from a file (sets
  // in the sorted form, which the load turns into hash tables).
  std::string text, first;
  for (int i = 0; i < 300; ++i) text += "site" + std::to_string(i) + ".test/p\n";
  for (int i = 0; i < 50; ++i) first += "first" + std::to_string(i) + ".test/p\n";
  zztest::WriteBytes(dir / "list.txt", text);
  zztest::WriteBytes(dir / "first.txt", first);
  ASSERT_EQ(Build("list"), 0);
  CURLCategoryDB firstBuilder;
  ASSERT_EQ(firstBuilder.BuildFromText(Path("first.txt").c_str(), Path("first.dat").c_str(),
                                       nullptr, dir.Wide().c_str()),
            0);
  for (const std::uint64_t held : {0, 50}) {
    const auto prepare = [&](CURLCategoryDB& db) {
      ASSERT_EQ(db.AddKey(ECategoryPiece::kDomain, 42), 0);
      if (held != 0) {
        ASSERT_EQ(Load(db, "first.dat"), 0);
      }
    };
    // Every allocation of the load fails once in turn (some are only trace buffers, whose
    // failure the load survives).
    std::uint64_t allocations = 0;
    {
      CURLCategoryDB db;
      prepare(db);
      const std::uint64_t start = asfn_allocation_count();
      ASSERT_EQ(Load(db, "list.dat"), 0);
      allocations = asfn_allocation_count() - start;
    }
    const std::int64_t before = asfn_live_blocks();
    int failed = 0;
    for (std::uint64_t n = 1; n <= allocations; ++n) {
      std::int32_t status = 0;
      std::vector<std::uint64_t> counts;
      {
        CURLCategoryDB db;
        prepare(db);
        asfn_fail_at(n, ASFN_FAIL_ONCE);
        try {
          status = Load(db, "list.dat");
        } catch (const std::exception&) {
          status = 1;
        }
        asfn_fail_at(0, ASFN_FAIL_OFF);
        counts = Counts(db);
      }
      ASSERT_EQ(asfn_live_blocks(), before) << "failure at allocation " << n;
      failed += status != 0;
      EXPECT_TRUE(status == 0 || status == -2 || status == 1) << status;
      const std::uint64_t keys = status == 0 ? 300 + held : held;
      EXPECT_EQ(counts, (std::vector<std::uint64_t>{keys, keys, keys + 1})) << held << " " << n;
    }
    EXPECT_GT(failed, 5) << held;
  }
}

}  // namespace
