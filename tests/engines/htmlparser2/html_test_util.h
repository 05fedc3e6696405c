// Test helpers for the HTML parser: UTF-8 <-> UTF-16 for readable tables, a parsed page and
// dumps of its token sequence and element lists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/convert.h"
#include "engines/htmlparser2/htmlparser2.h"

namespace htmltest {

inline std::u16string U(const std::string& utf8) {
  std::u16string wide(utf8.size(), u'\0');
  std::size_t produced = 0;
  ascommon::Utf8ToUtf16(utf8.data(), utf8.size(), wide.data(), wide.size(), produced);
  wide.resize(produced);
  return wide;
}

// Strict UTF-8 of wide text: an unpaired surrogate gives "<bad utf-16>", null "<null>".
inline std::string Utf8(const char16_t* units, std::size_t length) {
  if (units == nullptr) return "<null>";
  std::string bytes(length * 3 + 1, '\0');
  std::size_t produced = 0;
  if (ascommon::WideToUtf8(units, length, bytes.data(), bytes.size(), produced) != 0) {
    return "<bad utf-16>";
  }
  bytes.resize(produced);
  return bytes;
}
inline std::string Utf8(const ascommon::usstring& text) {
  return text.is_null() ? "<null>" : Utf8(text.c_str(), text.length());
}

inline std::string TagName(unsigned id) { return HTMLTagName(id) ? HTMLTagName(id) : "?" + std::to_string(id); }

// Tokens separated by blanks: <a> </a> T"text" T(title)"text" R(script)"code" !"<!--c-->"
// D"<!doctype html>".
inline std::string DumpTokens(const CHTMLParser2& document) {
  std::string dump;
  for (std::size_t t = 0; t < document.getTokenCount(); ++t) {
    const SHTMLToken& token = *document.getToken(t);
    const std::string body = "\"" + Utf8(document.getBuffer() + token.start, token.length) + "\"";
    const std::string tag = TagName(token.tagId);
    dump += dump.empty() ? "" : " ";
    switch (token.kind) {
      case HTML_TOKEN_START_TAG: dump += "<" + tag + ">"; break;
      case HTML_TOKEN_END_TAG: dump += "</" + tag + ">"; break;
      case HTML_TOKEN_TEXT: dump += "T" + (token.tagId != 0 ? "(" + tag + ")" : "") + body; break;
      case HTML_TOKEN_RAW_TEXT: dump += "R(" + tag + ")" + body; break;
      default: dump += (token.kind == HTML_TOKEN_COMMENT ? "!" : "D") + body;
    }
  }
  return dump;
}

// "label[ tag] name=\"value\"... [content=\"...\"]\n": present attributes in slot order, as
// written, each followed by ~"decoded" when entity replacement changes it.
inline std::string DumpElement(const std::string& label, const CHTMLElement& element,
                               bool withTag, const std::vector<const char*>& names) {
  std::string line = label + (withTag ? " " + TagName(element.getTagId()) : "");
  std::size_t length = 0;
  for (std::size_t slot = 0; slot < names.size(); ++slot) {
    const char16_t* value = element.getAttribute(static_cast<int>(slot), length);
    if (value == nullptr) continue;
    line += std::string(" ") + names[slot] + "=\"" + Utf8(value, length) + "\"";
    const std::string decoded = Utf8(element.getDecodedAttribute(static_cast<int>(slot)));
    if (decoded != Utf8(value, length)) line += "~\"" + decoded + "\"";
  }
  const char16_t* content = element.getContent(length);
  if (content != nullptr) line += " content=\"" + Utf8(content, length) + "\"";
  return line + "\n";
}

// Every listed element, list by list in the document's member order.
inline std::string DumpElements(const CHTMLParser2& d) {
  std::string dump;
  for (std::size_t i = 0; i < d.getLinkCount(); ++i)
    dump += DumpElement("link", *d.getLink(i), true, {"href", "name", "rel", "type"});
  for (std::size_t i = 0; i < d.getImageCount(); ++i)
    dump += DumpElement("image", *d.getImage(i), false, {"src", "alt"});
  for (std::size_t i = 0; i < d.getMetaCount(); ++i)
    dump += DumpElement("meta", *d.getMeta(i), false, {"name", "http-equiv", "content", "charset"});
  for (std::size_t i = 0; i < d.getTitleCount(); ++i)
    dump += "title " + Utf8(d.getTitle(i)->getInterprettedText()) + "\n";
  for (std::size_t i = 0; i < d.getCommentCount(); ++i)
    dump += DumpElement("comment", *d.getComment(i), false, {});
  for (std::size_t i = 0; i < d.getFormCount(); ++i)
    dump += DumpElement("form", *d.getForm(i), true, {"action", "name", "type", "value", "src", "alt"});
  for (std::size_t i = 0; i < d.getScriptCount(); ++i)
    dump += DumpElement("script", *d.getScript(i), false, {"type", "language", "src"});
  for (std::size_t i = 0; i < d.getObjectCount(); ++i)
    dump += DumpElement("object", *d.getObject(i), true, {"src", "data", "type", "name", "code"});
  return dump;
}

// A UTF-8 (or wide) page parsed into a new document.
struct ParsedPage {
  std::u16string text;
  std::unique_ptr<CHTMLParser2> document = std::make_unique<CHTMLParser2>();
  std::int32_t status = 0;

  explicit ParsedPage(const std::string& utf8) : ParsedPage(U(utf8)) {}
  explicit ParsedPage(std::u16string wide) : text(std::move(wide)) {
    status = document->parse(text.data(), text.size(), false, false);
  }
  std::string Tokens() const { return DumpTokens(*document); }
  std::string Elements() const { return DumpElements(*document); }
  std::string AllText() const { return Utf8(document->getAllText()); }
};

}  // namespace htmltest
