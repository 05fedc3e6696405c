// Packed names and the compile-time hash tables that the tag, attribute and entity lookups of
// the HTML parser use.
//
// A name of at most kMaxPackedName characters from [a-zA-Z0-9-] packs into one 64-bit key
// (six bits a character, first character lowest); no other name has a key, so a key
// comparison is a name comparison. TNameTable is an open-addressing table of such keys built
// at compile time; a lookup costs one multiplication and, at the load used here (under 0.4),
// one or two probes. Everything here is constant data: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace html_detail {

// Longest name that packs (the longest known tag name, "blockquote", has ten letters).
inline constexpr std::size_t kMaxPackedName = 10;

// Six-bit code of a name character: a-z 1..26, A-Z 27..52, 0-9 53..62, '-' 63; 0 otherwise.
constexpr unsigned NameCode(char16_t c) noexcept {
  if (c >= u'a' && c <= u'z') return c - u'a' + 1u;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 27u;
  if (c >= u'0' && c <= u'9') return c - u'0' + 53u;
  if (c == u'-') return 63u;
  return 0u;
}

// Key of a zero-terminated ASCII name; 0 for an empty, too long or unpackable name.
constexpr std::uint64_t PackName(const char* name) noexcept {
  std::uint64_t key = 0;
  std::size_t i = 0;
  for (; name[i] != 0; ++i) {
    const unsigned code = NameCode(static_cast<unsigned char>(name[i]));
    if (code == 0 || i == kMaxPackedName) return 0;
    key |= static_cast<std::uint64_t>(code) << (6 * i);
  }
  return key;
}

// Key of `length` units of wide text; 0 when the name does not pack.
inline std::uint64_t PackName(const char16_t* name, std::size_t length) noexcept {
  if (length == 0 || length > kMaxPackedName) return 0;
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned code = NameCode(name[i]);
    if (code == 0) return 0;
    key |= static_cast<std::uint64_t>(code) << (6 * i);
  }
  return key;
}

// Open-addressing map from packed keys to small values; Slots is a power of two.
template <std::size_t Slots>
struct TNameTable {
  static_assert(Slots >= 2 && (Slots & (Slots - 1)) == 0, "slots must be a power of two");
  static constexpr int kShift = [] {
    int bits = 0;
    for (std::size_t s = Slots; s > 1; s >>= 1) ++bits;
    return 64 - bits;
  }();

  std::uint64_t keys[Slots] = {};
  std::uint8_t values[Slots] = {};

  static constexpr std::size_t SlotOf(std::uint64_t key) noexcept {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> kShift);
  }
  // Compile-time insertion; a duplicate or zero key, or a full table, is a build error
  // (the constant evaluation reaches a throw).
  constexpr void Insert(std::uint64_t key, std::uint8_t value) {
    if (key == 0) throw "name does not pack";
    std::size_t slot = SlotOf(key);
    for (std::size_t probes = 0; keys[slot] != 0; ++probes) {
      if (keys[slot] == key) throw "duplicate name";
      if (probes == Slots) throw "table full";
      slot = (slot + 1) & (Slots - 1);
    }
    keys[slot] = key;
    values[slot] = value;
  }
  // The value stored for key, or -1 (also for key 0).
  constexpr int Find(std::uint64_t key) const noexcept {
    if (key == 0) return -1;
    for (std::size_t slot = SlotOf(key);; slot = (slot + 1) & (Slots - 1)) {
      if (keys[slot] == key) return values[slot];
      if (keys[slot] == 0) return -1;
    }
  }
};

}  // namespace html_detail
