// Fuzz target: CURLCategoryDB::LoadFile on a category file (the input as a file, see
// zzfuzz::WriteDataFile) into a database that already holds one key per set. Checks: a load
// that fails (status or exception) leaves the sets as they were; a load that succeeds keeps
// the earlier keys and holds no more keys than the file can carry; writing the database and
// loading the written file gives the same keys; the file loaded into an empty database
// (sets kept as read when in order) gives the same keys; no temporary file is left behind.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/asexception.h"
#include "engines/urldb2/urlcategorydb.h"
#include "engines/urldb2/urldb2_format.h"
#include "fuzz_util.h"

namespace {

using ascommon::CURLCategoryDB;
using ascommon::ECategoryPiece;

constexpr ECategoryPiece kPieces[] = {ECategoryPiece::kAddress, ECategoryPiece::kSubdomain,
                                      ECategoryPiece::kDomain};
constexpr std::uint64_t kEarlierKey = 0x0123456789ABCDEFull;

std::vector<std::uint64_t> Sorted(const CURLCategoryDB& db, ECategoryPiece piece) {
  std::vector<std::uint64_t> keys(db.GetCount(piece));
  db.GetSet(piece).CopySorted(keys.data());
  return keys;
}

// LoadFile's status, or kThrew.
constexpr std::int32_t kThrew = INT32_MIN;
std::int32_t LoadCatching(CURLCategoryDB& db, const std::u16string& path, const std::u16string& temp) {
  try {
    return db.LoadFile(path.c_str(), temp.c_str());
  } catch (const AException&) {
    return kThrew;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kFuzzMaxInput) return 0;
  const zzfuzz::fs::path& dir = zzfuzz::ScratchDir();
  const std::u16string file = zzfuzz::Wide(dir / "pc_games.dat");
  const std::u16string temp = zzfuzz::Wide(dir);
  zzfuzz::WriteDataFile(dir / "pc_games.dat", data, size);

  CURLCategoryDB db;
  for (ECategoryPiece piece : kPieces) FUZZ_CHECK(db.AddKey(piece, kEarlierKey) == 0);
  const std::int32_t status = LoadCatching(db, file, temp);
  zzfuzz::CheckNoTempFiles();
  FUZZ_CHECK(status == 0 || status == kThrew || status == ascommon::kCategoryWrongKeySize || status == -2);
  std::uint64_t total = 0;
  for (ECategoryPiece piece : kPieces) {
    FUZZ_CHECK(db.GetSet(piece).Contains(kEarlierKey));
    if (status != 0) FUZZ_CHECK(db.GetCount(piece) == 1);
    total += db.GetCount(piece) - 1;
  }
  FUZZ_CHECK(total * ascommon::kCategoryKeySize <= zzfuzz::fs::file_size(dir / "pc_games.dat"));

  // The same file into an empty database, whose sets keep the file's blocks as read when
  // their keys are in order: the same answer, the same keys but the earlier one.
  CURLCategoryDB fresh;
  FUZZ_CHECK(LoadCatching(fresh, file, temp) == status);
  zzfuzz::CheckNoTempFiles();
  for (ECategoryPiece piece : kPieces) {
    const std::vector<std::uint64_t> keys = Sorted(fresh, piece), held = Sorted(db, piece);
    FUZZ_CHECK(std::includes(held.begin(), held.end(), keys.begin(), keys.end()));
    FUZZ_CHECK(held.size() - keys.size() == (fresh.GetSet(piece).Contains(kEarlierKey) ? 0 : 1) ||
               status != 0);
    for (std::uint64_t key : keys) FUZZ_CHECK(fresh.GetSet(piece).Contains(key));
  }

  const std::u16string copy = zzfuzz::Wide(dir / "copy.dat");
  FUZZ_CHECK(db.WriteFile(copy.c_str(), temp.c_str()) == 0);
  CURLCategoryDB again;
  FUZZ_CHECK(LoadCatching(again, copy, temp) == 0);
  for (ECategoryPiece piece : kPieces) FUZZ_CHECK(Sorted(again, piece) == Sorted(db, piece));
  zzfuzz::CheckNoTempFiles();
  return 0;
}
