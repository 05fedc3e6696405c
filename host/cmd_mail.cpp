// "mail": runs the signature rules over messages, as the rule engine runs them on a mail
// item.
//
//   zazozor mail [--explain | --no-rules] [--rules FILE]... FILE...
//
// Each FILE is one message (.eml) or an mbox, "-" standard input. Every message is parsed
// into a mail item (headers, parts tree, summaries) and the rules run with a mail context
// over it: the data folder's mail rules ("mail*.slf", beside the page rules "pc*.slf" that
// the web filter loads), or the rule files given with --rules. One JSON
// line per message: the source, message id, subject, header signature, the parts (kind,
// content type, name, size, layout summary), the signatures verdict and the header lines
// that the rules' header actions added or changed. With --explain, instead, the rule
// report of "rules test" per message; with --no-rules, the JSON lines of the parsed messages
// without running any rule (the signature is null). A message that cannot be read is reported on stderr
// and the others go on (exit status 1 at the end). Part of the mail library
// (mail_library.h), which the executable loads for this command. Single-threaded.
#include <cstdio>
#include <map>
#include <new>
#include <memory>
#include <string>
#include <vector>

#include "cmd_rules.h"
#include "common/asexception.h"
#include "common/stringconversion.h"
#include "engines/assl/emlcontextif.h"
#include "engines/emlcomponents/partstree.h"
#include "errors.h"
#include "json.h"
#include "mail_item.h"
#include "mail_library.h"
#include "mail_reader.h"
#include "rule_runner.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

std::string Utf8(const ascommon::usstring& text) {
  return text.c_str() != nullptr ? zzplat::Utf16ToUtf8Lenient(text.c_str()) : std::string();
}

std::string Text(const ascommon::sstring& text) {
  return text.c_str() != nullptr ? std::string(text.c_str(), text.length()) : std::string();
}

// The decoded value of a message header, or null when the message has none.
const nsEmlComponents::CHeader* FindHeader(assl::CEmlContextInterface& context,
                                           const char* upperName) {
  nsEmlComponents::CHeadersMap* headers = context.GetHeaders();
  ascommon::sstring key;
  if (headers == nullptr || key.assign(upperName) != 0) return nullptr;
  nsEmlComponents::CHeader** found = headers->Lookup(key);
  return found != nullptr ? *found : nullptr;
}

void AppendHeaderValue(std::string& out, assl::CEmlContextInterface& context,
                       const char* upperName) {
  const nsEmlComponents::CHeader* header = FindHeader(context, upperName);
  if (header == nullptr) {
    out += "null";
  } else {
    AppendJsonString(out, Utf8(header->GetValue()));
  }
}

// Every header of the map as "Name: value", by upper-case name.
std::map<std::string, std::string> HeaderLines(assl::CEmlContextInterface& context) {
  std::map<std::string, std::string> lines;
  nsEmlComponents::CHeadersMap* headers = context.GetHeaders();
  if (headers == nullptr) return lines;
  auto pos = headers->GetStartPosition();
  while (pos) {
    const ascommon::sstring* key = nullptr;
    nsEmlComponents::CHeader** header = nullptr;
    headers->GetNextAssoc(pos, key, header);
    if (*header == nullptr) continue;
    lines[Text(*key)] = Text((*header)->GetName()) + ": " + Utf8((*header)->GetValue());
  }
  return lines;
}

const char* KindName(const nsEmlComponents::CPartBody* body) {
  if (body == nullptr) return "multipart";
  switch (body->GetType()) {
    case nsEmlComponents::kBodyTextPlain: return "text";
    case nsEmlComponents::kBodyTextHtml: return "html";
    default: return "other";
  }
}

// The media type of a part ("text/plain" when its header does not say), lower-cased.
std::string ContentType(const nsEmlComponents::CPartsTreeNode& node) {
  const nsEmlComponents::CHeader* header = node.FindHeader("CONTENT-TYPE");
  std::string type = header != nullptr ? Utf8(header->GetValue()) : "";
  type = type.substr(0, type.find(';'));
  const std::size_t first = type.find_first_not_of(" \t\r\n");
  const std::size_t last = type.find_last_not_of(" \t\r\n");
  type = first == std::string::npos ? "" : type.substr(first, last - first + 1);
  for (char& c : type) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return type.empty() ? "text/plain" : type;
}

class PartsJson : public nsEmlComponents::CAPartsTreeListenerR {
 public:
  explicit PartsJson(std::string& out) : m_out(out) {}
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override {
    m_out += m_first ? "{" : ", {";
    m_first = false;
    m_out += "\"kind\": \"";
    m_out += KindName(node.body);
    m_out += "\", \"type\": ";
    AppendJsonString(m_out, ContentType(node));
    if (node.body != nullptr) {
      m_out += ", \"name\": ";
      AppendJsonString(m_out, Text(node.body->name));
      m_out += ", \"size\": " + std::to_string(node.body->size);
      m_out += ", \"summary\": ";
      AppendJsonString(m_out, Text(node.body->summary));
    }
    m_out += "}";
  }

