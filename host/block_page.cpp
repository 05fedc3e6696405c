// Block page rendering: one pass over the template, copying text and replacing each known
// "{{name}}" with its escaped value. O(template + values); no allocation beyond the result.
#include "block_page.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zzhost {

bool LoadBlockPageTemplate(const std::string& path, std::string& out, std::string& error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char block[8192];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, file.get())) > 0) {
    if (text.size() + n > kMaxBlockPageBytes) {
      error = path + ": larger than " + std::to_string(kMaxBlockPageBytes) + " bytes";
      return false;
    }
    text.append(block, n);
  }
  if (std::ferror(file.get())) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  out = std::move(text);
  return true;
}

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        const auto byte = static_cast<unsigned char>(c);
        out += (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7f ? '?' : c;
    }
  }
}

std::string RenderBlockPage(std::string_view pageTemplate, const BlockReason& reason) {
  const std::string session = std::to_string(reason.session);
  const std::pair<std::string_view, std::string_view> values[] = {
      {"{{reason}}", reason.reason},
      {"{{rule}}", reason.rule},
      {"{{url}}", reason.url},
      {"{{session}}", session}};
  std::string out;
  out.reserve(pageTemplate.size() + reason.url.size() + 64);
  std::size_t pos = 0;
  while (pos < pageTemplate.size()) {
    const std::size_t open = pageTemplate.find("{{", pos);
    if (open == std::string_view::npos) break;
    out.append(pageTemplate.substr(pos, open - pos));
    const std::string_view rest = pageTemplate.substr(open);
    pos = open + 2;
    bool filled = false;
    for (const auto& [name, value] : values) {
      if (rest.starts_with(name)) {
        AppendHtmlEscaped(out, value);
        pos = open + name.size();
        filled = true;
        break;
      }
    }
    if (!filled) out += "{{";
  }
  out.append(pageTemplate.substr(pos));
  return out;
}

}  // namespace zzhost
