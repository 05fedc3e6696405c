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
  const char* start;
  std::size_t length;
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool Inside(const Piece& inner, const Piece& outer) {
  return inner.start >= outer.start && inner.length <= outer.length &&
         static_cast<std::size_t>(inner.start - outer.start) <= outer.length - inner.length;
}

void CheckRecord(const CParsedURL& url) {
  Piece whole, lower;
  url.GetURL(whole.start, whole.length);
  url.GetURLLower(lower.start, lower.length);
  FUZZ_CHECK(whole.start != nullptr && lower.start != nullptr && whole.length == lower.length);
  FUZZ_CHECK(whole.start[whole.length] == 0 && lower.start[lower.length] == 0);
  for (std::size_t i = 0; i < whole.length; ++i) {
    const unsigned char c = static_cast<unsigned char>(whole.start[i]);
    FUZZ_CHECK(c != 0 && c < 0x80);
    FUZZ_CHECK(lower.start[i] == Lower(whole.start[i]));
  }

  using Getter = void (CParsedURL::*)(const char*&, std::size_t&) const noexcept;
  const Getter escaped[] = {&CParsedURL::GetPath, &CParsedURL::GetHost, &CParsedURL::GetDomain};
  const Getter lowered[] = {&CParsedURL::GetPathLower, &CParsedURL::GetHostLower,
                            &CParsedURL::GetDomainLower};
  Piece pieces[3];
  for (int p = 0; p < 3; ++p) {
    Piece e, l;
    (url.*escaped[p])(e.start, e.length);
    (url.*lowered[p])(l.start, l.length);
    pieces[p] = e;
    if (e.start == nullptr) {
      // An absent piece is absent in both texts, and so is every piece inside it.
      FUZZ_CHECK(e.length == 0 && l.start == nullptr && l.length == 0);
      for (int q = p + 1; q < 3; ++q) {
        Piece inner;
        (url.*escaped[q])(inner.start, inner.length);
        FUZZ_CHECK(inner.start == nullptr);
      }
      break;
    }
    FUZZ_CHECK(e.length > 0 && l.length == e.length);
    FUZZ_CHECK(Inside(e, whole));
    FUZZ_CHECK(l.start - lower.start == e.start - whole.start);
    if (p > 0) FUZZ_CHECK(Inside(e, pieces[p - 1]));
  }
}

std::string Texts(const CParsedURL& url) {
  std::string out;
  using Getter = void (CParsedURL::*)(const char*&, std::size_t&) const noexcept;
  for (Getter get : {&CParsedURL::GetURL, &CParsedURL::GetPath, &CParsedURL::GetHost,
                     &CParsedURL::GetDomain}) {
    const char* start;
    std::size_t length;
    (url.*get)(start, length);
    out += start == nullptr ? std::string("<null>") : std::string(start, length);
    out += '\n';
  }
  return out;
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
  CheckRecord(narrow);

  // Units whose low bytes are the input; the high bytes come from the input reversed.
  std::u16string units(size, u'\0');
  for (std::size_t i = 0; i < size; ++i) {
    units[i] = static_cast<char16_t>(data[i] | (data[size - 1 - i] << 8));
  }
  CParsedURL wide;
  FUZZ_CHECK(wide.ParseURL(units.data(), units.size()) == 0);
  CheckRecord(wide);
  FUZZ_CHECK(Texts(wide) == Texts(narrow));

  // A second parse into the same record replaces the first.
  FUZZ_CHECK(wide.ParseURL(text, size) == 0);
  FUZZ_CHECK(Texts(wide) == Texts(narrow));
  return 0;
}
