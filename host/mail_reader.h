// CMailReader: the messages of one input, one at a time: a single message (an .eml file) or
// an mbox (a file whose first line starts with "From "), from a file or standard input
// ("-"). In an mbox a message starts at each "From " line that follows an empty line (or
// starts the file); that line is not part of the message, and the quoted ">From " lines of
// the body lose one ">". Messages are read as they are needed, so a large mbox is never
// held whole.
// Ownership: owns its stream (standard input is borrowed). Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zzhost {

struct MailMessage {
  std::string source;  // the file, with "#N" (1-based) for a message of an mbox
  std::string bytes;   // the message as stored
};

class CMailReader {
 public:
  // Largest message kept; a longer one is reported by Next and skipped.
  static constexpr std::size_t kMaxMessageBytes = std::size_t{64} << 20;

  // HostError when the file cannot be opened.
  explicit CMailReader(const std::string& path);
  ~CMailReader();
  CMailReader(const CMailReader&) = delete;
  CMailReader& operator=(const CMailReader&) = delete;

  // The next message into out; false at the end of the input. HostError on a read error
  // or a message over kMaxMessageBytes (reading can go on with the next one).
  bool Next(MailMessage& out);

 private:
  bool ReadLine(std::string& line);

  std::string m_path;
  std::FILE* m_in = nullptr;
  bool m_owned = false;
  bool m_started = false;  // the first line was looked at
  bool m_mbox = false;
  bool m_done = false;
  std::string m_pending;   // a line read ahead (the next message's "From " line)
  bool m_hasPending = false;
  std::uint64_t m_count = 0;
  char m_buffer[1 << 16];   // bytes read from the stream, m_pos to m_len not yet used
  std::size_t m_pos = 0;
  std::size_t m_len = 0;
};

}  // namespace zzhost
