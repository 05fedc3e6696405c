// Damaged data files as an interrupted updater leaves them: every truncation and a sample of
// single-bit flips of a list file, a category file and a dictionary, loaded by their
// filters through the module. Each gives the filter's error or a valid reading of the file,
// nothing half-loaded is ever used, what was in service before stays in service where the
// filter keeps it, and the good file, once back, is loaded again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sample_filters.h"

namespace {

namespace fs = std::filesystem;

std::string Truncated(const std::string& bytes, std::size_t size) { return bytes.substr(0, size); }
std::string Flipped(std::string bytes, std::size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ (1u << (at % 8)));
  return bytes;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A list file that fails to load raises with the loader's status; the lists in service stay
// as they were (a failed black list also leaves the white list untouched).
TEST(CorruptDataFilesTest, ListFilesKeepThePreviousListsInService) {
  zztest::SampleFilters sample({zztest::kBWListFilter});
  const std::vector<std::string> reference = sample.Verdicts();
  for (const auto& [file, message] :
       {std::pair<const char*, const char*>{"prlblk.cas", "no blacklist?"},
        {"prlwht.cas", "no whitelist?"}}) {
    const fs::path path = sample.DataDir() / file;
    const std::string good = zztest::ReadBytes(path);
    for (std::size_t i = 0; i < 2 * good.size(); ++i) {
      const bool truncation = i < good.size();
      zztest::WriteBytes(path, truncation ? Truncated(good, i) : Flipped(good, i - good.size()));
      const std::string error = sample.Reload(0);
      if (truncation || !error.empty()) {
        ASSERT_TRUE(Contains(error, "[Parental BW List] Problems loading the URLs, ") &&
                    Contains(error, message))
            << file << " variant " << i << ": " << error;
      }
      ASSERT_EQ(sample.Verdicts(), reference) << file << " variant " << i;
    }
    zztest::WriteBytes(path, good);
    ASSERT_EQ(sample.Reload(0), "");
  }
}

// A category file that fails to load is left out whole (the other lists serve) and is tried
// again on the next reload; a list once loaded is never reloaded, so damage to its file
// later changes nothing.
TEST(CorruptDataFilesTest, CategoryFilesAreUsedWholeOrNotAtAll) {
  const char* const kFile = "pc_gambling.dat";
  std::string good;
  const std::vector<std::string> reference =
      zztest::SampleFilters({zztest::kAdvancedFilter}, [&](const fs::path& data) {
        good = zztest::ReadBytes(data / kFile);
      }).Verdicts();
  const std::vector<std::string> withoutGambling =
      zztest::SampleFilters({zztest::kAdvancedFilter}, [&](const fs::path& data) {
        fs::remove(data / kFile);
      }).Verdicts();
  ASSERT_NE(reference, withoutGambling);

  for (std::size_t i = 0; i < good.size() + good.size() / 2; ++i) {
    const bool truncation = i < good.size();
    const std::string damaged =
        truncation ? Truncated(good, i) : Flipped(good, 2 * (i - good.size()));
    zztest::SampleFilters sample(
        {zztest::kAdvancedFilter},
        [&](const fs::path& data) { zztest::WriteBytes(data / kFile, damaged); }, "0");
    const std::vector<std::string> verdicts = sample.Verdicts();
    const bool refused = Contains(
        sample.TraceLog(),
        "[Parental BW List Advanced] Problems loading the Gambling URLs, no blacklist?");
    if (truncation) {
      ASSERT_TRUE(refused) << "variant " << i;
    }
    ASSERT_EQ(verdicts, refused ? withoutGambling : reference) << "variant " << i;
    zztest::WriteBytes(sample.DataDir() / kFile, good);
    ASSERT_EQ(sample.Reload(0), "");
    ASSERT_EQ(sample.Verdicts(), reference) << "variant " << i << " retried";
    zztest::WriteBytes(sample.DataDir() / kFile, damaged);
    ASSERT_EQ(sample.Reload(0), "");
    ASSERT_EQ(sample.Verdicts(), reference) << "variant " << i << " after loading";
  }
}

// Offsets at which a dictionary file ends a section a reader may stop at: after the totals
// and after each word record.
std::vector<std::size_t> RecordEnds(const std::string& bytes) {
  const auto u32 = [&](std::size_t at) {
    std::uint32_t value = 0;
    for (int b = 3; b >= 0; --b) value = value << 8 | static_cast<unsigned char>(bytes[at + b]);
    return value;
  };
  const std::size_t categories = u32(4);
  std::size_t at = 8;
  for (std::size_t c = 0; c < categories; ++c) at += 8 + 2 * std::size_t{u32(at + 4)};
  at += 4 * categories;
  std::vector<std::size_t> ends{at};
  while (at < bytes.size()) {
    at += 4 + 2 * std::size_t{u32(at)} + 4 * categories;
    ends.push_back(at);
  }
  return ends;
}

// A dictionary cut inside a record, or anywhere before its words, fails to open: the reload
// raises, the filter answers every page with an error (it has no categories) until a
// readable file arrives, then reads it. A cut at a record
// boundary is a shorter dictionary. Bit flips (the format has no checksum) either fail to open
// or read as other counts; the filter keeps working either way.
TEST(CorruptDataFilesTest, DictionariesOpenWholeOrNotAtAll) {
  const char* const kFailure = "[Parental Bayes] Problems reloading the dictionary";
  std::string small;  // the sample dictionary's first 20 words
  std::vector<std::size_t> ends;
  zztest::SampleFilters sample({zztest::kBayesFilter}, [&](const fs::path& data) {
    const std::string whole = zztest::ReadBytes(data / "pcdic.dat");
    ends = RecordEnds(whole);
    ASSERT_GT(ends.size(), 21u);
    ends.resize(21);
    small = whole.substr(0, ends.back());
    zztest::WriteBytes(data / "pcdic.dat", small);
  });
  const fs::path preferred = sample.DataDir() / "pcdic.dat";
  const fs::path fallback = sample.DataDir() / "bayescsf.dat";
  const std::string empty = zztest::ReadBytes(fallback);
  const std::vector<std::string> reference = sample.Verdicts();
  const auto& traffic = zztest::SampleTraffic();

  for (std::size_t size = 1; size < small.size(); ++size) {
    zztest::WriteBytes(preferred, Truncated(small, size));
    const std::string error = sample.Reload(0);
    const bool boundary = std::find(ends.begin(), ends.end(), size) != ends.end();
    ASSERT_TRUE(boundary ? error.empty() : Contains(error, kFailure)) << size << error;
    const std::vector<std::string> verdicts = sample.Verdicts();
    for (std::size_t t = 0; t < traffic.size() && !boundary; ++t) {
      if (traffic[t].bytes.empty()) continue;  // no page text: nothing to classify
      ASSERT_TRUE(Contains(verdicts[t], "container index out of range (code -301)"))
          << size << verdicts[t];
    }
    zztest::WriteBytes(preferred, small);
    ASSERT_EQ(sample.Reload(0), "") << size;
    ASSERT_EQ(sample.Verdicts(), reference) << size;
  }
  // Same size, so the damaged copy goes to the fallback file (an empty preferred file sends
  // the filter there) to be read at all.
  for (std::size_t at = 0; at < small.size(); at += 3) {
    zztest::WriteBytes(preferred, "");
    zztest::WriteBytes(fallback, Flipped(small, at));
    const std::string error = sample.Reload(0);
    ASSERT_TRUE(error.empty() || Contains(error, kFailure)) << at << error;
    sample.Verdicts();
    zztest::WriteBytes(fallback, empty);
    zztest::WriteBytes(preferred, small);
    ASSERT_EQ(sample.Reload(0), "") << at;
    ASSERT_EQ(sample.Verdicts(), reference) << at;
  }
}

}  // namespace