 private:
  std::string& m_out;
  bool m_first = true;
};

std::string MessageJson(const std::string& source, assl::CEmlContextInterface& context,
                        const SignatureVerdict& verdict,
                        const std::map<std::string, std::string>& before) {
  std::string out = "{\"source\": ";
  AppendJsonString(out, source);
  out += ", \"message_id\": ";
  AppendHeaderValue(out, context, "MESSAGE-ID");
  out += ", \"subject\": ";
  AppendHeaderValue(out, context, "SUBJECT");
  out += ", \"headers\": ";
  const ascommon::sstring* signature =
      context.GetFacilitator() != nullptr ? context.GetFacilitator()->GetHeaderSummary() : nullptr;
  if (signature != nullptr) {
    AppendJsonString(out, Text(*signature));
  } else {
    out += "null";
  }
  out += ", \"parts\": [";
  PartsJson parts(out);
  if (context.GetPartsTree() != nullptr) context.GetPartsTree()->Visit(parts);
  out += "]";
  AppendSignatureJson(out, verdict);
  out += ", \"changed_headers\": [";
  bool first = true;
  for (const auto& [name, line] : HeaderLines(context)) {
    auto old = before.find(name);
    if (old != before.end() && old->second == line) continue;
    if (!first) out += ", ";
    first = false;
    AppendJsonString(out, line);
  }
  out += "]}\n";
  return out;
}

}  // namespace

int RunMailCommand(MailContext& context) {
  bool explain = false;
  bool noRules = false;
  std::vector<std::string> rules, files;
  const std::vector<std::string>& args = context.Args();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--explain") {
      explain = true;
    } else if (arg == "--no-rules") {
      noRules = true;
    } else if (arg == "--rules") {
      if (i + 1 >= args.size()) throw UsageError("option '--rules' needs a value", "mail");
      rules.push_back(args[++i]);
    } else if (arg.rfind("--rules=", 0) == 0) {
      rules.push_back(arg.substr(8));
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "' for 'mail'", "mail");
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) throw UsageError("'mail' needs message or mbox files", "mail");
  if (noRules && (explain || !rules.empty())) {
    throw UsageError("'--no-rules' goes with neither '--explain' nor '--rules'", "mail");
  }

  CHostSettings& settings = context.Settings();
  std::unique_ptr<CHostRules> engine;
  if (noRules) {
    // parsing only
  } else if (rules.empty()) {
    engine = CHostRules::FromSettings(settings, u"mail*.slf");
  } else {
    engine = std::make_unique<CHostRules>(CHostRules::LibrariesFolder(settings));
    CStreamDiagnostics diagnostics(stderr);
    engine->LoadFiles(rules, &diagnostics);
  }
  // Part charsets other than UTF-8 go through the conversion library beside the others.
  ascommon::CStringConversion converter;
  try {
    converter.Init(CHostRules::LibrariesFolder(settings).c_str(), true);
  } catch (const AException& e) {
    throw HostError(std::string("charset conversion library: ") + e.what());
  }

  int status = 0;
  auto fail = [&](const std::string& what) {
    std::fflush(context.Out());
    std::fprintf(stderr, "zazozor: %s\n", what.c_str());
    status = 1;
  };
  for (const std::string& file : files) {
    std::unique_ptr<CMailReader> reader;
    try {
      reader = std::make_unique<CMailReader>(file);
    } catch (const HostError& e) {
      fail(e.what());
      continue;
    }
    for (;;) {
      MailMessage message;
      try {
        if (!reader->Next(message)) break;
        CMailItem item(message.bytes);
        assl::CEmlContextInterface mail(&converter);
        try {
          mail.Init(&item.Item());
        } catch (const AException& e) {
          throw HostError(message.source + ": " + e.what());
        }
        // The header lines before the rules, to report what they changed (JSON lines only).
        const std::map<std::string, std::string> before =
            explain ? std::map<std::string, std::string>() : HeaderLines(mail);
        std::vector<RuleRun> runs;
        const SignatureVerdict verdict =
            engine ? engine->RunContext(mail, explain ? &runs : nullptr) : SignatureVerdict();
        const std::string text =
            explain ? FormatRuleRuns("message  " + message.source + "\n", verdict, runs)
                    : MessageJson(message.source, mail, verdict, before);
        std::fputs(text.c_str(), context.Out());
      } catch (const HostError& e) {
        fail(e.what());
      } catch (const std::bad_alloc&) {
        fail(message.source + ": out of memory");
      }
    }
  }
  return status;
}

}  // namespace zzhost
