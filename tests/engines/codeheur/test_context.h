// CTestContext: a rule context over a hand-built item: a headers map, a parts tree, a page
// and its size.
#pragma once

#include <string>

#include "engines/assl/acontextif.h"
#include "engines/emlcomponents/partstree.h"

namespace zztest {

using namespace nsEmlComponents;

class CTestContext : public assl::ContextInterface {
 public:
  CTestContext() { headers.InitHashTable(17); }
  ~CTestContext() override { headers.ForEach([](const ascommon::sstring&, CHeader*& h) { delete h; }); }
  void Init(AItem*) override {}
  std::int32_t GetType() const noexcept override { return kMail; }

  // Adds a header of class H under its (upper-case) name; raw defaults to the value's low bytes.
  template <class H = CHeaderOther>
  H* Add(const char* name, const std::u16string& value, const char* raw = nullptr) {
    H* header = new H();
    header->SetName(name);
    header->AssignValue(value.c_str());
    header->SetRaw(raw != nullptr ? raw : std::string(value.begin(), value.end()).c_str());
    headers.SetAt(name, header);
    return header;
  }
  // A text part (plain, or HTML with its decoded text) under the root, made on first use.
  void AddPart(bool html, const char16_t* text, const char* summary) {
    if (tree.GetRoot() == nullptr) tree.AddNode(nullptr);
    auto* body = html ? static_cast<CPartBody*>(new CPartBodyTextHtml()) : new CPartBodyTextPlain();
    (html ? static_cast<CPartBodyTextHtml*>(body)->decoded : static_cast<CPartBodyTextPlain*>(body)->text) = text;
    body->summary = summary;
    tree.AddNode(const_cast<CPartsTree::CNode*>(tree.GetRoot()))->body = body;
  }

  CHeadersMap* GetHeaders() noexcept override { return mapPresent ? &headers : nullptr; }
  const CPartsTree* GetPartsTree() const noexcept override { return &tree; }
  assl::CTextView GetHtmlContent(bool) const noexcept override {
    return pagePresent ? assl::CTextView{page.data(), page.size()} : assl::CTextView{};
  }
  std::int32_t GetContentSize() const override { return size; }

  CHeadersMap headers;
  bool mapPresent = true, pagePresent = true;
  CPartsTree tree;
  std::string page;
  std::int32_t size = 0;
};

}  // namespace zztest
