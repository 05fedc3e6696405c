#include "json.h"

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/bytes16.h"
#include "common/swar.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

// Bytes copied as they are: printable ASCII except the quote and the backslash.
struct PlainBytes {
  bool plain[256] = {};
  constexpr PlainBytes() {
    for (int c = 0x20; c < 0x7F; ++c) plain[c] = c != '"' && c != '\\';
  }
};
constexpr PlainBytes kPlain;

using ascommon::swar::kHighBits;
using ascommon::swar::kOnes;

// Whether all 8 bytes of word are plain (kPlain), tested at once.
constexpr bool AllPlain(std::uint64_t word) {
  using ascommon::swar::AnyByteBelow;
  using ascommon::swar::HasByte;
  return !AnyByteBelow(word, 0x20) && (((word + kOnes) | word) & kHighBits) == 0 &&
         !HasByte(word, '"') && !HasByte(word, '\\');
}

// Every byte value, alone or among plain ones, is judged as the table judges it.
constexpr bool AllPlainMatchesTable() {
  for (unsigned c = 0; c < 256; ++c) {
    for (unsigned at = 0; at < 8; ++at) {
      const std::uint64_t word = (kOnes * 'a' & ~(std::uint64_t{0xFF} << (8 * at))) |
                                 (std::uint64_t{c} << (8 * at));
      if (AllPlain(word) != kPlain.plain[c]) return false;
    }
  }
  return true;
}
static_assert(AllPlainMatchesTable());

// The end of the run of plain bytes that starts at text[i]: sixteen bytes at a time where
// SSE2 is there (a byte below 0x20 or from 0x80 up is below 0x20 as a signed byte; the
// last block overlaps the one before, a text under sixteen bytes is one block), else
// eight, then one.
std::size_t PlainRunEnd(std::string_view text, std::size_t i) {
#if defined(__SSE2__)
  std::size_t end = text.size();
  ascommon::bytes16::ForEachBlock(
      text.data() + i, text.size() - i, [&](const char* block, unsigned keep, std::size_t base) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        const __m128i controlOrHigh = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                                                   _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
        const __m128i quoteOrBackslash = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                      _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
        const unsigned bits = static_cast<unsigned>(
                                  _mm_movemask_epi8(_mm_or_si128(controlOrHigh, quoteOrBackslash))) &
                              keep;
        if (bits == 0) return false;
        end = i + base + static_cast<std::size_t>(std::countr_zero(bits));
        return true;
      });
  return end;
#else
  std::size_t run = i;
  while (run + 8 <= text.size() && AllPlain(ascommon::swar::LoadWord(text.data() + run))) {
    run += 8;
  }
  while (run < text.size() && kPlain.plain[static_cast<unsigned char>(text[run])]) ++run;
  return run;
#endif
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    // Plain printable ASCII, by far the most common, is copied in runs.
    const std::size_t run = PlainRunEnd(text, i);
    if (run != i) {
      out.append(text.data() + i, run - i);
      i = run;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t n = zzplat::Utf8SequenceLength(text, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(text.data() + i, n);
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void AppendJsonStringOrNull(std::string& out, const char* text, std::size_t length) {
  if (text == nullptr) {
    out += "null";
  } else {
    AppendJsonString(out, std::string_view(text, length));
  }
}

}  // namespace zzhost
