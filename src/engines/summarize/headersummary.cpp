// Header signatures: the code table, the signature of a header block and the splitting of a
// signature pattern.
// The 47 codes go into an open-addressed hash table (string hash of the name, linear
// probing, 128 slots) built once per process under std::call_once; a lookup hashes the
// name once and compares it with one or two entries, O(name length). A signature costs one
// lookup per header; splitting a pattern is one scan.
// Tested by tests/engines/summarize/summarize_test.cpp.
#include "engines/summarize/headersummary.h"

#include <cstring>
#include <mutex>

#include "common/astrace.h"
#include "engines/summarize/symbolwriter.h"

namespace summarize {
namespace {

struct HeaderCodeEntry {
  const char* name;  // upper case
  const char* code;  // one upper-case letter, or one and four lower-case letters
};

constexpr HeaderCodeEntry kHeaderCodes[] = {
    {"AUTHENTICATION-RESULTS", "Authr"},
    {"AUTO-SUBMITTED", "Autos"},
    {"BCC", "Bcccc"},
    {"CC", "C"},
    {"COMMENT", "Commn"},
    {"CONTENT-CLASS", "Concl"},
    {"CONTENT-DISPOSITION", "Condi"},
    {"CONTENT-LANGUAGE", "Conla"},
    {"CONTENT-RETURN", "Conre"},
    {"CONTENT-TRANSFER-ENCODING", "Conte"},
    {"CONTENT-TYPE", "Conty"},
    {"DKIM-SIGNATURE", "Dksig"},
    {"DATE", "D"},
    {"DELIVERED-TO", "Delto"},
    {"DOMAINKEY-SIGNATURE", "Domsi"},
    {"DOMAINKEY-STATUS", "Domst"},
    {"ERROR-TO", "Errto"},
    {"FROM", "F"},
    {"IMPORTANCE", "Impor"},
    {"IN-REPLY-TO", "Inrto"},
    {"INVOKE-BY", "Invby"},
    {"LIST-ID", "Lstid"},
    {"LIST-SOFTWARE", "Lstso"},
    {"LIST-UNSUBSCRIBE", "Lstun"},
    {"MIME-VERSION", "V"},
    {"MESSAGE-ID", "M"},
    {"ORGANIZATION", "Orgzn"},
    {"ORIGINAL-RECIPIENT", "Orgre"},
    {"PRECEDENCE", "Precd"},
    {"PRIORITY", "Prior"},
    {"RECEIVED", "R"},
    {"RECEIVED-SPF", "Rcvsp"},
    {"REFERENCES", "Refer"},
    {"REPLY-TO", "Repto"},
    {"RETURN-PATH", "Retph"},
    {"SENDER", "Sendr"},
    {"STATUS", "Stats"},
    {"SUBJECT", "S"},
    {"THREAD-INDEX", "Thrin"},
    {"THREAD-TOPIC", "Thrto"},
    {"TO", "T"},
    {"USER-AGENT", "Usrag"},
    {"X-MAILER", "Xmail"},
    {"X-MIMEOLE", "Xmimo"},
    {"X-MSMAIL-PRIORITY", "Xmspr"},
    {"X-ORIGINAL-TO", "Xorto"},
    {"X-PRIORITY", "Xprio"},
};
static_assert(sizeof(kHeaderCodes) / sizeof(kHeaderCodes[0]) == 47);

constexpr const char* kUnknownHeaderCode = "Orice";
// A power of two well above the entry count, so probe runs stay short.
constexpr std::size_t kSlots = 128;

// The engine's string hash (5381, h * 33 ^ byte sign-extended), as sstring::hash.
std::uint32_t HashName(const char* name) noexcept {
  std::uint32_t h = 5381;
  for (; *name != '\0'; ++name) {
    h = h * 33 ^ static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*name)));
  }
  return h;
}

const HeaderCodeEntry* g_slots[kSlots];
std::once_flag g_slotsBuilt;

void BuildSlots() noexcept {
  for (const HeaderCodeEntry& entry : kHeaderCodes) {
    std::size_t slot = HashName(entry.name) & (kSlots - 1);
    while (g_slots[slot] != nullptr) slot = (slot + 1) & (kSlots - 1);
    g_slots[slot] = &entry;
  }
}

}  // namespace

const char* HeaderCode(const char* upperName) noexcept {
  if (upperName == nullptr) return nullptr;
  std::call_once(g_slotsBuilt, BuildSlots);
  for (std::size_t slot = HashName(upperName) & (kSlots - 1); g_slots[slot] != nullptr;
       slot = (slot + 1) & (kSlots - 1)) {
    if (std::strcmp(g_slots[slot]->name, upperName) == 0) return g_slots[slot]->code;
  }
  return nullptr;
}

std::int32_t SummarizeHeaders(const ascommon::CArray<nsEmlComponents::CHeader*>* headers,
                              ascommon::sstring& out) {
  if (headers == nullptr) return 0;
  if (!out.is_null()) {
    std::memset(out.data(), 0, out.capacity());
    out.set_length(0);
  }
  summary_detail::CSymbolWriter writer(out);
  writer.Put('B');
  for (std::uint64_t i = 0; i < headers->GetSize() && !writer.Failed(); ++i) {
    const nsEmlComponents::CHeader* header = (*headers)[i];
    const char* name = header != nullptr ? header->GetName().c_str() : nullptr;
    if (name == nullptr) name = "";
    // Names are looked up as stored: the parts tree keeps them upper case.
    const char* code = HeaderCode(name);
    if (code == nullptr && std::strncmp(name, "X-", 2) != 0) code = kUnknownHeaderCode;
    if (code != nullptr) writer.Put(code, std::strlen(code));
  }
  writer.Put('E');
  return writer.Status();
}

void SplitSummary(const ascommon::sstring& pattern, ascommon::CArray<ascommon::sstring>& codes) {
  const char* text = pattern.c_str();
  const std::size_t length = pattern.length();
  char code[6];
  std::size_t used = 0;
  const auto close = [&]() {
    if (used == 0) return;
    if (used != 1 && used != 5) {
      AS_THROW(1, ASException, "error: Rezumatul unui header poate avea 1 / 5 caractere: %s",
               text);
    }
    code[used] = '\0';
    if (codes.Add(ascommon::sstring(code)) != 0) {
      AS_THROW(1, ASMemException, "error: no memory for the codes of a header summary: %s", text);
    }
    used = 0;
  };
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      close();
    } else if (c >= 'a' && c <= 'z') {
      if (used == 5) {
        AS_THROW(1, ASException,
                 "error: Rezumatul unui header nu poate avea mai mult de 5 caractere: %s", text);
      }
    } else {
      AS_THROW(1, ASException, "error: Rezumatul unui header contine caractere a..z si A..Z: %s",
               text);
    }
    code[used++] = c;
  }
  close();  // the last code: 1 or 5 letters too
}

}  // namespace summarize
