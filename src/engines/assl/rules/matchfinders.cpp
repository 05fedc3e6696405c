// The part finders: each visit is O(1) plus one Test of the node's selected text.
// Tested by tests/engines/assl/conditions_match_test.cpp.
#include "engines/assl/rules/matchfinders.h"

namespace assl {

using nsEmlComponents::CPartBody;
using nsEmlComponents::CPartBodyTextHtml;
using nsEmlComponents::CPartBodyTextPlain;
using nsEmlComponents::CPartsTreeNode;

namespace {

CMatchText Wide(const ascommon::usstring& text) noexcept {
  CMatchText result;
  result.wide = text.c_str() != nullptr ? text.c_str() : u"";
  result.wideSize = text.length();
  return result;
}

}  // namespace

bool SelectsBody(std::int32_t where, std::int32_t bodyType) noexcept {
  switch (where) {
    case kPartsAll:
    case kPartsText:
      return bodyType == nsEmlComponents::kBodyTextPlain ||
             bodyType == nsEmlComponents::kBodyTextHtml;
    case kPartsTextPlain:
      return bodyType == nsEmlComponents::kBodyTextPlain;
    case kPartsTextHtml:
      return bodyType == nsEmlComponents::kBodyTextHtml;
    default:
      return false;
  }
}

CMatchText BodyText(const CPartBody& body, std::int32_t partMode) noexcept {
  if (body.GetType() == nsEmlComponents::kBodyTextPlain) {
    const auto& plain = static_cast<const CPartBodyTextPlain&>(body);
    CMatchText text = Wide(plain.text);
    text.utf8 = plain.textUtf8.c_str() != nullptr ? plain.textUtf8.c_str() : "";
    text.utf8Size = plain.textUtf8.length();
    return text;
  }
  const auto& html = static_cast<const CPartBodyTextHtml&>(body);
  const bool raw = partMode == kPartRaw;
  CMatchText text = Wide(raw ? html.raw : html.decoded);
  const ascommon::sstring& utf8 = raw ? html.rawUtf8 : html.decodedUtf8;
  text.utf8 = utf8.c_str() != nullptr ? utf8.c_str() : "";
  text.utf8Size = utf8.length();
  return text;
}

void CMatchFinder::Try(const CMatchText& text, const CPartsTreeNode& node) {
  if (!m_condition.Test(text, m_context)) return;
  m_found = true;
  m_partName = node.body != nullptr ? &node.body->name : nullptr;
}

void MatchCondition::PartFinder::Visit(const CPartsTreeNode& node) {
  if (m_found || node.body == nullptr) return;
  if (!SelectsBody(m_condition.Where(), node.body->GetType())) return;
  Try(BodyText(*node.body, m_condition.PartMode()), node);
}

void MatchCondition::PartHeaderFinder::Visit(const CPartsTreeNode& node) {
  if (m_found) return;
  if (m_condition.Where() == kPartHeadersNamed) {
    const nsEmlComponents::CHeader* header = node.FindHeader(m_condition.HeaderName().c_str());
    if (header != nullptr) Try(Wide(header->GetValue()), node);
    return;
  }
  for (std::uint64_t i = 0; i < node.headers.GetSize() && !m_found; ++i) {
    Try(Wide(node.headers[i]->GetValue()), node);
  }
}

void MatchCondition::URLFinder::Visit(const CPartsTreeNode& node) {
  if (m_found || node.body == nullptr) return;
  if (node.body->GetType() != nsEmlComponents::kBodyTextHtml) return;
  const auto& html = static_cast<const CPartBodyTextHtml&>(*node.body);
  for (std::uint64_t i = 0; i < html.links.GetSize() && !m_found; ++i) {
    Try(Wide(html.links[i]), node);
  }
}

void MatchCondition::SummaryFinder::Visit(const CPartsTreeNode& node) {
  if (m_found || node.body == nullptr) return;
  if (!SelectsBody(m_condition.Where(), node.body->GetType())) return;
  const ascommon::sstring& summary = node.body->summary;
  CMatchText text;
  text.utf8 = summary.c_str() != nullptr ? summary.c_str() : "";
  text.utf8Size = summary.length();
  text.lowered = true;
  Try(text, node);
}

}  // namespace assl
