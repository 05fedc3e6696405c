// URL parse record: escaping and the path/host/domain pieces as one-line dumps, the suffix
// set against a linear reference, allocation failure, the lazily built table under many
// threads, and the generated suffix tables against a linear reference.
#include "common/urlutils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/trace_capture.h"

using ascommon::CParsedURL;
using ascommon::CSuffixTable;

namespace {

const char* const kCommonTable[] = {
#include "common/double_extensions.inc"
};
const char* const kURLDBTable[] = {
#include "engines/urldb/urldb_double_extensions.inc"
};

std::string Piece(const char* start, size_t length) {
  return start == nullptr ? "null" : "<" + std::string(start, length) + ">";
}

std::string Folded(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// "escaped path host domain", each piece as <text> or null; a piece whose lower-case form
// is not its folded text at the same offset of the lower-case copy is marked "!".
std::string Dump(const CParsedURL& url) {
  using Getter = void (CParsedURL::*)(const char*&, size_t&) const;
  const Getter pieces[][2] = {{&CParsedURL::GetURL, &CParsedURL::GetURLLower},
                              {&CParsedURL::GetPath, &CParsedURL::GetPathLower},
                              {&CParsedURL::GetHost, &CParsedURL::GetHostLower},
                              {&CParsedURL::GetDomain, &CParsedURL::GetDomainLower}};
  const char *base, *lowerBase;
  size_t n;
  url.GetURL(base, n);
  url.GetURLLower(lowerBase, n);
  std::string out;
  for (const auto& pair : pieces) {
    const char *start, *lower;
    size_t length, lowerLength;
    (url.*pair[0])(start, length);
    (url.*pair[1])(lower, lowerLength);
    const bool same = start == nullptr ? lower == nullptr && lowerLength == 0
                                       : lower != nullptr && length == lowerLength &&
                                             start - base == lower - lowerBase &&
                                             Folded(std::string(start, length)) ==
                                                 std::string(lower, length);
    out += (out.empty() ? "" : " ") + Piece(start, length) + (same ? "" : "!");
  }
  return out;
}

template <class Text>
std::string Parse(const Text& text) {
  CParsedURL url;
  const int status = url.ParseURL(text.data(), text.size());
  return status == 0 ? Dump(url) : "status " + std::to_string(status);
}

bool IsZeroed(const CParsedURL& url) { return Dump(url) == "null null null null"; }

TEST(URLUtils, ParsesPiecesAndDomains) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://www.sample.test/a/b/?q=1",
       "<http://www.sample.test/a/b/?q=1> <sample.test/a/b> <sample.test> <sample.test>"},
      {"https://news.sample.co.uk:8080/x",
       "<https://news.sample.co.uk:8080/x> <news.sample.co.uk:8080/x> "
       "<news.sample.co.uk:8080> <sample.co.uk>"},
      {"http://user@10.1.2.3/p", "<http://user@10.1.2.3/p> <user@10.1.2.3/p> <user@10.1.2.3> <10.1.2.3>"},
      {"   ", "<> null null null"},
      {"http://www.", "<http://www.> null null null"},
      {"ftp://host/x", "<ftp://host/x> <ftp://host/x> <ftp:> <ftp>"},
      {"http://a b.test/ x", "<http://a%20b.test/%20x> <a%20b.test/%20x> <a%20b.test> <a%20b.test>"},
      {"co.uk", "<co.uk> <co.uk> <co.uk> <co.uk>"},
      {"http://a.sample.ac.gov.br/", "<http://a.sample.ac.gov.br/> <a.sample.ac.gov.br> "
       "<a.sample.ac.gov.br> <ac.gov.br>"},  // only the last two labels are probed
      {"http://1.2.3/", "<http://1.2.3/> <1.2.3> <1.2.3> <2.3>"},
      {"http://sample.test.:80/", "<http://sample.test.:80/> <sample.test.:80> <sample.test.:80> <test.>"},
      {"http://./x", "<http://./x> <./x> null null"},
      {"http://user@:80/", "<http://user@:80/> <user@:80> <user@:80> null"},
      {"HTTP://WWW.Sample.CO.UK/Path",  // scheme, "www." and suffixes compare case included
       "<HTTP://WWW.Sample.CO.UK/Path> <HTTP://WWW.Sample.CO.UK/Path> <HTTP:> <HTTP>"},
      {"http://Sample.CO.UK/", "<http://Sample.CO.UK/> <Sample.CO.UK> <Sample.CO.UK> <CO.UK>"},
  };
  // Also with one record parsing every case after a long URL, as the host reuses it (the
  // record keeps its text block from parse to parse, a very large one only once).
  CParsedURL shared;
  const std::string longURL = "http://long.test/" + std::string(100000, 'X');
  for (const auto& [input, dump] : cases) {
    EXPECT_EQ(Parse(std::string(input)), dump) << input;
    ASSERT_EQ(shared.ParseURL(longURL.data(), longURL.size()), 0);
    ASSERT_EQ(shared.ParseURL(input, strlen(input)), 0);
    EXPECT_EQ(Dump(shared), dump) << input << " after a long URL";
  }
}

