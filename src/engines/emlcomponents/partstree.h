// CPartsTree: a message as a tree of MIME parts, what rules read of a mail item.
//
// A node holds the part's headers and, for a leaf part, its body: a text/plain body (type 52)
// with its text, a text/html body (type 53) with its decoded text, its raw HTML and its link
// targets, or any other leaf (type 51) with only its name and size. Every body carries the
// part's name, its size in bytes and, for the text kinds, its layout summary. Texts are kept wide (exact matching) and in UTF-8 (regular expressions).
// Whoever builds the tree fills these fields; the tree owns its nodes, a node its headers and
// body. Visit walks every node from the root, parents before children.
// Threads: built by one thread, then read-only; any number of threads may visit it.
#pragma once

#include <cstdint>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/ustring.h"
#include "engines/emlcomponents/emlheaders.h"

namespace nsEmlComponents {

enum PartBodyType : std::int32_t { kBodyOther = 51, kBodyTextPlain = 52, kBodyTextHtml = 53 };

class CPartBody : public ascommon::CASAllocated {
 public:
  virtual ~CPartBody() = default;
  virtual std::int32_t GetType() const noexcept = 0;

  ascommon::sstring name;     // the part's name, stored into PARTNAME on a hit
  std::uint32_t size = 0;     // bytes of the part's content, transfer encoding undone
  ascommon::sstring summary;  // layout summary (symbols B, E, N, U, W, s ...)
};

// Any other leaf part (attachments, images, ...): its name and size, no text. Only the size
// checks read it; text conditions and heuristics select the two text kinds.
class CPartBodyOther : public CPartBody {
 public:
  std::int32_t GetType() const noexcept override { return kBodyOther; }
};

class CPartBodyTextPlain : public CPartBody {
 public:
  std::int32_t GetType() const noexcept override { return kBodyTextPlain; }
  ascommon::usstring text;
  ascommon::sstring textUtf8;
};

class CPartBodyTextHtml : public CPartBody {
 public:
  std::int32_t GetType() const noexcept override { return kBodyTextHtml; }
  ascommon::usstring decoded;      // the text the page shows, tags removed
  ascommon::sstring decodedUtf8;
  ascommon::usstring raw;          // the HTML as received, decoded to wide text
  ascommon::sstring rawUtf8;
  ascommon::CArray<ascommon::usstring> links;  // link targets (CHtmlAHref) in order
};

class CPartsTree;

class CAPartsTreeListenerR {
 public:
  virtual ~CAPartsTreeListenerR() = default;
  virtual void Visit(const class CPartsTreeNode& node) = 0;
};

class CPartsTreeNode : public ascommon::CASAllocated {
 public:
  CPartsTreeNode() noexcept = default;
  ~CPartsTreeNode();
  CPartsTreeNode(const CPartsTreeNode&) = delete;
  CPartsTreeNode& operator=(const CPartsTreeNode&) = delete;

  // The part's headers in order (owned), and the upper-case-name lookup over them.
  ascommon::CArray<CHeader*> headers;
  const CHeader* FindHeader(const char* upperName) const noexcept;
  CPartBody* body = nullptr;                     // owned; null for containers and other kinds
  ascommon::CArray<CPartsTreeNode*> children;  // not owned (the tree owns every node)
};

class CPartsTree : public ascommon::CASAllocated {
 public:
  using CNode = CPartsTreeNode;

  CPartsTree() noexcept = default;
  ~CPartsTree();
  CPartsTree(const CPartsTree&) = delete;
  CPartsTree& operator=(const CPartsTree&) = delete;

  // A new node, a child of parent (the root when parent is null and there is none yet);
  // null when memory runs out.
  CNode* AddNode(CNode* parent);
  const CNode* GetRoot() const noexcept { return m_root; }
  std::uint64_t GetNodeCount() const noexcept { return m_nodes.GetSize(); }
  // Calls listener.Visit for every node from the root, parents before children.
  void Visit(CAPartsTreeListenerR& listener) const;
  // Nodes counted from the root (0 without a root).
  std::uint32_t CountFromRoot() const noexcept;

 private:
  ascommon::CArray<CNode*> m_nodes;  // owned
  CNode* m_root = nullptr;
};

}  // namespace nsEmlComponents
