// The URL database: site keys, site and exact lookups, list files written and loaded (a load
// adds to what is held), allocation failures, and the database and its
// key set against simple references.
#include "engines/urldb/urldb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "asfn/asfn.h"
#include "engines/urldb/keyset.h"
#include "list_files.h"

namespace {

using ascommon::CURL;
using ascommon::CURLDB;
using ascommon::sstring;
using Keys = std::vector<std::string>;

// The site key of a URL, or its status.
std::string KeyOf(const CURLDB& db, const std::string& url) {
  sstring key;
  const std::int32_t status = db.GetKey(sstring(url.c_str()), key);
  return status == 0 ? std::string(key.c_str(), key.length()) : std::to_string(status);
}

Keys KeysOf(const CURLDB& db) {
  Keys keys;
  EXPECT_EQ(db.VisitKeysInOrder([&](const char* p, std::size_t n) { keys.emplace_back(p, n); }), 0);
  return keys;
}

void Add(CURLDB& db, const std::string& key) {
  auto* item = new CURL();
  ASSERT_EQ(item->SetKey(key.data(), key.size()), 0);
  ASSERT_EQ(db.ApplyItem(ascommon::kURLDBOpAdd, item), 0);
}

class URLDBTest : public ::testing::Test {
 protected:
  std::int32_t Load(CURLDB& target, const std::string& main, const std::string& update = "-") {
    return target.Load(zztest::Wide(dir / main).c_str(), zztest::Wide(dir / update).c_str(),
                       dir.Wide().c_str());
  }
  std::int32_t Unload(const CURLDB& source, const std::string& name) {
    return source.UnloadURLsToFile(zztest::Wide(dir / name).c_str(), dir.Wide().c_str());
  }

  zztest::ScratchDir dir;
  CURLDB db;
};

TEST_F(URLDBTest, SiteKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://a.b.c.d.sample.test/p?q#f", "sample.test"},
      {"https://news.sample.co.uk:8080/", "sample.co.uk"},  // .co.uk is a double extension
      {"WwW.Test/x", "Test"},  // "www." in any case; no lower-casing
      {"http://user@10.1.2.3:81/x", "10.1.2.3"},
      {"1.2.3", "2.3"},  // two dots: not IPv4, the domain rule applies
      {"*.ads.sample.test//tracker.other.test/x", "other.test"},
      {"go.test/?u=http://www.target.test/", "target.test"},  // a scheme anywhere counts
      {"http://a.test/https://b.test/", "b.test"},  // "https://" first, then "http://" after it
      {"p:http:/x.test:http://y.test", "y.test"},  // colons that start no scheme are passed
      {"http://long-user-name@v@w.test:1/x", "v@w.test"},  // the first "@" ends the user part
      {"ftp://files.sample.test/", "ftp"},  // only http(s) is stripped; ":" ends the host
      {"", "-450"}, {"http://", "-450"}, {"user@/x", "-450"}, {":8080", "-450"}, {"*x//", "-450"},
      {"www.", "-450"}, {"WWW.www.a.b.test", "b.test"}, {"www.1.2.3.4", "1.2.3.4"},
  };
  for (const auto& [url, key] : cases) EXPECT_EQ(KeyOf(db, url), key) << '"' << url << '"';
  // A text without ':' or '*' (read without looking for schemes, wildcards or ports) has
  // the key of the same text behind "http://".
  std::mt19937 random(5);
  const char* const labels[] = {"www", "a", "1", "co", "uk", "sample", "abcdefghijklmno", ""};
  const char* const tails[] = {"", "/", "/x.y.z", "?a.b.c", "@h.co.uk/p", "/p@q.r.s"};
  for (int i = 0; i < 5000; ++i) {
    std::string host = labels[random() % 8];
    for (std::size_t n = random() % 6; n > 0; --n) host += std::string(".") + labels[random() % 8];
    const std::string text = host + tails[random() % 6];
    ASSERT_EQ(KeyOf(db, text), KeyOf(db, "http://" + text)) << '"' << text << '"';
  }
  // A list of one entry holds an entry that is not its own site key exactly when the
  // entry's site key differs from it (lengths around 16, a stop in the last 16 characters).
  std::vector<std::string> entries = {"a.co.uk", "a.b.test", "1.2.3.4", "1.2.3", "www.x.test",
                                      "x.test:80", "abcdefghijkl.com", "abcdefghijklm.co.uk",
                                      "abcdefghijklmnopqrstu.x.test", std::string(40, 'a') + "/",
                                      std::string(31, 'b') + ".test", "a.b.c.co.uk"};
  for (const auto& [url, key] : cases) entries.emplace_back(url);
  for (const std::string& entry : entries) {
    CURLDB one;
    Add(one, entry);
    EXPECT_EQ(one.HoldsOtherEntries(), KeyOf(one, entry) != entry) << '"' << entry << '"';
  }
  Add(db, "a.sample.test");  // the one entry that is not its own site key
  EXPECT_TRUE(db.HasOtherEntry(CURLDB::MakeProbe("a.sample.test", 13)));
  CURLDB paths;  // its one such entry has a single dot (and a path)
  Add(paths, "sample.test/p");
  EXPECT_TRUE(paths.HasOtherEntry(CURLDB::MakeProbe("sample.test/p", 13)));
}

