// CPageItem: the item of one page, filled the way the host framework fills it before the
// filters run: the page decoded (page_decoder.h) and parsed (CHTMLParser2), then
//   30001 page text (usstring)            30002 its UTF-8 (sstring)
//   30004 the page as received, decoded   30005 its UTF-8
//   30008/30009 lower-case UTF-8 of 30002/30005 (Utf8Lower)
//   30010/30011 lower-case wide of 30001/30004 (WideLowerInPlace)
//   30006 content size in bytes (int)     30007 the parser object (generic object)
//   30012 the URL parse record (generic object; absent when the URL does not parse)
//   12001 the URL as wide text            31003 the Bayes threshold (int)
// and an empty bbext. With PageFields::kText only the forms that the Bayes and list filters
// read are made (30001, 30006, 30007, 30012, 12001, 31003): the UTF-8, raw and lower-case
// forms cost most of the filling and no filter but the signatures filter reads them.
//
// Ownership: the page item owns the item, bbext, the parser object and the URL record; the
// blackbox holds the last two as generic objects without owning them, and they are
// destroyed after the item, when the page item goes. Not thread-safe: one page, one thread.
// Tested by tests/host/page_item_test.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "aitem.h"
#include "common/urlutils.h"
#include "engines/htmlparser2/htmlparser2.h"
#include "page_decoder.h"

namespace zzhost {

// Largest page file read (bytes).
inline constexpr std::size_t kMaxPageBytes = std::size_t{64} << 20;

// The bytes of a page file. HostError "cannot read FILE: reason", also for a file larger
// than kMaxPageBytes.
std::string ReadPageBytes(const std::string& path);

// The address a page file gets when no URL is given: "file://" and its absolute path.
std::string PageFileUrl(const std::string& path);

// A new document parsed from the text (empty text gives an empty document). HostError when
// it cannot be allocated.
std::unique_ptr<CHTMLParser2> ParsePage(const std::u16string& text);

enum class PageFields { kAll, kText };

class CPageItem {
 public:
  // Decodes, parses and fills. HostError when memory runs out.
  CPageItem(std::string_view bytes, const std::string& url, std::uint32_t bayesThreshold,
            PageFields fields = PageFields::kAll);
  CPageItem(const CPageItem&) = delete;
  CPageItem& operator=(const CPageItem&) = delete;

  AItem& Item() { return m_item; }
  ascommon::CBlackBox& Ext() { return m_ext; }
  const DecodedPage& Page() const { return m_page; }
  const CHTMLParser2& Document() const { return *m_document; }
  // The ids the host put into the item blackbox, ascending.
  const std::vector<std::uint32_t>& HostIds() const { return m_hostIds; }

 private:
  DecodedPage m_page;
  std::unique_ptr<CHTMLParser2> m_document;  // Owned; outlives m_item, which points to it.
  ascommon::CParsedURL m_url;                // Outlives m_item, which points to it.
  ascommon::CBlackBox m_ext;
  AItem m_item;
  std::vector<std::uint32_t> m_hostIds;
};

}  // namespace zzhost
