// Message parsing: GMime reads the message from a memory stream over the caller's bytes (no
// copy), the header builder takes the header block, and an explicit stack walks the MIME
// structure in document order (no recursion, whatever the nesting). Each leaf's content is
// transfer-decoded once into a memory stream (text parts) or counted through a null stream
// (other parts), then decoded to wide text, parsed when HTML, summarised and indexed.
// Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#include "engines/mimeparser/messagebuilder.h"

#include <gmime/gmime.h>

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "common/astrace.h"
#include "common/convert.h"
#include "engines/htmlparser2/htmlparser2.h"
#include "engines/mimeparser/headerbuilder.h"
#include "engines/mimeparser/textdecode.h"
#include "engines/summarize/htmlsummary.h"
#include "engines/summarize/textsummary.h"

namespace mimeparser {

using nsEmlComponents::CPartsTree;

namespace {

// GMime's set-up and the lenient parser options, made once per process and never released
// (GMime must not shut down while another thread may parse).
GMimeParserOptions* ParserOptions() {
  static GMimeParserOptions* options = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    g_mime_init();
    options = g_mime_parser_options_new();
    static const char* fallback[] = {"UTF-8", "iso-8859-1", nullptr};
    g_mime_parser_options_set_fallback_charsets(options, fallback);
    g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
  });
  return options;
}

std::uint32_t Clamp32(std::uint64_t value) noexcept {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

std::int32_t ToUtf8(const ascommon::usstring& wide, ascommon::sstring& out) {
  return ascommon::UsstringToUtf8(wide, out) == -2 ? -2 : 0;
}

// The leaf's content after the transfer decoding, in a memory stream (unref it).
GMimeStream* DecodedContent(GMimePart* part) {
  GMimeStream* stream = g_mime_stream_mem_new();
  if (GMimeDataWrapper* content = g_mime_part_get_content(part)) {
    g_mime_data_wrapper_write_to_stream(content, stream);
  }
  return stream;
}

std::uint64_t DecodedSize(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return 0;
  GMimeStream* counter = g_mime_stream_null_new();
  g_mime_data_wrapper_write_to_stream(content, counter);
  const gint64 written = GMIME_STREAM_NULL(counter)->written;
  g_object_unref(counter);
  return written > 0 ? static_cast<std::uint64_t>(written) : 0;
}

class CBuilder {
 public:
  CBuilder(const ascommon::CStringConversion* converter, CMessageParts& parts) noexcept
      : m_converter(converter), m_parts(parts) {}

  std::int32_t Walk(GMimeObject* top);
  // A message without a readable header block: its bytes as one text/plain part.
  std::int32_t AddTextOnly(const char* data, std::size_t size);

 private:
  struct Pending {
    GMimeObject* object;
    CPartsTree::CNode* parent;
    std::uint32_t depth;
  };

  std::int32_t AddLeaf(GMimePart* part, CPartsTree::CNode& node);
  std::int32_t FillText(const char* data, std::size_t size, const char* charset,
                        nsEmlComponents::CPartBody& body, bool html);

  const ascommon::CStringConversion* m_converter;
  CMessageParts& m_parts;
};

std::int32_t CBuilder::Walk(GMimeObject* top) {
  std::vector<Pending> stack;
  if (top != nullptr) stack.push_back({top, nullptr, 1});
  bool cut = false;
  while (!stack.empty()) {
    const Pending item = stack.back();
    stack.pop_back();
    if (item.depth > kMaxDepth || m_parts.tree.GetNodeCount() >= kMaxParts) {
      cut = true;
      continue;
    }
    CPartsTree::CNode* node = m_parts.tree.AddNode(item.parent);
    if (node == nullptr || BuildPartHeaders(item.object, node->headers) != 0) return -2;
    // Children are pushed last first, so they are taken (and numbered) in document order.
    if (GMIME_IS_MULTIPART(item.object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(item.object);
      for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i) {
        stack.push_back({g_mime_multipart_get_part(multipart, i), node, item.depth + 1});
      }
    } else if (GMIME_IS_MESSAGE_PART(item.object)) {
      GMimeMessage* embedded = g_mime_message_part_get_message(GMIME_MESSAGE_PART(item.object));
      GMimeObject* inner = embedded != nullptr ? g_mime_message_get_mime_part(embedded) : nullptr;
      if (inner != nullptr) stack.push_back({inner, node, item.depth + 1});
    } else if (GMIME_IS_PART(item.object)) {
      if (AddLeaf(GMIME_PART(item.object), *node) != 0) return -2;
    }
  }
  if (cut) AS_TRACE(3, "message parts beyond depth %u or count %u left out", kMaxDepth, kMaxParts);
  return 0;
}

std::int32_t CBuilder::AddLeaf(GMimePart* part, CPartsTree::CNode& node) {
  GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part));
  const bool plain = type != nullptr && g_mime_content_type_is_type(type, "text", "plain");
  const bool html = type != nullptr && g_mime_content_type_is_type(type, "text", "html");
  nsEmlComponents::CPartBody* body = nullptr;
  if (plain) {
    body = new (std::nothrow) nsEmlComponents::CPartBodyTextPlain();
  } else if (html) {
    body = new (std::nothrow) nsEmlComponents::CPartBodyTextHtml();
  } else {
    body = new (std::nothrow) nsEmlComponents::CPartBodyOther();
  }
  if (body == nullptr) return -2;
  node.body = body;  // the node owns it from here
  const char* name = g_mime_part_get_filename(part);
  if (name != nullptr && body->name.assign(name) != 0) return -2;
  if (!plain && !html) {
    body->size = Clamp32(DecodedSize(part));
    return 0;
  }
  GMimeStream* stream = DecodedContent(part);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
  const std::int32_t status = FillText(
      bytes != nullptr ? reinterpret_cast<const char*>(bytes->data) : nullptr,
      bytes != nullptr ? bytes->len : 0,
      g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset"), *body, html);
  g_object_unref(stream);
  return status;
}

