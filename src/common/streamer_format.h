// Constants of the streamer file format (docs/streamer_format.md): the 128-byte header, its
// field offsets, the description text, the scrambling key and the size limit. Pure
// constants; included by the streamer and by tests that build or inspect files by hand.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

// Header, plain form (before scrambling). Integers are little-endian.
inline constexpr std::size_t kStreamerHeaderSize = 128;
inline constexpr std::size_t kStreamerDigestOffset = 0;  // MD5 of bytes 128..end
inline constexpr std::size_t kStreamerDigestSize = 16;
inline constexpr std::size_t kStreamerDescriptionOffset = 16;  // zero-padded 8-bit text
inline constexpr std::size_t kStreamerDescriptionSize = 100;
inline constexpr std::size_t kStreamerReserved1Offset = 116;  // uint32, written as 0
inline constexpr std::size_t kStreamerReserved2Offset = 120;  // uint32, written as 0
inline constexpr std::size_t kStreamerVersionOffset = 124;    // uint32 format version
inline constexpr std::size_t kStreamerPayloadOffset = kStreamerHeaderSize;

inline constexpr char kStreamerDescription[] = "File description should go here!";

// Every byte of the file on disk, header included, is XORed with this key.
inline constexpr std::uint8_t kStreamerScrambleKey = 0x5A;

// Largest file the streamer scrambles or unscrambles (50 MB).
inline constexpr std::uint64_t kStreamerMaxFileSize = 52428800;

// Prefix of the streamer's temporary files ("kvtz<hex>.tmp").
inline constexpr char16_t kStreamerTempPrefix[] = u"kvtz";

static_assert(kStreamerVersionOffset + 4 == kStreamerHeaderSize, "header fields fill 128 bytes");
static_assert(sizeof(kStreamerDescription) <= kStreamerDescriptionSize, "description fits");

}  // namespace ascommon
