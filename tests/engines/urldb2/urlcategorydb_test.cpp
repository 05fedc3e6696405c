// The category database on real files: BuildFromText then LoadFile against a reference made
// of std::set's of hex digests, the build log, a file that is refused, LoadFiles, and
// loading under allocation failure.
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
  void WriteText(const std::string& name, const std::string& text) {
    zztest::WriteBytes(dir / name, text);
  }
  // Builds name.dat from name.txt; the database that built it stays in built.
  std::int32_t Build(const std::string& name, const char16_t* log = nullptr) {
    return built.BuildFromText(Path(name + ".txt").c_str(), Path(name + ".dat").c_str(), log,
                               dir.Wide().c_str());
  }
  // A category file with this payload (written through the streamer, so digest and
  // scrambling are right).
  void WriteRaw(const std::string& name, const std::string& payload) {
    zztest::WriteListFile(dir / name, payload);
  }
  std::int32_t Load(CURLCategoryDB& db, const std::string& name) {
    return db.LoadFile(Path(name).c_str(), dir.Wide().c_str());
  }
  std::u16string Path(const std::string& name) const { return zztest::Wide(dir / name); }

  static std::string Words(std::initializer_list<std::uint32_t> words) {
    std::string bytes;
    for (std::uint32_t word : words) bytes += zztest::LittleEndian32(word);
    return bytes;
  }
  static std::vector<std::uint64_t> Counts(const CURLCategoryDB& db) {
    return {db.GetCount(ECategoryPiece::kAddress), db.GetCount(ECategoryPiece::kSubdomain),
            db.GetCount(ECategoryPiece::kDomain)};
  }

  zztest::ScratchDir dir;
  CURLCategoryDB built;
};

TEST_F(CategoryDBTest, BuildThenLoadAgreesWithHexDigestReference) {
  const std::vector<std::string> lines = {
      "sample.test",
      "http://www.Shop.Sample.test/Deals/?id=4#top",
      "https://news.sample.co.uk:8080/x",
      "http://user@198.51.100.7/login",
      "# a comment line: its path piece is empty, so it lists nothing",
      "",
      "http://www.",
      "http://sample.test/a/b/",  // same domain as the first line: one domain key
  };
  std::string text;
  Reference reference;
  for (const std::string& line : lines) {
    text += line + "\r\n";
    reference.Add(line);
  }
  WriteText("list.txt", text);
  ASSERT_EQ(Build("list"), 0);
  CURLCategoryDB loaded;
  ASSERT_EQ(Load(loaded, "list.dat"), 0);
  for (const CURLCategoryDB* db : {&built, &loaded}) {
    EXPECT_EQ(Counts(*db), (std::vector<std::uint64_t>{reference.pieces[0].size(),
                                                       reference.pieces[1].size(),
                                                       reference.pieces[2].size()}));
  }

  const std::vector<std::string> probes = {
      "http://www.sample.test/other", "http://deep.sub.sample.test/", "HTTP://SHOP.SAMPLE.TEST/deals",
      "http://shop.sample.test/Deals", "news.sample.co.uk:8080/x", "https://news.sample.co.uk/x",
      "http://198.51.100.7/", "http://unlisted.example/", "ftp://sample.test/", "http://sample.test/a/b",
  };
  for (const std::string& url : probes) {
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
      const int expected =
          texts[p] == nullptr ? -1
                              : static_cast<int>(reference.pieces[p].count(
                                    Reference::HexKey(texts[p], lengths[p])));
      EXPECT_EQ(answers[p], expected) << url << " piece " << p;
      EXPECT_EQ(results[p], expected == 1 ? 1 : 0) << url << " piece " << p;
    }
  }
}

