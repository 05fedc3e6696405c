// The condition tests' scenario: rules written as text and loaded by the real engine (with
// the regular-expression library of bin/), run one by one on a stand-in context that offers
// a page (HTTP codes) or a small message (mail codes).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine_fixture.h"
#include "engines/assl/assl.h"
#include "engines/assl/parser/item_codes.h"
#include "engines/htmlparser/structs/bbfacilitator.h"
#include "support/bin_dir.h"

namespace zztest {

using ascommon::sstring;
using ascommon::usstring;

class FakeHeader : public nsEmlComponents::CHeader {
 public:
  FakeHeader(const char* name, const char16_t* value) {
    m_name.assign(name);
    m_value.assign(value);
  }
  std::int32_t GetKind() const noexcept override { return nsEmlComponents::kHeaderOther; }
};

// Phrases found by BodiesHavePhrase: (body type, phrase) pairs.
class FakeFacilitator : public CBBFacilitator {
 public:
  nsEmlComponents::CPartsTree* tree = nullptr;
  std::uint32_t totalSize = 0;
  std::vector<std::pair<std::int32_t, std::u16string>> phrases;

  nsEmlComponents::CHeadersMap* GetHeaders() noexcept override { return nullptr; }
  const nsEmlComponents::CPartsTree* GetPartsTree() const noexcept override { return tree; }
  std::uint32_t GetTotalSize() const noexcept override { return totalSize; }
  bool BodiesHavePhrase(std::int32_t type, const usstring& phrase) const override {
    const std::pair<std::int32_t, std::u16string> wanted(type, phrase.c_str());
    return std::find(phrases.begin(), phrases.end(), wanted) != phrases.end();
  }
};

// An HTTP-like page when mail is false, else a message; the other kind's accessors give
// nothing, as in the real contexts.
class FakeContext : public BareContext {
 public:
  bool mail = false;
  std::string url, html, htmlLower, parsed, parsedLower, title;
  nsEmlComponents::CHeadersMap headers;
  nsEmlComponents::CPartsTree tree;
  FakeFacilitator facilitator;
  assl::CKnnResult knn;

  FakeContext() {
    headers.InitHashTable(17);
    facilitator.tree = &tree;
  }
  std::int32_t GetType() const noexcept override { return mail ? kMail : kHttp; }
  assl::CTextView GetUrl() const noexcept override { return Page(url); }
  const CHTMLParser2* GetHtmlParser() const noexcept override {
    return mail ? nullptr : reinterpret_cast<const CHTMLParser2*>(this);
  }
  assl::CTextView GetHtmlContent(bool lower) const noexcept override {
    return Page(lower ? htmlLower : html);
  }
  assl::CTextView GetParsedContent(bool lower) const noexcept override {
    return Page(lower ? parsedLower : parsed);
  }
  assl::CTextView GetElementText(std::int32_t where) const override {
    return where == assl::kHtmlTitle ? Page(title) : assl::CTextView{};
  }
  nsEmlComponents::CHeadersMap* GetHeaders() noexcept override { return mail ? &headers : nullptr; }
  const nsEmlComponents::CPartsTree* GetPartsTree() const noexcept override {
    return mail ? &tree : nullptr;
  }
  CBBFacilitator* GetFacilitator() noexcept override { return mail ? &facilitator : nullptr; }
  assl::CKnnResult* GetKnnResult() noexcept override { return mail ? &knn : nullptr; }

  void AddHeader(const char* upperName, const char16_t* value) {
    owned.push_back(std::make_unique<FakeHeader>(upperName, value));
    headers.SetAt(sstring(upperName), owned.back().get());
  }
  std::vector<std::unique_ptr<FakeHeader>> owned;

 private:
  assl::CTextView Page(const std::string& text) const {
    return mail ? assl::CTextView{} : assl::CTextView{text.data(), text.size()};
  }
};

// Loads rules from text; Run executes one by name on a context.
class RulesFixture : public ::testing::Test {
 protected:
  void Load(const std::string& rules) {
    m_rules.Write("t.slf", rules);
    m_rules.handle.SetRegexLibrary(usstring(Wide(BinDir()).c_str()));
    m_rules.LoadFiles({"t.slf"});
  }
  const assl::ASSL& Engine() { return m_rules.Engine(); }
  bool Has(const char* name) { return Engine().FindRule(assl::CRule::ComputeUid(name)) != nullptr; }
  double Run(const char* name, FakeContext& context) {
    if (context.GetStateCount() == 0) context.CopyStateRecords(Engine().GetStateTemplate());
    return m_rules.Run(context, name);
  }
  // Whether the rule's condition was evaluated on the context.
  bool Evaluated(const char* name, FakeContext& context) {
    std::uint32_t index = 0;
    return Engine().FindIndex(assl::CRule::ComputeUid(name), &index) &&
           context.GetState(index).evaluated != 0;
  }

  RuleEngine m_rules;
};

// "rule NAME { condition: CONDITION; actions: none; metadata: none; }"; T and T2 always
// hold, F and F2 never.
inline std::string Rule(const std::string& name, const std::string& condition,
                        const char* kind = "rule") {
  return std::string(kind) + " " + name + " { condition: " + condition +
         "; actions: none; metadata: none; }\n";
}

inline const std::string kLeaves = Rule("T", "none") + Rule("T2", "none") +
                                   Rule("F", "score_greater_than(never, 1)") +
                                   Rule("F2", "score_greater_than(never, 1)");

}  // namespace zztest
