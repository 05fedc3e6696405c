// Constants of the category data file ("pc_pornography.dat", "pc_white.dat" and their
// siblings) and the status codes of the category database. Pure constants. The byte
// layout is written down in docs/category_format.md.
//
// A category file is a streamer file (common/streamer_format.h: 128-byte header with the
// MD5 of the payload, whole file scrambled, format version 0). Its payload, little-endian:
//
//   offset        size    field
//   0             4       key words: 32-bit words per key, always 2
//   4             4       A, the number of address keys
//   8             4       S, the number of subdomain keys
//   12            4       D, the number of domain keys
//   16            8 * A   address keys
//   16 + 8A       8 * S   subdomain keys
//   16 + 8(A+S)   8 * D   domain keys
//
// A key is the first 8 bytes of the MD5 digest of the lower-case piece text, stored as two
// 32-bit little-endian words (digest bytes 0-3, then 4-7), i.e. the 8 digest bytes in order.
// Keys are written in ascending order of their 64-bit little-endian value; readers do not
// rely on the order. Bytes after the domain keys are ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/streamer_format.h"

namespace ascommon {

inline constexpr std::uint32_t kCategoryFileVersion = 0;
inline constexpr std::uint32_t kCategoryKeyWords = 2;
inline constexpr std::size_t kCategoryKeySize = 8;
inline constexpr std::size_t kCategoryPayloadHeaderSize = 16;  // key words + three counts

// Status codes of CURLCategoryDB.
inline constexpr std::int32_t kCategoryWrongKeySize = -9;    // key words is not 2
inline constexpr std::int32_t kCategoryNoFileLoaded = -12;   // LoadFiles: none loaded
inline constexpr std::int32_t kCategoryTextNotOpened = -13;  // BuildFromText: no text file

// BuildFromText reads its text in pieces of at most this many characters; a longer line is
// read as several lines.
inline constexpr std::size_t kCategoryMaxLineRead = 500;

// Most keys one set holds (about 4 GB of slots); an insert beyond fails with -2. Files are
// far smaller: the streamer reads at most 50 MB, about 6.5 million keys.
inline constexpr std::uint64_t kCategoryMaxKeysPerSet = std::uint64_t{1} << 28;

}  // namespace ascommon
