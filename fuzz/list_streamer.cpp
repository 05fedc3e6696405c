// Fuzz target: the binary streamer reading a list file. The input becomes a file (see
// zzfuzz::WriteDataFile) that is opened for reading and read record by record the way the
// list loader reads it: operation, key length, key bytes. Checks: a file that opens has a
// valid size, no value is read beyond the end of the file (such a read throws), and no
// temporary file is left behind, whatever was read.
#include <cstdint>

#include "common/asexception.h"
#include "common/binstreamer.h"
#include "common/streamer_format.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kFuzzMaxInput) return 0;
  const zzfuzz::fs::path file = zzfuzz::ScratchDir() / "list.cas";
  zzfuzz::WriteDataFile(file, data, size);
  const ascommon::usstring path(zzfuzz::Wide(file).c_str());
  const ascommon::usstring temp(zzfuzz::Wide(zzfuzz::ScratchDir()).c_str());

  std::uint64_t position = ascommon::kStreamerHeaderSize;
  std::uint64_t fileSize = 0;
  try {
    ascommon::CBinaryStreamer streamer(path, ascommon::EStreamMode::Read, temp, 0);
    fileSize = streamer.GetFileSize();
    FUZZ_CHECK(fileSize >= ascommon::kStreamerHeaderSize);
    FUZZ_CHECK(fileSize == zzfuzz::fs::file_size(file));
    // Every read that returns stays inside the file.
    const auto read = [&](std::uint64_t bytes) { FUZZ_CHECK((position += bytes) <= fileSize); };
    ascommon::sstring key;
    for (char byte = 0;;) {
      streamer.ReadUInt();
      read(4);
      const std::uint32_t length = streamer.ReadUInt();
      read(4);
      if (length > fileSize - position) {  // longer than what is left: even one byte must throw
        streamer.ReadString(&byte, 1);
        read(1);
        break;
      }
      streamer.ReadString(key, length);
      read(length);
    }
    streamer.Close();
  } catch (const AException&) {
    // Damaged, truncated or short: the streamer says so by throwing.
  } catch (const std::bad_alloc&) {
  }
  zzfuzz::CheckNoTempFiles();
  return 0;
}
