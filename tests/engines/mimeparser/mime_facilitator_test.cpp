// The MIME facilitator over the sample messages of data/mail: headers, tree shape, decodings,
// charsets, phrases, reuse of the parsed message, broken input and parsing on four threads.
#include "engines/mimeparser/mimefacilitator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/convert.h"
#include "common/stringconversion.h"
#include "engines/mimeparser/headerbuilder.h"
#include "engines/mimeparser/messagebuilder.h"
#include "support/bin_dir.h"

// GLib (under GMime) is not instrumented: ThreadSanitizer does not see the locks of its
// allocator and caches, so the memory operations it makes are left out.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}

namespace {

using namespace nsEmlComponents;
using mimeparser::CMimeFacilitator;

std::string Sample(const char* name) {
  std::ifstream in(zztest::SourceDir() / "data/mail" / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf8(const ascommon::usstring& text) {
  ascommon::sstring out;
  ascommon::UsstringToUtf8(text, out);
  return out.c_str() != nullptr ? out.c_str() : "";
}

const ascommon::CStringConversion& Converter() {
  static const ascommon::CStringConversion converter(zztest::BinDir().u16string().c_str(), true);
  return converter;
}

// One mail item: the raw message in a blackbox, bound by a facilitator.
struct Mail {
  explicit Mail(const std::string& bytes, const ascommon::CStringConversion* converter = nullptr)
      : facilitator(converter) {
    EXPECT_EQ(mimeparser::SetRawMessage(blackbox, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(facilitator.Bind(blackbox), 0);
  }
  ~Mail() { mimeparser::ReleaseRawMessage(blackbox); }
  std::string Value(const char* name) {
    CHeader** header = facilitator.GetHeaders()->Lookup(name);
    return header != nullptr ? Utf8((*header)->GetValue()) : "<none>";
  }
  bool Phrase(std::int32_t kind, const std::string& phrase) const {
    ascommon::usstring wide;
    ascommon::Utf8ToUsstring(phrase.data(), phrase.size(), wide);
    return facilitator.BodiesHavePhrase(kind, wide);
  }
  ascommon::CBlackBox blackbox;
  CMimeFacilitator facilitator;
};

// "{...}" for a container, "type:name:size" for a leaf, children in order.
std::string Dump(const CPartsTreeNode* node) {
  if (node == nullptr) return "";
  if (node->body == nullptr) {
    std::string out = "{";
    for (std::uint64_t i = 0; i < node->children.GetSize(); ++i)
      out += (i > 0 ? " " : "") + Dump(node->children[i]);
    return out + "}";
  }
  const CPartBody& body = *node->body;
  return std::to_string(body.GetType()) + ":" + (body.name.c_str() ? body.name.c_str() : "") +
         ":" + std::to_string(body.size);
}

// The skip-th body of the type in document order, or null.
const CPartBody* FindLeaf(const CPartsTreeNode* node, std::int32_t type, int& skip) {
  if (node == nullptr) return nullptr;
  if (node->body != nullptr && node->body->GetType() == type && skip-- == 0) return node->body;
  for (std::uint64_t i = 0; i < node->children.GetSize(); ++i) {
    if (const CPartBody* found = FindLeaf(node->children[i], type, skip)) return found;
  }
  return nullptr;
}
const CPartBody* Leaf(const CPartsTreeNode* node, std::int32_t type, int skip = 0) {
  return FindLeaf(node, type, skip);
}

TEST(MimeFacilitatorTest, HeadersDecodedInOrderWithHopsAndAddresses) {
  Mail mail(Sample("received.eml"));
  std::string names;
  const auto* list = mail.facilitator.GetHeaderList();
  for (std::uint64_t i = 0; i < list->GetSize(); ++i) names += (*list)[i]->GetName().c_str() + std::string(" ");
  EXPECT_EQ(names, "RECEIVED RECEIVED RECEIVED FROM TO MIME-VERSION CONTENT-TYPE SUBJECT DATE ");
  const CHeader* received = *mail.facilitator.GetHeaders()->Lookup("RECEIVED");
  ASSERT_EQ(received->GetKind(), kHeaderReceived);
  const auto& hops = static_cast<const CHeaderReceived*>(received)->hops;
  const char* expected[][2] = {{"mx2.example.net", "198.51.100.20"},
                               {"relay.example.net", "2001:db8::25"},
                               {"pc-77.dsl.example.com", "203.0.113.77"}};
  ASSERT_EQ(hops.GetSize(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_STREQ(hops[i].host.c_str(), expected[i][0]);
    EXPECT_STREQ(hops[i].ip.c_str(), expected[i][1]);
  }
  EXPECT_EQ(std::count(received->GetRaw().c_str(), received->GetRaw().c_str() + received->GetRaw().length(), '\n'), 2);
  const auto* to = static_cast<const CHeaderAddress*>(*mail.facilitator.GetHeaders()->Lookup("TO"));
  ASSERT_TRUE(to->GetKind() == kHeaderAddress && to->addresses.GetSize() == 1);
  EXPECT_EQ(Utf8(to->addresses[0]), "kim@example.org");
  EXPECT_EQ(mail.Value("CONTENT-TYPE"), "text/plain; charset=utf-8");
  EXPECT_EQ(std::string(mail.facilitator.GetHeaderSummary()->c_str()).back(), 'E');

  // RFC 2047 in UTF-8 and ISO-8859-2, raw 8-bit bytes kept, a bracketed sender.
  EXPECT_EQ(Mail(Sample("alternative.eml")).Value("SUBJECT"), "Meeting notes \u2013 March");
  EXPECT_EQ(Mail(Sample("charsets.eml")).Value("SUBJECT"), "P\u0159ehled objedn\u00e1vek");
  Mail junk("Subject: caf\xe9\r\n\r\nbody\r\n");
  EXPECT_EQ(junk.Value("SUBJECT"), "caf\u00e9");
  EXPECT_STREQ((*junk.facilitator.GetHeaders()->Lookup("SUBJECT"))->GetRaw().c_str(), "caf\xe9");
  nsEmlComponents::CReceivedHop hop;
  mimeparser::ParseReceivedHop("from [192.0.2.7] (helo=x) by y", 31, hop);
  EXPECT_STREQ(hop.host.c_str(), "[192.0.2.7]");
  EXPECT_STREQ(hop.ip.c_str(), "192.0.2.7");
}

TEST(MimeFacilitatorTest, TreeShapeTransferDecodingAndHtml) {
  const struct { const char* file; const char* dump; } cases[] = {
      {"plain.eml", "52::94"},
      {"alternative.eml", "{52::64 53::157}"},
      {"attachment.eml", "{{52::24 53::57} 51:report.pdf:52 52:figures.txt:34}"},
  };
  for (const auto& c : cases) {
    Mail mail(Sample(c.file));
    EXPECT_EQ(Dump(mail.facilitator.GetPartsTree()->GetRoot()), c.dump) << c.file;
    EXPECT_EQ(mail.facilitator.GetTotalSize(), Sample(c.file).size());
  }
  Mail attachment(Sample("attachment.eml"));
  const auto* figures = static_cast<const CPartBodyTextPlain*>(
      Leaf(attachment.facilitator.GetPartsTree()->GetRoot(), kBodyTextPlain, 1));
  EXPECT_EQ(Utf8(figures->text), "Quarterly figures\nQ1: 120\nQ2: 135\n");

  Mail page(Sample("html_links.eml"));  // quoted-printable UTF-8
  const auto* html =
      static_cast<const CPartBodyTextHtml*>(Leaf(page.facilitator.GetPartsTree()->GetRoot(), kBodyTextHtml));
  ASSERT_NE(html, nullptr);
  EXPECT_NE(Utf8(html->decoded).find("Caf\u00e9 corner reopens"), std::string::npos);
  EXPECT_NE(std::string(html->rawUtf8.c_str()).find("<a href=\"https://example.com/garden\">"), std::string::npos);
  ASSERT_EQ(html->links.GetSize(), 2u);
  EXPECT_EQ(Utf8(html->links[1]), "https://example.com/a?x=1&y=2");
}

TEST(MimeFacilitatorTest, CharsetsThroughTheConverterElseLatin1) {
  Mail converted(Sample("charsets.eml"), &Converter());
  const CPartsTreeNode* root = converted.facilitator.GetPartsTree()->GetRoot();
  EXPECT_EQ(Utf8(static_cast<const CPartBodyTextPlain*>(Leaf(root, kBodyTextPlain, 0))->text),
            "Dobr\u00fd den,\nzas\u00edl\u00e1me p\u0159ehled objedn\u00e1vek za b\u0159ezen.\nS pozdravem\n");
  EXPECT_EQ(Utf8(static_cast<const CPartBodyTextPlain*>(Leaf(root, kBodyTextPlain, 1))->text),
            "\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439\u0442\u0435! "
            "\u0421\u0447\u0451\u0442 \u0432\u043e \u0432\u043b\u043e\u0436\u0435\u043d\u0438\u0438.\n");
  Mail latin1(Sample("charsets.eml"));  // no converter: ISO-8859-2 read as ISO-8859-1
  EXPECT_TRUE(latin1.Phrase(kBodyTextPlain, "p\u00f8ehled") && !latin1.Phrase(kBodyTextPlain, "p\u0159ehled"));
  EXPECT_TRUE(converted.Phrase(kBodyTextPlain, "P\u0158EHLED objedn\u00e1vek"));
  // The two bodies are consecutive in the index, but a phrase never spans bodies.
  EXPECT_FALSE(converted.Phrase(kBodyTextPlain, "pozdravem \u0437\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439\u0442\u0435"));
}

TEST(MimeFacilitatorTest, PhrasesPerBodyKindIgnoringCaseAndSeparators) {
  Mail spam(Sample("spam.eml"));
  const struct { std::int32_t kind; const char* phrase; bool found; } cases[] = {
      {kBodyTextPlain, "v1agra", true},        {kBodyTextHtml, "V1AGRA", true},
      {kBodyTextHtml, "cheap   v1agra", true}, {kBodyTextPlain, "buy now", true},
      {kBodyTextPlain, "now buy", false},      {kBodyTextHtml, "80 off", true},
      {kBodyTextPlain, "pharmacy example", true}, {kBodyTextHtml, "pharmacy", false},
      {kBodyTextPlain, "viagra", false},       {kBodyTextPlain, "v1agr", false},
      {kBodyTextPlain, "prescription needed cheap", false}, {kBodyTextPlain, "--", false},
      {kBodyOther, "v1agra", false},
  };
  for (const auto& c : cases) EXPECT_EQ(spam.Phrase(c.kind, c.phrase), c.found) << c.phrase;
}

TEST(MimeFacilitatorTest, ParsedObjectsStayInTheBlackboxForLaterBinds) {
  Mail mail(Sample("alternative.eml"));
  CMimeFacilitator second;
  ASSERT_EQ(second.Bind(mail.blackbox), 0);
  EXPECT_EQ(second.GetPartsTree(), mail.facilitator.GetPartsTree());
  EXPECT_EQ(second.GetHeaders(), mail.facilitator.GetHeaders());
  // Without the parts tree the message is parsed again; the headers object stays.
  mail.blackbox.RemoveObject(mimeparser::kPartsTreeId);
  ASSERT_EQ(second.Bind(mail.blackbox), 0);
  EXPECT_EQ(second.GetHeaders(), mail.facilitator.GetHeaders());
  EXPECT_EQ(Dump(second.GetPartsTree()->GetRoot()), "{52::64 53::157}");
  // An item filled by its caller with parsed objects and no raw message binds too.
  ascommon::CBlackBox filled;
  filled.SetGenericObject(mimeparser::kHeadersMapId, mail.blackbox.GetGenericObjectRW(mimeparser::kHeadersMapId));
  filled.SetGenericObject(mimeparser::kPartsTreeId, mail.blackbox.GetGenericObjectRW(mimeparser::kPartsTreeId));
  ASSERT_EQ(second.Bind(filled), 0);
  EXPECT_EQ(second.GetHeaders(), mail.facilitator.GetHeaders());
  ascommon::CBlackBox empty;
  EXPECT_EQ(second.Bind(empty), -1);
  EXPECT_EQ(second.GetHeaders(), nullptr);
}

// Every node reachable from the root, no body larger than the message, every listed header
// name in the map.
void ExpectConsistent(CMimeFacilitator& facilitator, const std::string& what) {
  const CPartsTree* tree = facilitator.GetPartsTree();
  ASSERT_NE(tree, nullptr) << what;
  EXPECT_EQ(tree->CountFromRoot(), tree->GetNodeCount()) << what;
  for (int type : {kBodyOther, kBodyTextPlain, kBodyTextHtml}) {
    for (int i = 0; const CPartBody* body = Leaf(tree->GetRoot(), type, i); ++i)
      EXPECT_LE(body->size, facilitator.GetTotalSize()) << what;
  }
  const auto* list = facilitator.GetHeaderList();
  for (std::uint64_t i = 0; i < list->GetSize(); ++i)
    EXPECT_NE(facilitator.GetHeaders()->Lookup((*list)[i]->GetName()), nullptr) << what;
}

TEST(MimeFacilitatorTest, BrokenMessagesGiveWhatCouldBeRead) {
  std::string deep = "Subject: deep\n", wide = "Content-Type: multipart/mixed; boundary=w\n\n";
  for (int i = 0; i < 200; ++i)
    deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
  for (int i = 0; i < 1500; ++i) wide += "--w\nContent-Type: text/plain\n\nx\n";
  const struct { const char* what; std::string bytes; const char* dump; } cases[] = {
      {"no closing boundary", "Content-Type: multipart/mixed; boundary=q\n\n--q\n\nfirst\n--q\n\nsecond", "{52::5 52::6}"},
      {"bad base64", "Content-Transfer-Encoding: base64\n\naGVs*!bG8=\n====\n", "52::5"},
      {"NULs and junk", std::string("Sub\xff\x00ject: a\0b\n\n\0\0body\xc3", 23), "52::23"},
      {"no header block", "just some text\nwithout headers", "52::30"},
      {"empty", "", ""},
      {"nested 200 deep", deep + "\nend\n", nullptr},
      {"1500 parts", wide, nullptr},
      {"1 MB garbage", std::string(1 << 20, '\x9c') + "\n--\r\n=?x?q?", nullptr},
  };
  for (const auto& c : cases) {
    Mail mail(c.bytes);
    ExpectConsistent(mail.facilitator, c.what);
    if (c.dump != nullptr) {
      EXPECT_EQ(Dump(mail.facilitator.GetPartsTree()->GetRoot()), c.dump) << c.what;
    }
  }
  // 8-bit text without a charset: UTF-8 where it is well-formed, else Latin-1 byte by byte.
  Mail bare("Subject: s\n\ncaf\xe9 caf\xc3\xa9 \xf0\x9f\x98\x80\xf0\x9f\n");
  EXPECT_EQ(Utf8(static_cast<const CPartBodyTextPlain*>(Leaf(bare.facilitator.GetPartsTree()->GetRoot(), kBodyTextPlain))->text),
            "caf\u00e9 caf\u00e9 \U0001F600\u00f0\u009f\n");
  Mail nested(deep + "\nend\n");
  std::uint32_t depth = 0;
  for (const CPartsTreeNode* n = nested.facilitator.GetPartsTree()->GetRoot(); n != nullptr;
       n = n->children.IsEmpty() ? nullptr : n->children[0])
    ++depth;
  EXPECT_EQ(depth, mimeparser::kMaxDepth);
  // Reading stops at the line of the boundary parameter past the bound (here the 129th).
  const std::size_t cut = mimeparser::ReadableLength(deep.data(), deep.size());
  EXPECT_EQ(deep.substr(cut, 45), "Content-Type: multipart/mixed; boundary=b128\n");
  EXPECT_EQ(mimeparser::ReadableLength(wide.data(), wide.size()), wide.size());
  EXPECT_EQ(Mail(wide).facilitator.GetPartsTree()->GetNodeCount(), mimeparser::kMaxParts);
}

TEST(MimeFacilitatorThreadTest, FourThreadsParseDifferentMessages) {
  const char* files[] = {"plain.eml", "attachment.eml", "charsets.eml", "spam.eml"};
  std::vector<std::string> expected;
  for (const char* file : files) expected.push_back(Dump(Mail(Sample(file), &Converter()).facilitator.GetPartsTree()->GetRoot()));
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string bytes = Sample(files[t]);
      for (int round = 0; round < 50; ++round) {
        Mail mail(bytes, &Converter());
        mismatches[t] += Dump(mail.facilitator.GetPartsTree()->GetRoot()) != expected[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
