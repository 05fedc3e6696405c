// Fuzz target: CURLDB::FindKey and CURLDB::GetKey on any text. The key FindKey locates is a
// non-empty range inside the text, and GetKey answers the same status with a copy of that
// range (cut at a zero byte, as strings are). The database is empty: the lookups of the
// text and of its key must then say "not listed".
#include <cstdint>
#include <cstring>

#include "engines/urldb/urldb.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  static const ascommon::CURLDB* const db = new ascommon::CURLDB();
  const char* text = reinterpret_cast<const char*>(data);

  const char* key = nullptr;
  std::size_t keyLength = 0;
  const std::int32_t found = db->FindKey(text, size, key, keyLength);
  FUZZ_CHECK(found == 0 || found == ascommon::CURLDB::kNoKey);
  if (found == 0) {
    FUZZ_CHECK(key != nullptr && keyLength > 0 && key >= text && keyLength <= size &&
               static_cast<std::size_t>(key - text) <= size - keyLength);
    FUZZ_CHECK(!db->IsListed(key, keyLength));
  }
  FUZZ_CHECK(!db->IsListed(text, size) && !db->HasEntry(text, size));

  // GetKey works on a string, which ends at the first zero byte.
  const ascommon::sstring url(text, size);
  if (url.status() != 0) return 0;
  const std::size_t textLength = url.length();
  FUZZ_CHECK(textLength == strnlen(text, size));
  const char* stringKey = nullptr;
  std::size_t stringKeyLength = 0;
  const std::int32_t expected = db->FindKey(text, textLength, stringKey, stringKeyLength);
  ascommon::sstring copy;
  const std::int32_t got = db->GetKey(url, copy);
  FUZZ_CHECK(got == expected);
  if (got == 0) FUZZ_CHECK(copy.length() == stringKeyLength && std::memcmp(copy.c_str(), stringKey, stringKeyLength) == 0);
  return 0;
}
