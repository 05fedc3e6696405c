// Damaged data files as an interrupted updater leaves them: every truncation and a sample of
// single-bit flips of a list file, a category file and a dictionary, loaded by their
// filters through the module. Each gives the filter's error or a valid reading of the file,
// nothing half-loaded is ever used, what was in service before stays in service where the
// filter keeps it, and the good file, once back, is loaded again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sample_filters.h"

namespace {

struct Damage {
  std::string bytes;
  bool truncated;  // else one bit flipped
  std::size_t at;  // the size kept, or the byte flipped
};

// Every truncation of good to from..size-1 bytes, then a flip of one bit of every step-th byte.
std::vector<Damage> Damaged(const std::string& good, std::size_t from, std::size_t step) {
  std::vector<Damage> all;
  for (std::size_t size = from; size < good.size(); ++size) all.push_back({good.substr(0, size), true, size});
  for (std::size_t at = 0; at < good.size(); at += step) {
    all.push_back({good, false, at});
    all.back().bytes[at] ^= static_cast<char>(1u << (at % 8));
  }
  return all;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A list file that fails to load raises with the loader's status and leaves no block behind;
// the lists in service stay as they were (a failed black list also leaves the white list
// untouched).
TEST(CorruptDataFilesTest, ListFilesKeepThePreviousListsInService) {
  zztest::SampleFilters sample({zztest::kBWListFilter});
  const std::vector<std::string> reference = sample.Verdicts();
  const std::int64_t live = asfn_live_blocks();
  for (const auto& [file, message] :
       {std::pair<const char*, const char*>{"prlblk.cas", "no blacklist?"},
        {"prlwht.cas", "no whitelist?"}}) {
    const std::string good = sample.Read(file);
    for (const Damage& damage : Damaged(good, 0, 1)) {
      sample.Write(file, damage.bytes);
      const std::string error = sample.Reload();
      if (damage.truncated || !error.empty()) {
        ASSERT_TRUE(Contains(error, "[Parental BW List] Problems loading the URLs, ") && Contains(error, message))
            << file << " at " << damage.at << ": " << error;
      }
      ASSERT_EQ(sample.Verdicts(), reference) << file << " at " << damage.at;
      ASSERT_EQ(asfn_live_blocks(), live) << "a failed load left blocks behind: " << file << " at " << damage.at;
    }
    sample.Write(file, good);
    ASSERT_EQ(sample.Reload(), "");
  }
}

// A category file that fails to load is left out whole (the other lists serve) and is tried
// again on the next reload; a list once loaded is never reloaded, so damage to its file
// later changes nothing.
TEST(CorruptDataFilesTest, CategoryFilesAreUsedWholeOrNotAtAll) {
  const char* const kFile = "pc_gambling.dat";
  std::string good;
  const auto withFile = [&](const std::string& bytes) {
    return zztest::SampleFilters({zztest::kAdvancedFilter}, [&](zztest::SampleFilters& sample) {
      good = sample.Read(kFile);
      sample.Write(kFile, bytes);
    });
  };
  const std::vector<std::string> withoutGambling = withFile("").Verdicts();
  const std::vector<std::string> reference = withFile(good).Verdicts();
  ASSERT_NE(reference, withoutGambling);

  for (const Damage& damage : Damaged(good, 0, 2)) {
    zztest::SampleFilters sample = withFile(damage.bytes);
    const std::vector<std::string> verdicts = sample.Verdicts();
    if (damage.truncated || verdicts != reference) {
      ASSERT_EQ(verdicts, withoutGambling) << "at " << damage.at;
    }
    sample.Write(kFile, good);
    ASSERT_EQ(sample.Reload(), "");
    ASSERT_EQ(sample.Verdicts(), reference) << "at " << damage.at << " retried";
    sample.Write(kFile, damage.bytes);
    ASSERT_EQ(sample.Reload(), "");
    ASSERT_EQ(sample.Verdicts(), reference) << "at " << damage.at << " after loading";
  }
}

// Offsets at which a dictionary file ends a section a reader may stop at: after the totals
// and after each word record.
std::vector<std::size_t> RecordEnds(const std::string& bytes) {
  const auto u32 = [&](std::size_t at) {
    std::uint32_t value = 0;
    for (int b = 3; b >= 0; --b) value = value << 8 | static_cast<unsigned char>(bytes[at + b]);
    return std::size_t{value};
  };
  const std::size_t categories = u32(4);
  std::size_t at = 8;
  for (std::size_t c = 0; c < categories; ++c) at += 8 + 2 * u32(at + 4);
  std::vector<std::size_t> ends{at += 4 * categories};
  while (at < bytes.size()) ends.push_back(at += 4 + 2 * u32(at) + 4 * categories);
  return ends;
}

// A dictionary cut inside a record, or anywhere before its words, fails to open: the reload
// raises, the filter answers every page with an error (it has no categories) until a
// readable file arrives, then reads it. A cut at a record boundary is a shorter dictionary.
// Bit flips (the format has no checksum) either fail to open or read as other counts. Each
// damaged copy goes to the fallback file (with "pcdic.dat" empty), so every reload changes
// the file and really reads it.
TEST(CorruptDataFilesTest, DictionariesOpenWholeOrNotAtAll) {
  std::string small;  // the sample dictionary's first 20 words
  std::vector<std::size_t> ends;
  zztest::SampleFilters sample({zztest::kBayesFilter}, [&](zztest::SampleFilters& data) {
    const std::string whole = data.Read("pcdic.dat");
    ends = RecordEnds(whole);
    ASSERT_GT(ends.size(), 21u);
    ends.resize(21);
    small = whole.substr(0, ends.back());
    data.PutDictionary(small, false);
  });
  const std::vector<std::string> reference = sample.Verdicts();
  const auto& traffic = zztest::SampleTraffic();

  for (const Damage& damage : Damaged(small, 1, 3)) {
    sample.PutDictionary(damage.bytes, true);
    const std::string error = sample.Reload();
    const bool boundary = std::find(ends.begin(), ends.end(), damage.at) != ends.end();
    const bool opens = damage.truncated ? boundary : error.empty();
    ASSERT_TRUE(opens ? error.empty() : Contains(error, "[Parental Bayes] Problems reloading"))
        << damage.at << error;
    const std::vector<std::string> verdicts = sample.Verdicts();
    for (std::size_t t = 0; t < traffic.size() && !opens; ++t) {
      if (traffic[t].bytes.empty()) continue;  // no page text: nothing to classify
      ASSERT_TRUE(Contains(verdicts[t], "container index out of range (code -301)")) << damage.at << verdicts[t];
    }
    sample.PutDictionary(small, false);
    ASSERT_EQ(sample.Reload(), "") << damage.at;
    ASSERT_EQ(sample.Verdicts(), reference) << damage.at;
  }
}

}  // namespace