std::int32_t CBuilder::AddTextOnly(const char* data, std::size_t size) {
  CPartsTree::CNode* node = m_parts.tree.AddNode(nullptr);
  if (node == nullptr) return -2;
  auto* body = new (std::nothrow) nsEmlComponents::CPartBodyTextPlain();
  if (body == nullptr) return -2;
  node->body = body;
  return FillText(data, size, nullptr, *body, false);
}

std::int32_t CBuilder::FillText(const char* data, std::size_t size, const char* charset,
                                nsEmlComponents::CPartBody& body, bool html) {
  body.size = Clamp32(size);
  ascommon::usstring text;
  if (DecodeText(m_converter, charset, data, size, text) != 0) return -2;

  if (!html) {
    auto& plain = static_cast<nsEmlComponents::CPartBodyTextPlain&>(body);
    if (summarize::SummarizePlainPart(text.c_str(), text.length(), plain.summary) == -2 ||
        ToUtf8(text, plain.textUtf8) != 0 ||
        m_parts.phrases.AddBody(CPhraseIndex::kPlain, text.c_str(), text.length()) == -2) {
      return -2;
    }
    plain.text = static_cast<ascommon::usstring&&>(text);
    return 0;
  }
  auto& page = static_cast<nsEmlComponents::CPartBodyTextHtml&>(body);
  CHTMLParser2 document;
  if (!text.empty() &&
      document.parse(text.c_str(), text.length(), false, false) == CHTMLParser2::kParseNoMemory) {
    return -2;
  }
  if (document.isParsed()) {
    page.decoded = document.getAllText();
    if (page.decoded.status() == -2) return -2;
    for (std::size_t i = 0; i < document.getLinkCount(); ++i) {
      ascommon::usstring href = document.getLink(i)->getDecodedHref();
      if (href.status() == -2) return -2;
      if (!href.is_null() && page.links.Add(href) != 0) return -2;
    }
    if (summarize::SummarizeHtml(document, page.summary) == -2) return -2;
  }
  if (ToUtf8(text, page.rawUtf8) != 0 || ToUtf8(page.decoded, page.decodedUtf8) != 0 ||
      m_parts.phrases.AddBody(CPhraseIndex::kHtml, page.decoded.c_str(),
                              page.decoded.length()) == -2) {
    return -2;
  }
  page.raw = static_cast<ascommon::usstring&&>(text);
  return 0;
}

// Whether the 8 bytes at p spell "boundary" (any case) followed by blanks and '=' or '*'.
bool IsBoundaryAt(const char* p, const char* end) noexcept {
  static const char kWord[] = "boundary";
  for (int i = 0; i < 8; ++i) {
    if ((p[i] | 0x20) != kWord[i]) return false;
  }
  p += 8;
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  return p < end && (*p == '=' || *p == '*');
}

}  // namespace

std::size_t ReadableLength(const char* data, std::size_t size) noexcept {
  if (data == nullptr || size < 9) return size;
  // Horspool search for "boundary" ignoring case: the byte under the window's last position
  // says how far the window may move (8 for a byte not in the word), about size / 8 steps.
  static const auto kShift = [] {
    struct { unsigned char shift[256]; } table{};
    for (unsigned char& shift : table.shift) shift = 8;
    static const char kWord[] = "boundar";
    for (int i = 0; i < 7; ++i) {
      table.shift[static_cast<unsigned char>(kWord[i])] = static_cast<unsigned char>(7 - i);
      table.shift[static_cast<unsigned char>(kWord[i] - 'a' + 'A')] = static_cast<unsigned char>(7 - i);
    }
    return table;
  }();
  const char* end = data + size;
  std::uint32_t seen = 0;
  for (const char* p = data; p + 8 < end; p += kShift.shift[static_cast<unsigned char>(p[7])]) {
    if (!IsBoundaryAt(p, end) || ++seen <= kMaxBoundaries) continue;
    while (p > data && p[-1] != '\n') --p;
    AS_TRACE(3, "message read up to byte %zu: more than %u boundaries",
             static_cast<std::size_t>(p - data), kMaxBoundaries);
    return static_cast<std::size_t>(p - data);
  }
  return size;
}

std::int32_t ParseMessage(const char* data, std::size_t size,
                          const ascommon::CStringConversion* converter,
                          CMessageHeaders& headers, CMessageParts& parts) {
  parts.totalSize = Clamp32(size);
  GMimeParserOptions* options = ParserOptions();
  const std::size_t readable = ReadableLength(data, size);
  // The stream reads the caller's bytes in place: it does not own the array, and the array
  // wrapper is released without its data once every GMime object is gone.
  GByteArray* array = g_byte_array_new_take(
      reinterpret_cast<guint8*>(const_cast<char*>(data != nullptr ? data : "")), readable);
  GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(array);
  g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
  GMimeMessage* message = g_mime_parser_construct_message(parser, options);

  std::int32_t status = 0;
  try {
    status = BuildMessageHeaders(message, options, headers);
    CBuilder builder(converter, parts);
    if (status == 0 && message != nullptr) {
      status = builder.Walk(g_mime_message_get_mime_part(message));
    } else if (status == 0 && readable > 0) {
      status = builder.AddTextOnly(data, readable);
    }
  } catch (const std::bad_alloc&) {
    status = -2;
  }
  if (message != nullptr) g_object_unref(message);
  g_object_unref(parser);
  g_object_unref(stream);
  g_byte_array_free(array, FALSE);
  return status;
}

}  // namespace mimeparser
