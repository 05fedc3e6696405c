// Fuzz target: CURLDB loading a list file (the input as a file, see zzfuzz::WriteDataFile),
// then the round trip: the keys read back, written with UnloadURLsToFile, load into a
// fresh database as the same keys, and writing that one gives the same bytes. Also checks
// that every loaded key is found by HasEntry and that no temporary file is left behind.
#include <cstdint>
#include <set>
#include <string>

#include "engines/urldb/urldb.h"
#include "fuzz_util.h"

namespace {

std::set<std::string> Keys(const ascommon::CURLDB& db) {
  std::set<std::string> keys;
  const std::int32_t status = db.VisitKeysInOrder([&](const char* key, std::size_t length) {
    std::string text(key, length);
    FUZZ_CHECK(keys.empty() || *keys.rbegin() < text);  // ascending byte order, no duplicates
    keys.insert(std::move(text));
  });
  FUZZ_CHECK(status == 0 && keys.size() == db.GetCount());
  return keys;
}

std::string ReadAll(const zzfuzz::fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kFuzzMaxInput) return 0;
  const zzfuzz::fs::path& dir = zzfuzz::ScratchDir();
  const std::u16string main = zzfuzz::Wide(dir / "prlblk.cas");
  const std::u16string update = zzfuzz::Wide(dir / "absent_update.cas");
  const std::u16string temp = zzfuzz::Wide(dir);
  zzfuzz::WriteDataFile(dir / "prlblk.cas", data, size);

  ascommon::CURLDB db;
  const std::int32_t status = db.Load(main.c_str(), update.c_str(), temp.c_str());
  FUZZ_CHECK(status == 0 || status == -3 || status == -13 || status == -14);
  zzfuzz::CheckNoTempFiles();
  const std::set<std::string> keys = Keys(db);
  for (const std::string& key : keys) FUZZ_CHECK(db.HasEntry(key.data(), key.size()));

  const std::u16string copy = zzfuzz::Wide(dir / "copy.cas");
  FUZZ_CHECK(db.UnloadURLsToFile(copy.c_str(), temp.c_str()) == 0);
  ascommon::CURLDB again;
  FUZZ_CHECK(again.Load(copy.c_str(), update.c_str(), temp.c_str()) == 0);
  FUZZ_CHECK(Keys(again) == keys);

  const std::u16string second = zzfuzz::Wide(dir / "copy2.cas");
  FUZZ_CHECK(again.UnloadURLsToFile(second.c_str(), temp.c_str()) == 0);
  FUZZ_CHECK(ReadAll(dir / "copy.cas") == ReadAll(dir / "copy2.cas"));
  zzfuzz::CheckNoTempFiles();
  return 0;
}