// A load adds the file's records to what the database holds; the first bad record stops it
// and what came before stays.
TEST_F(URLDBTest, LoadAddsToWhatIsHeld) {
  const std::string good = zztest::AddRecords({"a.test", "b.test"});
  const struct {
    const char* name;
    std::string payload;
    std::int32_t result;
  } cases[] = {
      {"header only", "", 0},
      {"skip records and duplicates", zztest::Record(0xFFFFFFFF, "x.test") + good + good, 0},
      {"impossible length", good + zztest::LittleEndian32(1) + zztest::LittleEndian32(~0u), -3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CURLDB list;
    Add(list, "old.test");
    zztest::WriteListFile(dir / "list.cas", c.payload);
    EXPECT_EQ(Load(list, "list.cas"), c.result);
    EXPECT_EQ(KeysOf(list), c.payload.empty() ? Keys{"old.test"}
                                              : Keys({"a.test", "b.test", "old.test"}));
  }
}

// Every allocation of construction, load and unload failing in turn: no crash, no leak (a
// skipped item is destroyed too), the load reports -3 or -10, or 0 (a failed CreateItem
// ends the load quietly), and the count is that of the keys held. Both files: one in any
// order, one in hash order as the database writes it (the load appends it).
TEST_F(URLDBTest, SurvivesEveryAllocationFailure) {
  zztest::WriteListFile(dir / "list.cas", zztest::AddRecords({"a.test", "b.test"}) +
                                              zztest::Record(0xFFFFFFFF, "x.test") +
                                              zztest::AddRecords({"c.test"}));
  {
    CURLDB ordered;
    for (int i = 0; i < 50; ++i) Add(ordered, "site" + std::to_string(i) + ".test");
    ASSERT_EQ(Unload(ordered, "ordered.cas"), 0);
  }
  const std::int64_t blocks = asfn_live_blocks();
  auto round = [&] {
    for (const char* file : {"list.cas", "ordered.cas"}) {
      try {
        CURLDB list;
        const std::int32_t status = Load(list, file);
        EXPECT_TRUE(status == 0 || status == -3 || status == -10) << status;
        std::uint32_t visited = 0;
        if (list.VisitKeysInOrder([&](const char*, std::size_t) { ++visited; }) == 0) {
          EXPECT_EQ(visited, list.GetCount()) << file;
        }
        Unload(list, "copy.cas");
      } catch (const ASMemException&) {  // the suffix table could not be built
      }
    }
  };
  std::uint64_t allocations = asfn_allocation_count();
  round();
  allocations = asfn_allocation_count() - allocations;
  ASSERT_EQ(asfn_live_blocks(), blocks);
  for (std::uint64_t n = 1; n <= allocations; ++n) {
    asfn_fail_at(n, ASFN_FAIL_ONCE);
    round();
    asfn_fail_at(0, ASFN_FAIL_OFF);
    ASSERT_EQ(asfn_live_blocks(), blocks) << "allocation " << n;
  }
}

// The database against a vector scanned linearly, with site keys taken through GetKey; then
// unloaded to a file and loaded back.
TEST_F(URLDBTest, MatchesLinearScanReference) {
  std::mt19937 random(12345);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  const char* const labels[] = {"a", "shop", "news", "co", "sample", "x1", "www", "10", "7"};
  const char* const tlds[] = {"test", "uk", "com", "co.uk", "com.au", "org"};
  auto host = [&] {
    std::string text;
    for (std::size_t i = 0, n = 1 + pick(3); i < n; ++i) text += std::string(labels[pick(9)]) + ".";
    return text + tlds[pick(6)];
  };
  Keys reference;
  for (int i = 0; i < 300; ++i) {
    // Mostly site keys, some whole addresses (entries that are not their own site key).
    const std::string key = pick(10) == 0 ? host() + "/p" : KeyOf(db, host());
    if (std::find(reference.begin(), reference.end(), key) == reference.end()) reference.push_back(key);
    Add(db, key);
  }
  const auto listed = [&](const std::string& t) {
    return std::find(reference.begin(), reference.end(), t) != reference.end();
  };
  const char* const prefixes[] = {"", "http://", "https://www.", "http://u:p@", "WWW."};
  for (int i = 0; i < 5000; ++i) {
    std::string url = prefixes[pick(5)] + host();
    if (pick(2) != 0) url += ":8080";
    if (pick(2) != 0) url += "/p";
    EXPECT_EQ(db.IsListed(sstring(url.c_str())), listed(KeyOf(db, url))) << url;
    const std::string text = pick(2) != 0 ? KeyOf(db, url) : url;
    EXPECT_EQ(db.HasEntry(sstring(text.c_str())), listed(text)) << text;
    if (KeyOf(db, text) == text) continue;
    EXPECT_EQ(db.HasOtherEntry(CURLDB::MakeProbe(text.data(), text.size())), listed(text)) << text;
  }
  std::sort(reference.begin(), reference.end());
  EXPECT_EQ(KeysOf(db), reference);
  // Unloaded and loaded back whole (a key longer than 255 bytes, which a load in hash
  // order cannot append: it and the keys after it are inserted), answering every lookup;
  // the copy, built another way, unloads to the same bytes.
  Add(db, std::string(300, 'z') + ".test");
  reference.push_back(std::string(300, 'z') + ".test");
  std::sort(reference.begin(), reference.end());
  ASSERT_EQ(Unload(db, "list.cas"), 0);
  CURLDB copy;
  for (int reload = 0; reload < 2; ++reload) {  // a reload adds nothing new
    ASSERT_EQ(Load(copy, "list.cas"), 0);
    EXPECT_EQ(KeysOf(copy), reference);
  }
  for (const std::string& key : reference) EXPECT_TRUE(copy.HasEntry(sstring(key.c_str()))) << key;
  EXPECT_FALSE(copy.HasEntry(sstring("absent.test")));
  ASSERT_EQ(Unload(copy, "copy.cas"), 0);
  EXPECT_EQ(zztest::Payload(dir / "copy.cas"), zztest::Payload(dir / "list.cas"));
}

// The key set alone: random inserts and removals against std::set, keys in each packed form
// and raw (a character outside the alphabets, longer keys, a 4-byte length), with partition
// splits, tails sorted in (Compact) and megabyte keys.
TEST(KeySetTest, MatchesSetReference) {
  const std::int64_t blocks = asfn_live_blocks();
  {
    ascommon::CKeySet set;
    std::set<std::string> reference;
    std::mt19937 random(99);
    auto key = [&] {
      // The limits of each form: raw 61 bytes, 6-bit 64 characters, 128 host symbols.
      const std::size_t sizes[] = {0, 1, 61, 62, 64, 65, 128, 129, 300, (1u << 20) + 10};
      std::size_t n =
          random() % 8 == 0 ? sizes[random() % 10] : random() % (random() % 4 == 0 ? 70 : 20);
      if (n > 1000 && random() % 50 != 0) n = 5;  // few megabyte keys
      std::string text(n, 'a');
      // Mostly host characters (".com" among them, the ends of their ranges), some next to
      // those ranges that are 6-bit ('/', '{', '~') or raw ('A', '`').
      for (char& c : text) c = ".com-_z90~A/`{"[random() % (random() % 16 == 0 ? 14 : 9)];
      return text;
    };
    for (int i = 0; i < 20000; ++i) {
      const std::string k = key();
      if (random() % 3 == 0) {
        EXPECT_EQ(set.Remove(k.data(), k.size()), reference.erase(k) == 1);
      } else {
        EXPECT_EQ(set.Insert(k.data(), k.size()), reference.insert(k).second ? 0 : 1);
      }
      const std::string probe = key();
      ASSERT_EQ(set.Contains(probe.data(), probe.size()), reference.count(probe) == 1) << i;
      if (i % 7000 == 0) set.Compact();
    }
    EXPECT_EQ(set.GetCount(), reference.size());
    Keys sorted;
    set.ForEachSorted([&](const char* p, std::size_t n) { sorted.emplace_back(p, n); });
    EXPECT_EQ(sorted, Keys(reference.begin(), reference.end()));
  }
  EXPECT_EQ(asfn_live_blocks(), blocks);
}

// Keys appended in hash order (as a list file is written) make the same set as inserted
// ones: duplicates refused, every lookup answered, the same hash-order visit. A key out of
// order ends the appending and is inserted instead, with the keys after it. Partitions
// carved from an arena chunk survive growing, removals and splits.
TEST(KeySetTest, AppendedInHashOrder) {
  const std::int64_t blocks = asfn_live_blocks();
  {
    using ascommon::CKeySet;
    CKeySet inserted;
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {  // host, 6-bit and raw forms
      const char* const endings[] = {".com", "/", "A~"};
      const std::string key = std::to_string(random()) + endings[i % 3];
      inserted.Insert(key.data(), key.size());
    }
    Keys ordered;
    const auto collect = [](Keys& keys) {
      return [&keys](const char* p, std::size_t n) { keys.emplace_back(p, n); };
    };
    ASSERT_EQ(inserted.ForEachInHashOrder([] {}, collect(ordered)), 0);
    ASSERT_EQ(ordered.size(), inserted.GetCount());
    const std::uint64_t kArenaBytes = ascommon::CBlockArena::kMinChunkBytes;
    for (const auto& [stop, recordBytes] :
         {std::pair{ordered.size(), std::uint64_t{0}}, std::pair{ordered.size() / 2, kArenaBytes},
          std::pair{ordered.size(), kArenaBytes}}) {
      SCOPED_TRACE(stop);
      CKeySet appended;
      const std::int64_t before = asfn_live_blocks();
      {
        CKeySet::Appender appender(appended, static_cast<std::uint32_t>(ordered.size()),
                                   recordBytes);
        ASSERT_TRUE(appender.Active());
        for (std::size_t i = 0; i < stop; ++i) {
          const CKeySet::Probe probe = CKeySet::MakeProbe(ordered[i].data(), ordered[i].size());
          ASSERT_EQ(appender.Append(probe), 0) << i;
          if (i % 10 == 0) {
            ASSERT_EQ(appender.Append(probe), 1) << i;
          }
        }
        if (stop != ordered.size()) {  // the first key again: out of order
          ASSERT_EQ(appender.Append(CKeySet::MakeProbe(ordered[0].data(), ordered[0].size())),
                    CKeySet::Appender::kNotInOrder);
          EXPECT_FALSE(appender.Active());
          for (std::size_t i = stop; i < ordered.size(); ++i) {
            ASSERT_EQ(appended.Insert(ordered[i].data(), ordered[i].size()), 0) << i;
          }
        }
      }
      EXPECT_EQ(appended.GetCount(), ordered.size());
      if (recordBytes != 0 && stop == ordered.size()) {  // partitions array and chunk
        EXPECT_EQ(asfn_live_blocks() - before, 2);
      }
      for (const std::string& key : ordered) ASSERT_TRUE(appended.Contains(key.data(), key.size()));
      for (int i = 0; i < 2000; ++i) {
        const std::string absent = std::to_string(random()) + "x.com";
        ASSERT_EQ(appended.Contains(absent.data(), absent.size()),
                  inserted.Contains(absent.data(), absent.size()));
      }
      Keys again;
      ASSERT_EQ(appended.ForEachInHashOrder([] {}, collect(again)), 0);
      EXPECT_EQ(again, ordered);
      if (recordBytes == 0) continue;
      // Every partition grows out of its block, then the set splits.
      for (int i = 0; i < 20000; ++i) {
        const std::string key = std::to_string(i) + ".more";
        ASSERT_EQ(appended.Insert(key.data(), key.size()), 0) << i;
      }
      for (std::size_t i = 0; i < ordered.size(); i += 2) {
        ASSERT_TRUE(appended.Remove(ordered[i].data(), ordered[i].size())) << i;
      }
      ASSERT_EQ(appended.Reserve(1000000), 0);
      for (std::size_t i = 0; i < ordered.size(); ++i) {
        ASSERT_EQ(appended.Contains(ordered[i].data(), ordered[i].size()), i % 2 != 0) << i;
      }
      EXPECT_TRUE(appended.Contains("19999.more", 10));
    }
    CKeySet held;  // a set that is not empty takes no appending
    ASSERT_EQ(held.Insert("a.test", 6), 0);
    EXPECT_FALSE(CKeySet::Appender(held, 10).Active());
    // Partitions without a key (a set reserved for more) are passed over.
    ASSERT_EQ(held.Reserve(100000), 0);
    Keys few;
    ASSERT_EQ(held.ForEachInHashOrder([] {}, collect(few)), 0);
    EXPECT_EQ(few, Keys{"a.test"});
  }
  EXPECT_EQ(asfn_live_blocks(), blocks);
}

// The key hash is part of the list file's order: it must stay the function it is (8-byte
// little-endian words, the last zero-extended), whatever loads read the tail.
TEST(KeySetTest, KeyHashIsStable) {
  const auto mulFold = [](std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(p) ^ static_cast<std::uint64_t>(p >> 64);
  };
  const auto reference = [&](const char* p, std::size_t n) {
    std::uint64_t h = 0x243F6A8885A308D3ull ^ n;
    for (std::size_t at = 0; at < n; at += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, p + at, std::min<std::size_t>(8, n - at));
      h = mulFold(h ^ word, n - at >= 8 ? 0x9E3779B97F4A7C15ull : 0xBF58476D1CE4E5B9ull);
    }
    h = mulFold(h, 0x94D049BB133111EBull);
    return static_cast<std::uint32_t>(h) ^ static_cast<std::uint32_t>(h >> 32);
  };
  char bytes[48];
  for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<char>(i * 37 + 11);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t n = 0; n <= 40; ++n) {
      ASSERT_EQ(ascommon::HashKeyBytes(bytes + offset, n), reference(bytes + offset, n)) << n;
    }
  }
}