// Every byte value at positions inside and across the 8-byte words the parser scans in,
// against a plain escaper: control characters, NUL, blanks and bytes above 0x7f become %xx
// in lower-case hex, other printable characters pass.
TEST(URLUtils, EscapingMatchesReference) {
  auto reference = [](const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    for (; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      if (alnum || (c != 0 && strchr("$-_.+!*'(),~`@#%^&={}\\[]|\";<>?/:", c))) {
        out += static_cast<char>(c);
      } else {
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02x", c);
        out += hex;
      }
    }
    return out;
  };
  for (int byte = 0; byte < 256; ++byte) {
    for (size_t position : {0, 3, 7, 8, 15, 16, 22}) {
      std::string text = "Http://WWW.Sample.test/ABC";
      text[position] = static_cast<char>(byte);
      CParsedURL url;
      ASSERT_EQ(url.ParseURL(text.data(), text.size()), 0);
      const char* start;
      size_t length;
      url.GetURL(start, length);
      ASSERT_EQ(std::string(start, length), reference(text)) << byte << " at " << position;
      Dump(url);  // checks the lower-case copy
    }
  }
}

TEST(URLUtils, WideTextAndInvalidArguments) {
  EXPECT_EQ(Parse(std::u16string(u" http://caf\u00e9.test/ x")),
            "<http://caf%e9.test/%20x> <caf%e9.test/%20x> <caf%e9.test> <caf%e9.test>");
  // U+4E41 has the low byte 0x41 ('A'); U+0120 has 0x20 and counts as a leading blank.
  EXPECT_EQ(Parse(std::u16string(u"\u0120www.s\u4e41mple.co.uk")),
            "<www.sAmple.co.uk> <sAmple.co.uk> <sAmple.co.uk> <sAmple.co.uk>");
  CParsedURL url;  // a refused argument leaves the record zeroed
  ASSERT_EQ(url.ParseURL("http://sample.test", 18), 0);
  EXPECT_EQ(url.ParseURL(static_cast<const char*>(nullptr), 5), -1);
  EXPECT_TRUE(IsZeroed(url));
}

// Fresh process state each round: the record's block, the table object and its slots are
// the three allocations, in that order. A failed table build falls back to the last two labels and is
// retried on the next use; a failed record block gives -2 and a zeroed record.
TEST(URLUtils, AllocationFailureSweep) {
  const std::string text = "http://www.sample.co.uk/x", dump = "<http://www.sample.co.uk/x> "
                                                              "<sample.co.uk/x> <sample.co.uk> ";
  for (int n = 1; n <= 3; ++n) {
    ascommon::ResetDoubleExtensionsForTesting();
    const int64_t live = asfn_live_blocks();
    {
      CParsedURL url;
      asfn_fail_at(n, ASFN_FAIL_ONCE);
      const int status = url.ParseURL(text.data(), text.size());
      asfn_fail_at(0, ASFN_FAIL_OFF);
      EXPECT_EQ(status == 0 ? Dump(url) : "status " + std::to_string(status),
                n == 1 ? "status -2" : dump + "<co.uk>") << "failing allocation " << n;
      EXPECT_TRUE(status == 0 || IsZeroed(url));
      EXPECT_EQ(Parse(text), dump + "<sample.co.uk>");
    }
    ascommon::ResetDoubleExtensionsForTesting();
    EXPECT_EQ(asfn_live_blocks(), live) << "failing allocation " << n;
  }
}

