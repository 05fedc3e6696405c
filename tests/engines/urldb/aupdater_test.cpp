// AUpdater's load loop and update file, through a small updater whose item is one 32-bit
// number: records are applied in order, the first bad record stops the load with its code
// and keeps what came before, a bad digest loads nothing, the update file is optional.
#include "common/aupdater.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "list_files.h"
#include "support/trace_capture.h"

namespace {

using ascommon::CSerializableItem;
using zztest::LittleEndian32;
using Applied = std::vector<std::string>;

constexpr std::uint32_t kUnreadable = 0xBAD;    // a number Deserialize refuses
constexpr std::uint32_t kUnappliable = 0xDEAD;  // a number ApplyItem refuses

class CNumber : public CSerializableItem {
 public:
  std::uint32_t value = 0;
  std::int32_t Serialize(ascommon::IStreamer* pStreamer) override {
    pStreamer->WriteUInt(value);
    return 0;
  }
  std::int32_t Deserialize(ascommon::IStreamer* pStreamer, std::uint64_t& nBytesRead) override {
    value = pStreamer->ReadUInt();
    nBytesRead += 4;
    return value == kUnreadable ? 1 : 0;
  }
};

// Records "operation:number" for every applied item.
class CNumberSource : public ascommon::AUpdater {
 public:
  Applied applied;
  std::int32_t ApplyItem(std::uint32_t nOperation, CSerializableItem* pItem) override {
    const std::uint32_t value = static_cast<CNumber*>(pItem)->value;
    delete pItem;
    if (value == kUnappliable) return 7;
    applied.push_back(std::to_string(nOperation) + ":" + std::to_string(value));
    return 0;
  }
  CSerializableItem* CreateItem() override { return new CNumber(); }
  std::int32_t AddItem(CSerializableItem*) override { return 0; }
  bool ContainsItem(CSerializableItem*) override { return false; }
};

std::string Op(std::uint32_t operation, std::uint32_t number) {
  return LittleEndian32(operation) + LittleEndian32(number);
}

class AUpdaterTest : public ::testing::Test {
 protected:
  // Loads main.dat with update.dat as the update file.
  std::int32_t Load() {
    source.applied.clear();
    trace.Clear();
    return source.Load(zztest::Wide(dir / "main.dat").c_str(),
                       zztest::Wide(dir / "update.dat").c_str(), dir.Wide().c_str());
  }
  std::int32_t LoadMain(const std::string& payload) {
    zztest::WriteListFile(dir / "main.dat", payload);
    return Load();
  }

  zztest::ScratchDir dir;
  zztest::TraceCapture trace;
  CNumberSource source;
};

TEST_F(AUpdaterTest, RecordsAreAppliedUntilTheFirstBadOne) {
  const struct {
    const char* name;
    std::string payload;
    std::int32_t result;
    Applied applied;
    const char* traced;
  } cases[] = {
      {"both operations", Op(1, 10) + Op(~0u, 11), 0, {"1:10", "4294967295:11"}, "Exiting. OK.."},
      {"operation 2", Op(1, 10) + Op(2, 11) + Op(1, 12), -13, {"1:10"}, "database is corrupt"},
      {"no item", Op(1, 10) + LittleEndian32(1), -13, {"1:10"}, "database is corrupt"},
      {"unreadable item", Op(1, 10) + Op(1, kUnreadable) + Op(1, 12), -14, {"1:10"}, ""},
      {"item not applied", Op(1, 10) + Op(1, kUnappliable) + Op(1, 12), -3, {"1:10"}, ""},
      {"item cut short", Op(1, 10) + LittleEndian32(1) + "\x01\x02", -3, {"1:10"},
       "Exception caught while loading URLDB from file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::int64_t blocks = asfn_live_blocks();
    EXPECT_EQ(LoadMain(c.payload), c.result);
    EXPECT_EQ(source.applied, c.applied);
    EXPECT_EQ(asfn_live_blocks(), blocks) << "an item or buffer leaked";
    EXPECT_EQ(trace.Count(c.traced), *c.traced == '\0' ? trace.Count("") : 1);
    EXPECT_EQ(trace.Count("Exiting. OK.."), c.result == 0 ? 1 : 0);
  }
}

TEST_F(AUpdaterTest, DigestAndUpdateFile) {
  // (A main file with a bad digest: the host's "lists dump" test.)
  EXPECT_EQ(LoadMain(Op(1, 10)), 0);  // no update file
  zztest::WriteListFile(dir / "update.dat", Op(1, 20));
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(source.applied, (Applied{"1:10", "1:20"}));
  // With a bad digest nothing of the update file loads, and the load still succeeds.
  zztest::FlipBit(dir / "update.dat", ascommon::kStreamerHeaderSize + 4);  // 20 reads as 21
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(source.applied, Applied{"1:10"});
  zztest::fs::remove(dir / "main.dat");  // without the main file nothing loads
  EXPECT_EQ(Load(), -3);
  EXPECT_TRUE(source.applied.empty());
}

}  // namespace