TEST_F(CategoryDBTest, LogListsEveryKeyAndEveryLineThatDoesNotParse) {
  WriteText("list.txt", "http://www.Sample.test/a\n\n");
  ASSERT_EQ(Build("list", Path("build.log").c_str()), 0);
  const auto words = [](const std::string& piece) {
    std::uint8_t digest[16];
    ascommon::CMD5::Digest(piece.data(), piece.size(), digest);
    std::uint32_t w[4];
    std::memcpy(w, digest, sizeof w);
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
  WriteText("list.txt", "a.test/" + std::string(493, 'x') + "b.test/" + std::string(93, 'y'));
  ASSERT_EQ(Build("list"), 0);
  EXPECT_EQ(built.HasURL(("a.test/" + std::string(493, 'x')).c_str(), 500), 1);
  EXPECT_EQ(Counts(built), (std::vector<std::uint64_t>{2, 2, 2}));
  zztest::TraceCapture trace;
  EXPECT_EQ(Build("missing"), ascommon::kCategoryTextNotOpened);
  EXPECT_EQ(trace.Count("-[URLDB2 Engine] Error on opening the file for training.\n"), 1);
  // A log that cannot be created is traced; the data file is still written.
  EXPECT_EQ(Build("list", Path("no/such/folder/build.log").c_str()), 0);
  EXPECT_EQ(trace.Count("-[URLDB2 Engine] Error on creating the log file.\n"), 1);
  EXPECT_THROW(built.BuildFromText(Path("list.txt").c_str(), Path("no/such/x.dat").c_str(),
                                   nullptr, dir.Wide().c_str()),
               ASException);
}

// A file of another key size is refused with -9 and leaves the sets as they were (damaged
// files are the corrupt-data test's); LoadFiles succeeds when any file loads.
TEST_F(CategoryDBTest, RefusedFilesAndLoadFiles) {
  WriteText("one.txt", "one.test\n");
  ASSERT_EQ(Build("one"), 0);
  WriteRaw("wide.dat", Words({4, 1, 0, 0}) + std::string(8, 'k'));
  CURLCategoryDB db;
  ASSERT_EQ(Load(db, "one.dat"), 0);
  zztest::TraceCapture trace;
  EXPECT_EQ(Load(db, "wide.dat"), -9);
  EXPECT_EQ(trace.Count("-[URLDB2 Engine] The data file was created using another number of md5 "
                        "bytes!\n"), 1);
  EXPECT_EQ(Counts(db), (std::vector<std::uint64_t>{1, 1, 1}));
  for (const auto& [names, status] : {std::pair<std::vector<std::string>, std::int32_t>{{}, -12},
                                      {{"missing.dat", "wide.dat"}, -12},
                                      {{"missing.dat", "one.dat"}, 0}}) {
    CURLCategoryDB fresh;
    ascommon::CArray<ascommon::usstring> paths;
    for (const std::string& name : names) paths.Add(ascommon::usstring(Path(name).c_str()));
    EXPECT_EQ(fresh.LoadFiles(paths, dir.Wide().c_str()), status);
    EXPECT_EQ(fresh.HasDomain("one.test", 8), status == 0 ? 1 : 0);
  }
}

TEST_F(CategoryDBTest, LoadUnderAllocationFailureIsAllOrNothing) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "site" + std::to_string(i) + ".test/p\n";
  WriteText("list.txt", text);
  ASSERT_EQ(Build("list"), 0);
  const std::int64_t before = asfn_live_blocks();
  for (std::uint64_t n = 1;; ++n) {
    std::int32_t status = 0;
    std::vector<std::uint64_t> counts;
    {
      CURLCategoryDB db;
      ASSERT_EQ(db.AddKey(ECategoryPiece::kDomain, 42), 0);
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
    if (status == 0) {
      EXPECT_EQ(counts, (std::vector<std::uint64_t>{300, 300, 301}));
      break;  // the failure point lies beyond the load
    }
    EXPECT_TRUE(status == -2 || status == 1) << status;
    EXPECT_EQ(counts, (std::vector<std::uint64_t>{0, 0, 1})) << "failure at allocation " << n;
  }
}

}  // namespace
