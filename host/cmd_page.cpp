// "page": how the host and the parser read one page, for rule writers and list maintainers:
// the charset used, the page text the filters get, the links' decoded addresses, the
// images' sources, the meta tags' attributes, and what the data folder's signature rules
// decide (run by the host itself, rule_runner.h). Needs no module.
// Tested by tests/host/page_commands_test.cpp.
#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "errors.h"
#include "json.h"
#include "page_item.h"
#include "rule_runner.h"
#include "zzplat/paths.h"

namespace zzhost {

namespace {

// The UTF-16 text (pointer and length; null for an absent value) as a JSON string or null.
void AppendWide(std::string& out, const char16_t* text, std::size_t length) {
  if (text == nullptr) {
    out += "null";
    return;
  }
  AppendJsonString(out, zzplat::Utf16ToUtf8Lenient(std::u16string(text, length).c_str()));
}

void AppendWide(std::string& out, const ascommon::usstring& text) {
  AppendWide(out, text.c_str(), text.length());
}

// The data folder's rules run over the page as the signatures filter runs them; no verdict
// when they cannot be loaded.
SignatureVerdict PageSignature(CommandContext& context, const std::string& bytes) {
  try {
    const std::unique_ptr<CHostRules> rules = CHostRules::FromSettings(context.Settings());
    CPageItem item(bytes, PageFileUrl(context.Args()[0]), 50);
    return rules->Run(item.Item());
  } catch (const HostError&) {
    return {};
  }
}

int RunPage(CommandContext& context) {
  context.ExpectArgs(1, 1);
  const std::string bytes = ReadPageBytes(context.Args()[0]);
  const DecodedPage page = DecodePage(bytes);
  const std::unique_ptr<CHTMLParser2> document = ParsePage(page.text);

  std::string out = "{\"charset\": ";
  AppendJsonString(out, page.charset);
  out += ", \"text\": ";
  const ascommon::usstring text = document->getAllText();
  AppendWide(out, text.is_null() ? u"" : text.c_str(), text.length());
  out += ", \"links\": [";
  for (std::size_t i = 0; i < document->getLinkCount(); ++i) {
    if (i != 0) out += ", ";
    AppendWide(out, document->getLink(i)->getDecodedHref());
  }
  out += "], \"images\": [";
  for (std::size_t i = 0; i < document->getImageCount(); ++i) {
    if (i != 0) out += ", ";
    std::size_t length = 0;
    const char16_t* src = document->getImage(i)->getSrc(length);
    AppendWide(out, src, length);
  }
  out += "], \"meta\": [";
  for (std::size_t i = 0; i < document->getMetaCount(); ++i) {
    const CHTMLMeta* meta = document->getMeta(i);
    std::size_t length = 0;
    out += i != 0 ? ", {\"name\": " : "{\"name\": ";
    const char16_t* value = meta->getName(length);
    AppendWide(out, value, length);
    out += ", \"http-equiv\": ";
    value = meta->getHttpEquiv(length);
    AppendWide(out, value, length);
    out += ", \"content\": ";
    value = meta->getContent(length);
    AppendWide(out, value, length);
    out += '}';
  }
  out += "]";
  AppendSignatureJson(out, PageSignature(context, bytes));
  out += "}\n";
  std::fputs(out.c_str(), context.Out());
  return 0;
}

}  // namespace

int RunPageCommand(CommandContext& context) { return RunPage(context); }

}  // namespace zzhost
