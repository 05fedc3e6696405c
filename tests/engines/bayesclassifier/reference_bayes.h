// A deliberately simple classifier to check the engine against: words split with
// find_first_of, the dictionary in a std::map, each window a std::vector kept in order by
// a linear scan, the choice read off the list of running-maximum changes. Slow and
// obvious; it shares no code with the engine.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

namespace zztest {

struct ReferenceBayes {
  struct Piece { std::u16string text, label; };  // an empty label is none
  struct Choice { int score; std::size_t best, second; };

  std::u16string separators;
  std::vector<std::u16string> names;
  std::vector<std::uint32_t> totals;
  std::map<std::u16string, std::vector<std::uint32_t>> words;

  std::vector<std::u16string> Split(const Piece& piece) const {
    std::vector<std::u16string> out;
    for (std::size_t start = piece.text.find_first_not_of(separators);
         start != std::u16string::npos;) {
      const std::size_t end =
          std::min(piece.text.find_first_of(separators, start), piece.text.size());
      const std::u16string token = piece.text.substr(start, end - start);
      start = piece.text.find_first_not_of(separators, end);
      bool letter = false;
      for (char16_t c : token) letter = letter || std::iswalpha(c);
      if (token.size() >= 3 && letter) out.push_back((piece.label + token).substr(0, 128));
    }
    return out;
  }

  void Train(const std::vector<Piece>& item, std::size_t category) {
    for (const Piece& piece : item) {
      for (const std::u16string& word : Split(piece)) words[word].resize(names.size()), ++words[word][category];
    }
    ++totals[category];
  }

  std::vector<double> WordProbabilities(const std::u16string& word) const {
    if (words.size() <= 3000) return std::vector<double>(names.size(), 0.005);
    auto found = words.find(word);
    if (found == words.end()) return std::vector<double>(names.size(), 2.0);
    double total = 0;
    for (std::uint32_t n : found->second) total += n;
    std::vector<double> out;
    for (std::uint32_t n : found->second) {
      const double rest = total - n <= 1e-7 ? 0.02 : total - n;
      out.push_back(n == 0 ? 2.0 : n / (n + rest));
    }
    return out;
  }

  // Inserts p before every kept value no farther from 0.5; past 40 the last one falls
  // off. Nothing happens when p is no farther than the 40th place (0.5 while not full).
  static void Keep(std::vector<double>& kept, double p) {
    auto distance = [](double v) { return std::fabs(v - 0.5); };
    if (!(distance(p) > (kept.size() < 40 ? 0.0 : distance(kept.back())))) return;
    std::size_t at = 0;
    while (at < kept.size() && distance(kept[at]) > distance(p)) ++at;
    kept.insert(kept.begin() + at, p);
    if (kept.size() > 40) kept.pop_back();
  }

  std::vector<double> Classify(const std::vector<Piece>& item) const {
    std::vector<std::vector<double>> kept(names.size());
    std::vector<std::size_t> unknown(names.size(), 0);
    for (const Piece& piece : item) {
      for (const std::u16string& word : Split(piece)) {
        const std::vector<double> p = WordProbabilities(word);
        for (std::size_t c = 0; c < names.size(); ++c)
          p[c] == 2.0 ? void(++unknown[c]) : Keep(kept[c], p[c]);
      }
    }
    std::vector<double> out;
    for (std::size_t c = 0; c < names.size(); ++c) {
      for (std::size_t i = 0; kept[c].size() < 40 && i < unknown[c]; ++i) Keep(kept[c], 0.005);
      double p = 1, q = 1;
      for (double v : kept[c]) p *= v, q *= 1 - v;
      out.push_back(kept[c].size() < 5 ? 0.0 : p / (p + q));
    }
    return out;
  }

  // best: where the running maximum (>=) last changed; second: where it was before that.
  static Choice Choose(const std::vector<double>& p) {
    std::vector<std::size_t> changes{0};
    for (std::size_t i = 1; i < p.size(); ++i)
      if (p[i] >= p[changes.back()]) changes.push_back(i);
    const std::size_t best = changes.back();
    const std::size_t second = changes.size() > 1 ? changes[changes.size() - 2] : 0;
    const double max2 = changes.size() > 1 ? p[second] : 0.0;
    return {p[best] == max2 ? 0 : static_cast<int>((p[best] - max2) * 100 / p[best]), best, second};
  }
};

}  // namespace zztest
