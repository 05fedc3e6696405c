// Constants of the Bayes dictionary file and of the dictionary's status codes. The byte
// layout is written down in docs/bayes_dictionary_format.md.
//
// File: little-endian, no padding, no magic, no checksum; texts are UTF-16LE without a
// terminator.
//   header   u32 word count, u32 category count K
//   K times  u32 level, u32 name length L (<= 128), L x u16 name     (index order)
//   totals   K x u32 items trained per category                      (index order)
//   words    u32 length L (<= 128), L x u16 word, K x u32 counts     (ascending words)
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace nsEngineBayesClassifier {

static_assert(std::endian::native == std::endian::little,
              "the dictionary file is read and written as little-endian memory images");

// Longest category name or word in the file, in UTF-16 units. Longer names are cut when
// written; a longer length field makes the file unreadable (-14).
inline constexpr std::uint32_t kMaxNameUnits = 128;
// The empty dictionary: word count 0 and category count 0.
inline constexpr std::size_t kEmptyDictionaryBytes = 8;
// Word probabilities are real only above this many words; below, every word of every
// category answers kSmallDictionaryProbability.
inline constexpr std::uint32_t kMinWordsForProbabilities = 3000;
inline constexpr double kSmallDictionaryProbability = 0.005;
// A category that never saw the word, or a word the dictionary does not know.
inline constexpr double kUnknownProbability = 2.0;
// Stands in for the counts of the other categories when they are (near) zero.
inline constexpr double kMinRest = 1e-7;
inline constexpr double kRestReplacement = 0.02;

// Occurrence-limit modes of Close.
inline constexpr int kLimitByTotal = 0;           // drop words whose total is <= limit
inline constexpr int kLimitBySingleCategory = 1;  // drop words seen in one category, <= limit

// The fixed header of a dictionary converted from a text list.
inline constexpr std::uint32_t kConvertWordCount = 10000;
inline constexpr std::uint32_t kConvertItemTotal = 250000;
inline constexpr std::size_t kConvertLineBytes = 500;  // fgets buffer: 499 characters

// Status codes.
inline constexpr std::int32_t kDictOk = 0;
inline constexpr std::int32_t kDictNoMemory = -10;
inline constexpr std::int32_t kDictBadCategory = -12;  // bad index or internal map error
inline constexpr std::int32_t kDictNullPath = -13;
inline constexpr std::int32_t kDictReadError = -14;  // read error or truncated file
inline constexpr std::int32_t kDictWriteError = -15;
inline constexpr std::int32_t kDictCannotOpen = -16;
inline constexpr std::int32_t kDictWordNotFound = -350;
inline constexpr std::int32_t kDictAlreadyOpen = -351;
inline constexpr std::int32_t kDictNotOpen = -352;  // not open or not loaded

}  // namespace nsEngineBayesClassifier
