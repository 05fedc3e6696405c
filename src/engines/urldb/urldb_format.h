// Constants of the URL list file (".cas": "prlblk.cas", "prlwht.cas" and their update
// files). Pure constants.
//
// A list file is a streamer file (common/streamer_format.h: 128-byte header with the MD5
// of the payload, whole file scrambled, format version 0). Its payload is a sequence of
// records, little-endian, no padding:
//
//   offset  size    field
//   0       4       operation: 1 = add the key; 0xFFFFFFFF = read and skip; else corrupt
//   4       4       key length n (unsigned 32-bit)
//   8       n       key bytes (8-bit, no terminator): a registrable domain or an IPv4
//                   address such as "sample.co.uk" or "10.1.2.3"
//
// A file holding only its header is an empty list. Loading stops at the first bad record
// and keeps what came before it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/streamer_format.h"

namespace ascommon {

inline constexpr std::uint32_t kURLDBFileVersion = 0;
inline constexpr std::uint32_t kURLDBOpAdd = 1;
inline constexpr std::uint32_t kURLDBOpSkip = 0xFFFFFFFFu;
inline constexpr std::size_t kURLDBRecordHeaderSize = 8;  // operation + key length

// No key can be longer than the largest file the streamer reads; a record claiming more
// is not an item.
inline constexpr std::uint64_t kURLDBMaxKeyLength = kStreamerMaxFileSize;

}  // namespace ascommon
