#include "page_item.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/convert.h"
#include "common/strutils.h"
#include "errors.h"
#include "itemfields.h"
#include "zzplat/paths.h"

namespace zzhost {

std::string PageFileUrl(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return "file://" + (ec ? path : absolute.lexically_normal().string());
}

namespace {

namespace ItemField = nsHttpModules::ItemField;

void Check(std::int32_t status, const char* what) {
  if (status != 0) {
    throw HostError(std::string("cannot build the item: ") + what + " (" + std::to_string(status) +
                    ")");
  }
}

// One text in every form the item carries: wide, UTF-8, and both lower-cased.
struct TextForms {
  ascommon::usstring wide, lower;
  ascommon::sstring utf8, lowerUtf8;

  explicit TextForms(ascommon::usstring text) : wide(std::move(text)) {
    if (wide.is_null()) Check(wide.assign(u""), "empty text");
    Check(wide.status(), "text");
    Check(ascommon::UsstringToUtf8(wide, utf8), "UTF-8 text");
    if (utf8.is_null()) Check(utf8.assign(""), "empty UTF-8 text");
    Check(ascommon::Utf8Lower(utf8, lowerUtf8), "lower-case UTF-8 text");
    Check(lower.assign(wide), "lower-case text");
    ascommon::WideLowerInPlace(lower.data(), lower.length());
  }
};

}  // namespace

std::string ReadPageBytes(const std::string& path) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) throw HostError("cannot read " + path + ": " + std::strerror(errno));
  std::string bytes;
  char block[1 << 16];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, in)) > 0) {
    if (bytes.size() + n > kMaxPageBytes) {
      std::fclose(in);
      throw HostError("cannot read " + path + ": larger than " +
                      std::to_string(kMaxPageBytes >> 20) + " MiB");
    }
    bytes.append(block, n);
  }
  const bool failed = std::ferror(in) != 0;
  const int error = errno;
  std::fclose(in);
  if (failed) throw HostError("cannot read " + path + ": " + std::strerror(error));
  return bytes;
}

std::unique_ptr<CHTMLParser2> ParsePage(const std::u16string& text) {
  std::unique_ptr<CHTMLParser2> document(parseBuffer2(text.data(), text.size(), false, false));
  if (document == nullptr) throw HostError("out of memory parsing the page");
  return document;
}

CPageItem::CPageItem(std::string_view bytes, const std::string& url, std::uint32_t bayesThreshold,
                     PageFields fields)
    : m_page(DecodePage(bytes)), m_document(ParsePage(m_page.text)), m_item(&m_ext) {
  ascommon::CBlackBox& bb = m_item.GetBlackBox();
  if (fields == PageFields::kAll) {
    const TextForms text(m_document->getAllText());
    const TextForms raw(ascommon::usstring(m_page.text.c_str(), m_page.text.size()));
    bb.SetUCharBuf(text.wide.c_str(), ItemField::kPageText, true);
    bb.SetCharBuf(text.utf8.c_str(), ItemField::kPageTextUtf8, true);
    bb.SetUCharBuf(raw.wide.c_str(), ItemField::kRawContent, true);
    bb.SetCharBuf(raw.utf8.c_str(), ItemField::kRawContentUtf8, true);
    bb.SetCharBuf(text.lowerUtf8.c_str(), ItemField::kPageTextLowerUtf8, true);
    bb.SetCharBuf(raw.lowerUtf8.c_str(), ItemField::kRawContentLowerUtf8, true);
    bb.SetUCharBuf(text.lower.c_str(), ItemField::kPageTextLower, true);
    bb.SetUCharBuf(raw.lower.c_str(), ItemField::kRawContentLower, true);
  } else {
    const ascommon::usstring text = m_document->getAllText();
    Check(text.status(), "text");
    bb.SetUCharBuf(text.is_null() ? u"" : text.c_str(), ItemField::kPageText, true);
  }
  bb.SetInt(static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX)),
            ItemField::kContentSize, true);
  Check(bb.SetGenericObject(ItemField::kHtmlParser, m_document.get()), "parser object");
  // An address the parser refuses still gets an item; the list filters then report it.
  if (m_url.ParseURL(url.data(), url.size()) == 0) {
    Check(bb.SetGenericObject(ItemField::kUrlInfo, &m_url), "URL record");
  }
  bb.SetUCharBuf(zzplat::Utf8ToUtf16Lenient(url).c_str(), ItemField::kUrlText, true);
  bb.SetInt(static_cast<std::int32_t>(std::min<std::uint32_t>(bayesThreshold, INT32_MAX)),
            ItemField::kBayesThreshold, true);
  bb.ForEachId([&](std::uint32_t id, std::uint32_t, std::uint32_t) { m_hostIds.push_back(id); });
  std::sort(m_hostIds.begin(), m_hostIds.end());
}

}  // namespace zzhost
