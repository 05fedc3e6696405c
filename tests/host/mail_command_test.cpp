// "zazozor mail": how inputs are cut into messages (single messages, mbox with quoted
// "From " lines, CRLF files, NULs), and the command end to end over the sample messages.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "errors.h"
#include "mail_reader.h"
#include "support/host_process.h"
#include "support/scratch_dir.h"

namespace {

std::vector<std::string> Messages(const zztest::ScratchDir& scratch, const std::string& bytes) {
  const std::string path = (scratch.Path() / "input").string();
  std::ofstream(path, std::ios::binary) << bytes;
  zzhost::CMailReader reader(path);
  std::vector<std::string> out;
  zzhost::MailMessage message;
  while (reader.Next(message)) out.push_back(message.bytes);
  return out;
}

TEST(MailReaderTest, CutsMboxesAndKeepsSingleMessagesWhole) {
  zztest::ScratchDir scratch;
  const std::string nul("a\0b\n", 4);
  const struct {
    std::string input;
    std::vector<std::string> messages;
  } rows[] = {
      {"", {}},
      {"Subject: x\n\nFrom here on\n", {"Subject: x\n\nFrom here on\n"}},
      {"Subject: x\n\n" + nul, {"Subject: x\n\n" + nul}},
      {"From a@b Mon\nS: 1\n\nbody\n\nFrom c@d Tue\nS: 2\n\n>From me\n>>From you\n",
       {"S: 1\n\nbody\n", "S: 2\n\nFrom me\n>From you\n"}},
      // A "From " line not after an empty line stays in the message.
      {"From a\nS: 1\n\nx\nFrom y\n", {"S: 1\n\nx\nFrom y\n"}},
      {"From a\r\nS: 1\r\n\r\nx\r\n\r\nFrom b\r\nS: 2\r\n", {"S: 1\r\n\r\nx\r\n", "S: 2\r\n"}},
      {"From a\n", {""}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Messages(scratch, row.input), row.messages) << row.input;
  }
  EXPECT_THROW(zzhost::CMailReader((scratch.Path() / "missing").string()), zzhost::HostError);
}

}  // namespace
