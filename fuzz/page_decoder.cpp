// Fuzz target: the host's page decoding (DecodePage, FindMetaCharset). Checks: the text is
// well-formed UTF-16 without zero units; the charset is one of the fixed names or a
// lower-case label of at most kMaxCharsetNameLength bytes; the meta scan's label is trimmed
// and lower-case; a page with a UTF-8 byte-order mark decodes as its UTF-8 decoding (zero
// units replaced); windows-1252 gives one unit per byte.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "page_decoder.h"

namespace {

void CheckUtf16(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    FUZZ_CHECK(unit != 0);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      FUZZ_CHECK(i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF);
      ++i;
    } else {
      FUZZ_CHECK(unit < 0xDC00 || unit > 0xDFFF);
    }
  }
}

void CheckLabel(const std::string& label) {
  for (char c : label) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
  for (char blank : {' ', '\t'}) FUZZ_CHECK(label.empty() || (label.front() != blank && label.back() != blank));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const zzhost::DecodedPage page = zzhost::DecodePage(bytes);
  CheckUtf16(page.text);
  CheckLabel(page.charset);
  // Longer names from a meta tag are ignored; the fixed names are all short.
  FUZZ_CHECK(!page.charset.empty() && page.charset.size() <= zzhost::kMaxCharsetNameLength);
  CheckLabel(zzhost::FindMetaCharset(bytes));

  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    FUZZ_CHECK(page.charset == "utf-8");
    std::u16string expected;
    zzhost::DecodeUtf8(bytes.substr(3), expected);
    std::replace(expected.begin(), expected.end(), u'\0', u'\xFFFD');  // the page text holds no zero units
    FUZZ_CHECK(page.text == expected);
  }
  // Every byte of windows-1252 decodes to one unit.
  std::u16string latin;
  zzhost::DecodeWindows1252(bytes, latin);
  FUZZ_CHECK(latin.size() == size);
  return 0;
}
