// The streamer file: every value kind with its exact bytes behind the header and the
// scrambling, digest and size checks, the messages of every failure, and temporary files.
#include "common/binstreamer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "common/md5.h"
#include "support/scratch_dir.h"
#include "support/what_of.h"
#include "zzplat/paths.h"

namespace ascommon {
namespace {

namespace fs = std::filesystem;

std::u16string W(const std::string& text) { return zzplat::Utf8ToUtf16Lenient(text); }

std::string Md5(const std::string& bytes) {
  std::uint8_t digest[16];
  CMD5::Digest(bytes.data(), bytes.size(), digest);
  return std::string(reinterpret_cast<const char*>(digest), 16);
}

// The plain 128-byte header of a payload: digest, description, two zero reserved words,
// version.
std::string Header(const std::string& payload, std::uint32_t version) {
  std::string header(kStreamerHeaderSize, '\0');
  header.replace(0, 16, Md5(payload));
  header.replace(16, 32, "File description should go here!");
  std::memcpy(&header[124], &version, 4);
  return header;
}

class BinStreamerTest : public ::testing::Test {
 protected:
  void TearDown() override { asfn_fail_at(0, ASFN_FAIL_OFF); }

  // The path in the product's form, as messages and trace lines show it.
  std::string Shown(const std::string& name) const { return m_dir + "\\" + name; }
  usstring P(const std::string& name) const { return usstring(W(Shown(name)).c_str()); }
  std::string Local(const std::string& name) const { return m_dir + "/" + name; }

    void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(Local(name), std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Local(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string Scramble(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(c ^ kStreamerScrambleKey);
    return bytes;
  }
  std::string Plain(const std::string& name) const { return Scramble(ReadFile(name)); }  // unscrambled
  void WritePlainFile(const std::string& name, const std::string& payload) const {
    WriteFile(name, Scramble(Header(payload, 0) + payload));
  }
  int TempFilesLeft() const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) n += entry.path().filename().string().rfind("kvtz", 0) == 0;
    return n;
  }

  CBinaryStreamer* Writer(const std::string& name, std::uint32_t version = 0) const {
    return new CBinaryStreamer(P(name), EStreamMode::Write, W(m_dir).c_str(), version);
  }
  CBinaryStreamer* Reader(const std::string& name) const {
    return new CBinaryStreamer(P(name), EStreamMode::Read, W(m_dir).c_str(), 0);
  }
  std::string OpenError(const std::string& name) const { return zztest::WhatOf([&] { delete Reader(name); }); }