// A load's plan of the bytes per bucket (Plan) only saves moves: planned too little, too
// much or nothing, around a held key and with duplicates, the set holds the same keys, visits
// them before the room left over is closed (Compact) and after. Records of 87 bytes fill a
// partition's 64 KB before its key count splits it.
TEST(KeySetTest, AnyPlanGivesTheSameKeys) {
  // 4 partitions of 128 buckets around a held key; and 1,024 partitions planned into an
  // empty set, which carves them from an arena chunk.
  struct Case {
    std::uint16_t perBucket;
    unsigned binBits;
    std::uint32_t keys;
  };
  for (const Case c : {Case{0, 9, 3000}, Case{1, 9, 3000}, Case{12, 9, 3000},
                       Case{200, 9, 3000}, Case{40, 17, 400000}}) {
    SCOPED_TRACE(c.perBucket);
    ascommon::CKeySet set;
    std::set<std::string> reference;
    if (c.binBits == 9) {
      reference.insert("held.test");
      ASSERT_EQ(set.Insert("held.test", 9), 0);
    }
    std::vector<std::uint16_t> bins(std::size_t{1} << c.binBits, c.perBucket);
    ASSERT_EQ(set.Plan({bins.data(), c.binBits, c.keys}), 0);
    if (c.binBits == 9) {
      EXPECT_EQ(set.Insert("held.test", 9), 1);
    }
    for (int i = 0; i < 3000; ++i) {
      const std::string key = (i % 3 != 0 ? "k" : "k.com-") + std::to_string(i * 7919 % 2500);
      EXPECT_EQ(set.Insert(key.data(), key.size()), reference.insert(key).second ? 0 : 1);
    }
    for (int compacted = 0; compacted < 2; ++compacted, set.Compact()) {
      Keys sorted, visited;
      set.ForEachSorted([&](const char* p, std::size_t n) { sorted.emplace_back(p, n); });
      set.ForEach([&](const char* p, std::size_t n) { visited.emplace_back(p, n); });
      EXPECT_EQ(sorted, Keys(reference.begin(), reference.end()));
      EXPECT_EQ(visited.size(), reference.size());
    }
  }
  const std::int64_t blocks = asfn_live_blocks();
  {
    ascommon::CKeySet set;
    auto host = [](int i) { return std::string(124, 'x') + std::to_string(i); };
    auto raw = [](int i) { return std::string(70, 'X') + std::to_string(i); };  // out of line
    for (int i = 0; i < 1000; ++i) {
      ASSERT_EQ(set.Insert(host(i).data(), host(i).size()), 0) << i;
      ASSERT_EQ(set.Insert(raw(i).data(), raw(i).size()), 0) << i;
      if (i % 2 != 0) {
        ASSERT_TRUE(set.Remove(raw(i).data(), raw(i).size())) << i;
      }
    }
    for (int i = 0; i < 1000; ++i) {
      ASSERT_TRUE(set.Contains(host(i).data(), host(i).size())) << i;
      ASSERT_EQ(set.Contains(raw(i).data(), raw(i).size()), i % 2 == 0) << i;
    }
  }
  EXPECT_EQ(asfn_live_blocks(), blocks);
}

}  // namespace