TEST(URLUtils, SuffixTablesAgreeWithLinearReference) {
  std::vector<const char*> entries(std::begin(kURLDBTable), std::end(kURLDBTable));
  entries.push_back(".co.uk");  // duplicate: skipped
  entries.push_back(nullptr);
  CSuffixTable table;
  ASSERT_EQ(table.Build(entries.data(), entries.size()), 0);
  EXPECT_EQ(table.GetCount(), std::size(kURLDBTable));
  const std::set<std::string> reference(std::begin(kURLDBTable), std::end(kURLDBTable));
  const std::set<std::string> common(std::begin(kCommonTable), std::end(kCommonTable));
  for (const std::string& entry : reference) {
    std::string upper = entry;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (const std::string& probe : {entry, entry.substr(1), entry + "x", upper}) {
      EXPECT_EQ(table.Contains(probe.data(), probe.size()), reference.count(probe) == 1) << probe;
      EXPECT_EQ(ascommon::IsDoubleExtension(probe.c_str()), common.count(probe) == 1) << probe;
    }
  }
  // The module's table is a subset of the URL database's.
  for (const char* entry : kCommonTable) EXPECT_EQ(reference.count(entry), 1u) << entry;
  EXPECT_EQ(ascommon::FindDomainStart("a.sample.co.uk", 14, table), 2u);
  EXPECT_EQ(ascommon::FindDomainStart("uk", 2, table), 0u);
  // Hosts of up to 50 characters with dots anywhere against the rule read from the end:
  // the last two labels, or three under a double extension.
  std::mt19937 random(5);
  for (int n = 0; n < 20000; ++n) {
    std::string host(random() % 51, 'a');
    for (char& c : host) c = random() % 4 == 0 ? '.' : "couka"[random() % 5];
    if (random() % 3 == 0 && host.size() > 6) host.replace(host.size() - 6, 6, ".co.uk");
    std::size_t want = 0;
    std::vector<std::size_t> dots;
    for (std::size_t i = host.size(); i-- > 0;) {
      if (host[i] == '.') dots.push_back(i);
    }
    if (dots.size() >= 2 && !table.Contains(host.data() + dots[1], host.size() - dots[1])) {
      want = dots[1] + 1;
    } else if (dots.size() >= 3) {
      want = dots[2] + 1;
    }
    ASSERT_EQ(ascommon::FindDomainStart(host.data(), host.size(), table), want) << host;
  }
}

// Eight threads race to the first use of the table: it is built exactly once and every
// thread sees it whole.
TEST(URLUtilsThreads, TableIsBuiltOnceUnderConcurrentFirstUse) {
  ascommon::ResetDoubleExtensionsForTesting();
  zztest::TraceCapture trace;
  std::atomic<int> ready{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      ++ready;
      while (ready.load() < 8) std::this_thread::yield();
      const std::string text = "http://www.news.sample.co.uk/p?q";
      for (int i = 0; i < 200; ++i) {
        CParsedURL url;
        const char* domain;
        size_t length;
        if (url.ParseURL(text.data(), text.size()) != 0) ++wrong;
        url.GetDomainLower(domain, length);
        if (domain == nullptr || std::string(domain, length) != "sample.co.uk") ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(trace.Count("loading double extensions..."), 1);
  EXPECT_EQ(trace.Count("done loading " + std::to_string(std::size(kCommonTable)) +
                        " double extensions"), 1);
}

}  // namespace
