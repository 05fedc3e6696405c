// "zazozor mail": how inputs are cut into messages (single messages, mbox with quoted
// "From " lines, CRLF files, NULs), and the command end to end over the sample messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "errors.h"
#include "mail_reader.h"
#include "support/bin_dir.h"
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

// Each rule reads one kind of mail content; a meta-rule runs them all (|||), adds a header and
// extends one, so the JSON line's hits say which held on each sample message. (The path
// heuristic fails without Received lines, so it runs only behind ThreeHops.)
constexpr char kMailRules[] = R"(
rule SubjectNamed { condition: match("Lunch", Headers::"subject", EXACT); actions: none; metadata: none; }
rule AnyHeader { condition: match("lee@example", Headers::ALL, EXACT_INSENSITIVE); actions: none; metadata: none; }
rule PlainText { condition: match("shared drive", Parts::TextPlain, EXACT); actions: none; metadata: none; }
rule HtmlDecoded { condition: match("V1AGRA</b>", Parts::TextHTML, EXACT, DECODED); actions: none; metadata: none; }
rule HtmlRaw { condition: match("V1AGRA</b>", Parts::TextHTML, EXACT, RAW); actions: none; metadata: none; }
rule Links { condition: match("pharmacy\.example", Urls::ALL, REGEX); actions: none; metadata: none; }
rule Disposition { condition: match("attachment", PartHeaders::"content-disposition", EXACT); actions: none; metadata: none; }
rule HasHtml { condition: exists(Parts::TextHTML); actions: none; metadata: none; }
rule EmptySubject { condition: is_empty(Headers::"Subject"); actions: none; metadata: none; }
rule Attachment40 { condition: size_greater_than(Message::AnyAttachmentSize, 40); actions: none; metadata: none; }
rule Phrase { condition: match("(phrase matching)?on the shared|no such words", Parts::Text, EXACT); actions: none; metadata: none; }
rule Disguised { condition: match("viagra", Parts::Text, OBFUSCATED); actions: none; metadata: none; }
rule ThreeHops { condition: match("^BRRRF", Headers::ALL, REGEX_SUMMARY); actions: none; metadata: none; }
rule LinkLine { condition: match("^BL{1}X+", Parts::TextPlain, REGEX_SUMMARY); actions: none; metadata: none; }
rule DslRelay { condition: exec(H_FIRST_RECV_CONTAINS_DSL_LIKE_WORDS); actions: none; metadata: none; }
metarule DslPath { condition: ThreeHops && DslRelay; actions: none; metadata: none; }
metarule All {
  condition: SubjectNamed ||| AnyHeader ||| PlainText ||| HtmlDecoded ||| HtmlRaw ||| Links
             ||| Disposition ||| HasHtml ||| EmptySubject ||| Attachment40 ||| Phrase
             ||| Disguised ||| ThreeHops ||| LinkLine ||| DslPath;
  actions: add_header("X-Seen", "yes"); add_to_header("Subject", " [seen]");
  metadata: priority = 1;
}
)";

// The hits of a JSON line, sorted.
std::vector<std::string> Hits(const std::string& line) {
  std::vector<std::string> hits;
  const std::size_t start = line.find("\"hits\": [");
  if (start == std::string::npos) return hits;
  const std::size_t end = line.find(']', start);
  for (std::size_t at = line.find('"', start + 9); at < end; at = line.find('"', at + 1)) {
    const std::size_t close = line.find('"', at + 1);
    hits.push_back(line.substr(at + 1, close - at - 1));
    at = close;
  }
  std::sort(hits.begin(), hits.end());
  return hits;
}

TEST(MailCommandTest, RulesReadEveryKindOfMailContent) {
  zztest::ScratchDir scratch;
  zztest::WriteBytes(scratch.Path() / "mail.slf", kMailRules);
  // The word finder's costs come from the rule file's folder.
  std::filesystem::copy_file(zztest::SourceDir() / "data/rules/aswfconf.dat",
                             scratch.Path() / "aswfconf.dat");
  const std::string mail = (zztest::SourceDir() / "data/mail/").string();
  const struct {
    const char* file;
    std::vector<std::string> hits;
  } rows[] = {
      {"plain.eml", {"All", "SubjectNamed"}},
      {"received.eml",
       {"All", "AnyHeader", "DslPath", "DslRelay", "Phrase", "PlainText", "ThreeHops"}},
      {"spam.eml", {"All", "Disguised", "HasHtml", "HtmlRaw", "LinkLine", "Links"}},
      {"attachment.eml", {"All", "Attachment40", "Disposition", "HasHtml"}},
  };
  for (const auto& row : rows) {
    const zztest::HostRun run = zztest::RunHost(
        {"mail", "--rules", "mail.slf", mail + row.file}, scratch.Path(), "",
        {"ZAZOZOR_TRACE_LEVEL=off"});
    ASSERT_EQ(run.status, 0) << row.file << ": " << run.err;
    EXPECT_EQ(Hits(run.out), row.hits) << row.file << ": " << run.out;
    EXPECT_NE(run.out.find("\"changed_headers\": [\"SUBJECT: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"X-Seen: yes\""), std::string::npos) << run.out;
  }
  EXPECT_EQ(zztest::RunHost({"mail", "--no-rules", "--explain", "x"}, scratch.Path()).status, 2);
}

}  // namespace
