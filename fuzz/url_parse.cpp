// Fuzz target: CParsedURL::ParseURL, 8-bit and wide. Checks that every piece lies inside
// the escaped text and nests (domain in host in path), that the lower-case pieces sit at the
// same offsets in a lower-case copy that matches the escaped text byte for byte, that the
// escaped text is 7-bit without zero bytes, and that the wide parse of units whose low bytes
// are the input (high bytes fuzzed) gives the same texts as the 8-bit parse.
#include <cstdint>
#include <cstring>
#include <string>

#include "common/urlutils.h"
#include "fuzz_util.h"

namespace {

using ascommon::CParsedURL;

struct Piece {
  const char* start = nullptr;
  std::size_t length = 0;
  bool Inside(const Piece& outer) const {
    return start >= outer.start && length <= outer.length &&
           static_cast<std::size_t>(start - outer.start) <= outer.length - length;
  }
  std::string Text() const { return start == nullptr ? "<null>" : std::string(start, length); }
};

using Getter = void (CParsedURL::*)(const char*&, std::size_t&) const noexcept;

Piece Get(const CParsedURL& url, Getter get) {
  Piece piece;
  (url.*get)(piece.start, piece.length);
  return piece;
}

// Checks the record and returns its URL, path, host and domain texts, one a line.
std::string CheckRecord(const CParsedURL& url) {
  const Piece whole = Get(url, &CParsedURL::GetURL), lower = Get(url, &CParsedURL::GetURLLower);
  FUZZ_CHECK(whole.start != nullptr && lower.start != nullptr && whole.length == lower.length);
  FUZZ_CHECK(whole.start[whole.length] == 0 && lower.start[lower.length] == 0);
  for (std::size_t i = 0; i < whole.length; ++i) {
    const char c = whole.start[i];  // 7-bit, no zero byte
    FUZZ_CHECK(static_cast<signed char>(c) > 0 && lower.start[i] == (c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
  }
  const Getter escaped[] = {&CParsedURL::GetPath, &CParsedURL::GetHost, &CParsedURL::GetDomain};
  const Getter lowered[] = {&CParsedURL::GetPathLower, &CParsedURL::GetHostLower, &CParsedURL::GetDomainLower};
  std::string texts = whole.Text() + "\n";
  Piece outer = whole;
  for (int p = 0; p < 3; ++p) {
    const Piece e = Get(url, escaped[p]), l = Get(url, lowered[p]);
    texts += e.Text() + "\n";
    if (e.start == nullptr) {  // absent in both texts; every piece inside it is absent too
      FUZZ_CHECK(e.length == 0 && l.start == nullptr && l.length == 0);
      outer = e;
      continue;
    }
    FUZZ_CHECK(outer.start != nullptr && e.length > 0 && l.length == e.length);
    FUZZ_CHECK(e.Inside(whole) && e.Inside(outer));
    FUZZ_CHECK(l.start - lower.start == e.start - whole.start);
    outer = e;
  }
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  const char* text = reinterpret_cast<const char*>(data);

  CParsedURL narrow;
  const std::int32_t status = narrow.ParseURL(size == 0 ? "" : text, size);
  if (size == 0) {
    FUZZ_CHECK(status == -1);
    return 0;
  }
  FUZZ_CHECK(status == 0);
  const std::string texts = CheckRecord(narrow);

  // Units whose low bytes are the input; the high bytes come from the input reversed.
  std::u16string units(size, u'\0');
  for (std::size_t i = 0; i < size; ++i) units[i] = static_cast<char16_t>(data[i] | (data[size - 1 - i] << 8));
  CParsedURL wide;
  FUZZ_CHECK(wide.ParseURL(units.data(), units.size()) == 0);
  FUZZ_CHECK(CheckRecord(wide) == texts);

  // A second parse into the same record replaces the first.
  FUZZ_CHECK(wide.ParseURL(text, size) == 0);
  FUZZ_CHECK(CheckRecord(wide) == texts);
  return 0;
}
