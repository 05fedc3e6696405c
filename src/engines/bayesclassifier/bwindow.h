// The classification window: per category the kWindowSize most telling word
// probabilities seen so far, sorted by distance from 0.5, largest first. Every slot starts
// at 0.5 (distance 0), so a probability of exactly 0.5 never enters.
//
// Insert: a value enters only when it is farther from 0.5 than the last slot; its place is
// found by binary search (before every slot at the same or a smaller distance, so among
// equal distances the newest comes first and the oldest falls off the end), the later
// slots move down by one. O(log 40 + 40) per insert, no memory.
// Threads: plain functions over the caller's array.
// Tested by tests/engines/bayesclassifier/ebayes_test.cpp.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>

namespace nsEngineBayesClassifier {

inline constexpr std::size_t kWindowSize = 40;
inline constexpr double kWindowNeutral = 0.5;
// Fewer inserted values than this give the category a probability of 0.
inline constexpr std::size_t kMinWindowValues = 5;

inline void WindowReset(double* pSlots) noexcept {
  for (std::size_t i = 0; i < kWindowSize; ++i) pSlots[i] = kWindowNeutral;
}

// True when the value entered the window.
inline bool WindowInsert(double* pSlots, double value) noexcept {
  const double distance = std::fabs(value - kWindowNeutral);
  if (!(distance > std::fabs(pSlots[kWindowSize - 1] - kWindowNeutral))) return false;
  std::size_t low = 0;
  std::size_t high = kWindowSize - 1;  // the last slot is nearer, so the place is <= 39
  while (low < high) {
    const std::size_t middle = (low + high) / 2;
    if (std::fabs(pSlots[middle] - kWindowNeutral) <= distance) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  std::memmove(pSlots + low + 1, pSlots + low, (kWindowSize - 1 - low) * sizeof(double));
  pSlots[low] = value;
  return true;
}

// The combined probability of the first `count` slots: P / (P + Q) with P the product of
// the values and Q the product of their complements; 0 below kMinWindowValues values.
inline double WindowProbability(const double* pSlots, std::size_t count) noexcept {
  if (count < kMinWindowValues) return 0.0;
  double p = 1.0;
  double q = 1.0;
  for (std::size_t i = 0; i < count; ++i) {
    p *= pSlots[i];
    q *= 1.0 - pSlots[i];
  }
  return p / (p + q);
}

}  // namespace nsEngineBayesClassifier
