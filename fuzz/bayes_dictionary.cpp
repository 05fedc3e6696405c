// Fuzz target: CBayesDictionary::Open on any file (the dictionary file is plain, so the
// input is written as it is). Checks: the status is one of Open's; a failed open leaves the
// dictionary closed and empty; an opened one has word and category counts the file's size
// can carry, answers lookups for every category (probabilities within [0, 1] or the
// unknown marker); without categories it closes without rewriting the file, with them one
// more word occurrence writes a copy that reads back with the same totals and word counts.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engines/bayesclassifier/bdictionary.h"
#include "engines/bayesclassifier/bdictionary_format.h"
#include "fuzz_util.h"

namespace nb = nsEngineBayesClassifier;

namespace {

// A word's counts, empty when it is unknown or was never seen (a word read with all-zero
// counts may be left out when the dictionary is written).
std::vector<std::uint32_t> Counts(const nb::CBayesDictionary& dictionary, const char16_t* word,
                                  std::uint64_t categories) {
  const std::uint32_t* found = dictionary.GetWordCounts(word, std::char_traits<char16_t>::length(word));
  if (found == nullptr || std::all_of(found, found + categories, [](std::uint32_t n) { return n == 0; })) return {};
  return std::vector<std::uint32_t>(found, found + categories);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  const zzfuzz::fs::path file = zzfuzz::ScratchDir() / "pcdic.dat";
  zzfuzz::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
  const std::u16string path = zzfuzz::Wide(file);

  nb::CBayesDictionary dictionary;
  const std::int32_t status = dictionary.Open(path.c_str());
  if (status != nb::kDictOk) {
    FUZZ_CHECK(status == nb::kDictNoMemory || status == nb::kDictBadCategory ||
               status == nb::kDictReadError);
    FUZZ_CHECK(!dictionary.IsOpen() && !dictionary.IsLoaded());
    FUZZ_CHECK(dictionary.GetCategoryCount() == 0 && dictionary.GetWordCount() == 0);
    return 0;
  }
  FUZZ_CHECK(dictionary.IsOpen() && dictionary.IsLoaded() && !dictionary.IsModified());
  const std::uint64_t categories = dictionary.GetCategoryCount();
  const std::uint64_t words = dictionary.GetWordCount();
  // Header, K category records of at least 8 bytes and K totals, then per word a length
  // and K counts. An empty file is created as the empty dictionary.
  if (size > 0) FUZZ_CHECK(8 + 12 * categories + words * (4 + 4 * categories) <= size);

  std::vector<double> probabilities(categories + 1);
  for (const char16_t* word : {u"sex", u"casino", u"a", u""}) {
    FUZZ_CHECK(dictionary.GetWordProbabilities(word, std::char_traits<char16_t>::length(word), probabilities.data()) == 0);
    for (std::uint64_t c = 0; c < categories; ++c) {
      FUZZ_CHECK((probabilities[c] >= 0.0 && probabilities[c] <= 1.0) || probabilities[c] == nb::kUnknownProbability);
    }
  }
  const auto before = zzfuzz::fs::last_write_time(file);
  if (categories == 0) {
    FUZZ_CHECK(dictionary.Close(path.c_str(), 0, nb::kLimitByTotal) == 0);
    FUZZ_CHECK(!dictionary.IsOpen());
    if (size > 0) FUZZ_CHECK(zzfuzz::fs::last_write_time(file) == before);
    return 0;
  }

  // Round trip: one more occurrence of a word, written to a copy and read back, gives the
  // same totals and word counts.
  FUZZ_CHECK(dictionary.InsertWord(u"zzfuzz", 6, 0) == 0);
  std::vector<std::uint32_t> totals;
  for (std::uint32_t c = 0; c < categories; ++c) totals.push_back(dictionary.GetCategoryTotal(c));
  std::vector<std::vector<std::uint32_t>> counts;
  const char16_t* kept[] = {u"sex", u"casino", u"a", u"zzfuzz"};
  for (const char16_t* word : kept) counts.push_back(Counts(dictionary, word, categories));
  const std::u16string copy = zzfuzz::Wide(zzfuzz::ScratchDir() / "copy.dat");
  FUZZ_CHECK(dictionary.Close(copy.c_str(), 0, nb::kLimitByTotal) == 0);
  FUZZ_CHECK(!dictionary.IsOpen() && dictionary.GetWordCount() == 0);

  nb::CBayesDictionary again;
  FUZZ_CHECK(again.Open(copy.c_str()) == 0 && again.GetCategoryCount() == categories);
  FUZZ_CHECK(again.GetWordCount() <= words + 1);
  for (std::uint32_t c = 0; c < categories; ++c) FUZZ_CHECK(again.GetCategoryTotal(c) == totals[c]);
  for (std::size_t i = 0; i < std::size(kept); ++i) FUZZ_CHECK(Counts(again, kept[i], categories) == counts[i]);
  FUZZ_CHECK(again.Close(copy.c_str(), 0, nb::kLimitByTotal) == 0);
  return 0;
}
