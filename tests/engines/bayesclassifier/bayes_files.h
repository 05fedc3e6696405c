// Fixture verbs for the Bayes tests: a scratch folder with wide paths, dictionary files made
// from a simple model (a std::map keeps the words in the file's order), and the engine's
// input arrays.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/astrace.h"
#include "engines/bayesclassifier/ebayes.h"
#include "support/scratch_dir.h"
#include "zzplat/paths.h"

namespace zztest {

using nsEngineBayesClassifier::CBayesDictionary;

// A scratch folder whose paths are the wide texts the Bayes engine takes.
class BayesDir : public ScratchDir {
 public:
  std::u16string operator/(const std::string& name) const { return zztest::Wide(Path() / name); }
  std::size_t FileCount() const {
    auto entries = std::filesystem::directory_iterator(Path());
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
  }
};

inline std::string ReadBytes(const std::u16string& path) {
  std::ifstream in(zzplat::LocalPath(path.c_str()), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void WriteBytes(const std::u16string& path, const std::string& bytes) {
  std::ofstream(zzplat::LocalPath(path.c_str()), std::ios::binary | std::ios::trunc) << bytes;
}

inline void PutU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
inline void PutText(std::string& out, const std::u16string& text) {
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  for (char16_t unit : text) out += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
}

// The dictionary as its file describes it.
struct DictModel {
  struct Category {
    std::u16string name;
    std::uint32_t level;
    std::uint32_t total;
  };
  std::vector<Category> categories;
  std::map<std::u16string, std::vector<std::uint32_t>> words;  // code-unit order
  std::int64_t headerWords = -1;                               // -1: words.size()

  std::string Bytes() const {
    std::string out;
    PutU32(out, static_cast<std::uint32_t>(headerWords < 0 ? words.size() : headerWords));
    PutU32(out, static_cast<std::uint32_t>(categories.size()));
    for (const Category& c : categories) PutU32(out, c.level), PutText(out, c.name);
    for (const Category& c : categories) PutU32(out, c.total);
    for (const auto& [word, counts] : words) {
      PutText(out, word);
      for (std::uint32_t n : counts) PutU32(out, n);
    }
    return out;
  }
};

// n distinct words "w1000000x".. with the given counts each.
inline void AddNumberedWords(DictModel& model, std::size_t n, std::vector<std::uint32_t> counts) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::string word = "w" + std::to_string(1000000 + i) + "x";
    model.words[std::u16string(word.begin(), word.end())] = counts;
  }
}

// Owns the texts of one item and the CArray of CBayesText pointing into them (a null label
// is none).
class Item {
 public:
  Item& Text(std::u16string text, const char16_t* label = nullptr) {
    m_texts.push_back({std::move(text), label});
    return *this;
  }
  const ascommon::CArray<nsEngineBayesClassifier::CBayesText>& Array() {
    m_array.RemoveAll();
    for (const auto& [text, label] : m_texts) m_array.Add({text.c_str(), label});
    return m_array;
  }

 private:
  std::vector<std::pair<std::u16string, const char16_t*>> m_texts;  // labels: literals
  ascommon::CArray<nsEngineBayesClassifier::CBayesText> m_array;
};

inline std::int32_t AddCategories(CBayesDictionary& dictionary,
                                  const std::vector<std::pair<std::u16string, int>>& list) {
  ascommon::CArray<ascommon::usstring> names;
  ascommon::CArray<std::int32_t> levels;
  for (const auto& [name, level] : list) names.Add(name.c_str()), levels.Add(level);
  return dictionary.InsertCategories(names, levels);
}

inline std::vector<std::uint32_t> CountsOf(const CBayesDictionary& dictionary,
                                           const std::u16string& word) {
  const std::uint32_t* counts = dictionary.GetWordCounts(word.data(), word.size());
  if (counts == nullptr) return {};
  return std::vector<std::uint32_t>(counts, counts + dictionary.GetCategoryCount());
}

// The 35-unit separator set of the page filter.
inline const char16_t* PageSeparators() { return u" ,'.()[]{}/\\?!#`~$%^&*-+=:;|\"<>_\t\r\n"; }

// A trace sink that holds each classification at its "[ProcessCat]" line (written inside
// the read-only section) until two have arrived: serialised classifications never meet.
class MeetingSink : public CATrace {
 public:
  void SetActive(bool) override {}
  void Write(const char*) override {}
  void Printf(const char*, ...) override {}
  void Trace(unsigned, const char* format, ...) override {
    if (std::string(format).find("[ProcessCat]") == std::string::npos) return;
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_arrived;
    m_cond.notify_all();
    m_timedOut |= !m_cond.wait_for(lock, std::chrono::seconds(5), [&] { return m_arrived >= 2; });
  }
  bool TimedOut() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timedOut;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  int m_arrived = 0;
  bool m_timedOut = false;
};

}  // namespace zztest
