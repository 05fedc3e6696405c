// The visitors a match condition sends over a message's parts tree, and the body selection
// they share with the exists / is-empty part finders. A finder lives for one Evaluate, on
// that call's stack: it borrows the condition and the context, keeps a found flag and the
// name of the part that hit, and does nothing more once it has found.
// Threads: one finder per call; the tree and the condition are only read.
#pragma once

#include <cstdint>

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/rules/matchcondition.h"
#include "engines/emlcomponents/partstree.h"

namespace assl {

// Whether a where code (210 all, 211 text, 212 text/plain, 213 text/html) searches a body
// of this type (52 text/plain, 53 text/html).
bool SelectsBody(std::int32_t where, std::int32_t bodyType) noexcept;

// The text a part finder searches in a body: the plain text of a text/plain body; the raw
// HTML of a text/html body in part mode RAW (240), its decoded text otherwise.
CMatchText BodyText(const nsEmlComponents::CPartBody& body, std::int32_t partMode) noexcept;

class CMatchFinder : public nsEmlComponents::CAPartsTreeListenerR {
 public:
  CMatchFinder(const MatchCondition& condition, ContextInterface* context) noexcept
      : m_condition(condition), m_context(context) {}
  bool Found() const noexcept { return m_found; }
  // The name of the part that hit (null before a hit or for a part without a body).
  const ascommon::sstring* PartName() const noexcept { return m_partName; }

 protected:
  // Tests text; on a hit records node's part name and sets the flag.
  void Try(const CMatchText& text, const nsEmlComponents::CPartsTreeNode& node);

  const MatchCondition& m_condition;
  ContextInterface* m_context;
  bool m_found = false;
  const ascommon::sstring* m_partName = nullptr;
};

class MatchCondition::PartFinder : public CMatchFinder {
 public:
  using CMatchFinder::CMatchFinder;
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override;
};

class MatchCondition::PartHeaderFinder : public CMatchFinder {
 public:
  using CMatchFinder::CMatchFinder;
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override;
};

class MatchCondition::URLFinder : public CMatchFinder {
 public:
  using CMatchFinder::CMatchFinder;
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override;
};

class MatchCondition::SummaryFinder : public CMatchFinder {
 public:
  using CMatchFinder::CMatchFinder;
  void Visit(const nsEmlComponents::CPartsTreeNode& node) override;
};

// Visits the context's parts tree with a Finder built from the where code; 1.0 when it found
// a body, else 0.0. ASException "invalid pointer to parts tree" without a tree.
template <class Finder>
double FindInParts(ContextInterface* context, std::int32_t where) {
  const nsEmlComponents::CPartsTree* tree = context->GetPartsTree();
  if (tree == nullptr) AS_THROW(0, ASException, "invalid pointer to parts tree");
  Finder finder(where);
  tree->Visit(finder);
  return finder.found ? 1.0 : 0.0;
}

}  // namespace assl