  zztest::ScratchDir m_scratch;
  std::string m_dir = m_scratch.Path().string();
};

// The value kinds the product stores, in slot order: the exact header and payload bytes,
// then the values back.
TEST_F(BinStreamerTest, ValuesRoundTripWithTheirExactBytes) {
  {
    std::unique_ptr<CBinaryStreamer> w(Writer("values.dat", 7));
    w->WriteUInt32Raw(0x01020304);
    w->WriteUInt(0xFFFFFFFEu);
    w->WriteInt(-2);
    w->WriteSizeT(0x100000002ull);
    w->WriteSizeT(0xFFFFFFFFu, true);
    w->WriteString(sstring("abc"));
    w->WriteString(sstring());
    w->WriteString("xyz!", 2);
    w->Printf("%d-%s-%S", 42, "ab", u"\u00E9");
  }
  const std::string payload =
      std::string("\4\3\2\1\xFE\xFF\xFF\xFF\xFE\xFF\xFF\xFF\2\0\0\0\1\0\0\0\xFF\xFF\xFF\xFF", 24) + "abcxy42-ab-\xC3\xA9";
  EXPECT_EQ(Plain("values.dat"), Header(payload, 7) + payload);

  std::unique_ptr<CBinaryStreamer> r(Reader("values.dat"));
  EXPECT_EQ(TempFilesLeft(), 1) << "a reader works on an unscrambled temporary copy";
  EXPECT_EQ(r->GetVersion(), 7u);
  EXPECT_EQ(r->GetFileSize(), kStreamerHeaderSize + payload.size());
  // A braced list evaluates in order: the reads run as written.
  const std::vector<std::int64_t> numbers{r->ReadUInt32Raw(), r->ReadUInt(), r->ReadInt()};
  EXPECT_EQ(numbers, (std::vector<std::int64_t>{0x01020304, 0xFFFFFFFE, -2}));
  EXPECT_EQ(r->ReadSizeT(), 0x100000002ull);
  EXPECT_EQ(r->ReadSizeT(true), SIZE_MAX) << "the 32-bit form is sign-extended";
  sstring text("old");
  char bytes[10];
  r->ReadString(text, 3);
  r->ReadString(bytes, 2);
  r->ReadString(bytes + 2, 8);
  EXPECT_STREQ(text.c_str(), "abc");
  EXPECT_EQ(std::string(bytes, 10), "xy42-ab-\xC3\xA9");
  EXPECT_EQ(zztest::WhatOf([&] { r->ReadChar(); }), "ASException - MESSAGE: cannot read from file");
  r.reset();
  EXPECT_EQ(TempFilesLeft(), 0);
}

// One changed bit after the header: the digest check refuses the file, naming the first
// differing digest byte, and leaves no temporary file.
TEST_F(BinStreamerTest, ChangedPayloadBitFailsTheDigest) {
  const std::string payload(1000, 'p');
  WritePlainFile("f.dat", payload);
  std::string changed = payload, bytes = ReadFile("f.dat");
  bytes[1127] ^= 0x10;  // the last byte
  WriteFile("f.dat", bytes);
  changed[999] ^= 0x10;
  const std::string want = Md5(payload), got = Md5(changed);
  int position = 0;
  while (want[position] == got[position]) ++position;
  EXPECT_EQ(OpenError("f.dat"), "ASException - MESSAGE: File CRC does not match with its stored CRC! [" + Shown("f.dat") +
                                    "] position " + std::to_string(position));
  EXPECT_EQ(TempFilesLeft(), 0);
}

// Sizes around the header and the 50 MB limit.
TEST_F(BinStreamerTest, TruncatedAndOversizedFiles) {
  const std::string path = Shown("t.dat");
  const std::string crc = "ASException - MESSAGE: File CRC does not match with its stored CRC! [";
  const std::string header = "ASException - MESSAGE: Could not read header component from file";
  // The limit is checked before anything is read, so sparse files do.
  const struct { std::uintmax_t size; std::string message; /* the start of it */ } cases[] = {
      {100, header},
      {kStreamerMaxFileSize, crc + path + "]"},
      {kStreamerMaxFileSize + 1,
       "ASFileException - CODE: -51 MESSAGE: file [" + path + "]ize exceeds 50 MB. It is to large [" +
           path + "]"},
  };
  for (const auto& c : cases) {
    WritePlainFile("t.dat", std::string(40, 'x'));
    fs::resize_file(Local("t.dat"), c.size);
    EXPECT_EQ(OpenError("t.dat").rfind(c.message, 0), 0u) << c.size;
  }
  EXPECT_EQ(OpenError("none.dat"),
            "ASFileException - CODE: -3 MESSAGE: Could not access file [" + Shown("none.dat") + "]");
  // A file of several transform blocks: its digest is taken block by block, its stored
  // digest from the first.
  std::string big(3 << 20, 'y');
  big[(3 << 20) - 1] = 'z';
  WritePlainFile("big.dat", big);
  EXPECT_EQ(OpenError("big.dat"), "(no exception)");
  big[(3 << 20) - 1] = 'y';
  WriteFile("big.dat", Scramble(Header(big, 0) + big.substr(0, big.size() - 1) + "z"));
  EXPECT_EQ(OpenError("big.dat").rfind(crc, 0), 0u);
  EXPECT_EQ(TempFilesLeft(), 0);
}

// Strings holding a terminator, the wrong mode, null arguments: each refused with its message.
TEST_F(BinStreamerTest, RefusedReadsAndWrites) {
  WritePlainFile("m.dat", std::string("ab\0de", 5));
  std::unique_ptr<CBinaryStreamer> reader(Reader("m.dat"));
  std::unique_ptr<CBinaryStreamer> writer(Writer("w.dat"));
  sstring text("before");
  const struct { std::function<void()> op; std::string message; } cases[] = {
      {[&] { reader->ReadString(text, 5); }, "read string contains terminating characters!"},
      // A length beyond the file fails without allocating it.
      {[&] { reader->ReadString(text, 0x7FFFFFFF); }, "cannot read from file"},
      {[&] { reader->WriteUInt(1); }, "wrong stream mode: read-only"},
      {[&] { writer->ReadDouble(); }, "wrong stream mode: write-only"},
  };
  for (const auto& c : cases) EXPECT_EQ(zztest::WhatOf(c.op), "ASException - MESSAGE: " + c.message);
  EXPECT_STREQ(text.c_str(), "before");
  EXPECT_EQ(zztest::WhatOf([&] { CBinaryStreamer(P("x.dat"), EStreamMode::Write, P("none"), 0); }),
            "ASFileException - MESSAGE: Could not create a temp filename in folder \"" + Shown("none") + "\"");
}

// Every allocation failure in a write-then-read cycle ends in a clean exception or a
// correct result, with no block leaked and no temporary file left.
TEST_F(BinStreamerTest, AllocationFailureSweep) {
  const std::string expected = "a long text beyond the inline buffer of sstring";
  auto cycle = [&] {
    {
      std::unique_ptr<CBinaryStreamer> writer(Writer("a.dat"));
      writer->WriteSizeT(expected.size(), true);
      writer->WriteString(sstring(expected.c_str()));
      writer->Close();  // failures while closing throw here, not in the destructor
    }
    std::unique_ptr<CBinaryStreamer> reader(Reader("a.dat"));
    sstring text;
    reader->ReadString(text, reader->ReadSizeT(true));
    return std::string(text.c_str(), text.length());
  };
  ASSERT_EQ(cycle(), expected);
  bool reached = true;
  for (std::uint64_t n = 1; reached; ++n) {
    const std::int64_t live = asfn_live_blocks();
    const std::uint64_t before = asfn_allocation_count();
    asfn_fail_at(n, ASFN_FAIL_ONCE);
    try {
      EXPECT_EQ(cycle(), expected) << "failure at " << n;
    } catch (const ASException&) {
    } catch (const std::bad_alloc&) {
    }
    reached = asfn_allocation_count() - before >= n;
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_TRUE(asfn_live_blocks() == live && TempFilesLeft() == 0) << "failure at " << n;
  }
}

}  // namespace
}  // namespace ascommon
