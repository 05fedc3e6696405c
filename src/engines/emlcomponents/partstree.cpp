// CPartsTree: nodes kept in creation order. A node can only be added under a node that
// already exists, so creation order puts every parent before its children: Visit walks the
// node array (O(nodes), no recursion however deep the message nests) and every node is
// reachable from the root. Tested by tests/engines/emlcomponents/partstree_test.cpp.
#include "engines/emlcomponents/partstree.h"

#include <new>

#include "common/strutils.h"

namespace nsEmlComponents {

CPartsTreeNode::~CPartsTreeNode() {
  for (std::uint64_t i = 0; i < headers.GetSize(); ++i) delete headers[i];
  delete body;
}

const CHeader* CPartsTreeNode::FindHeader(const char* upperName) const noexcept {
  if (upperName == nullptr) return nullptr;
  for (std::uint64_t i = 0; i < headers.GetSize(); ++i) {
    const CHeader* header = headers.GetData()[i];
    if (header != nullptr && !header->GetName().is_null() &&
        ascommon::CompareNoCase(header->GetName().c_str(), upperName) == 0)
      return header;
  }
  return nullptr;
}

CPartsTree::~CPartsTree() {
  for (std::uint64_t i = 0; i < m_nodes.GetSize(); ++i) delete m_nodes[i];
}

CPartsTree::CNode* CPartsTree::AddNode(CNode* parent) {
  if (parent == nullptr && m_root != nullptr) return nullptr;  // one root only
  CNode* node = new (std::nothrow) CNode();
  if (node == nullptr) return nullptr;
  if (m_nodes.Add(node) != 0) {
    delete node;
    return nullptr;
  }
  if (parent == nullptr) {
    m_root = node;
  } else if (parent->children.Add(node) != 0) {
    m_nodes.RemoveAt(m_nodes.GetSize() - 1);
    delete node;
    return nullptr;
  }
  return node;
}

void CPartsTree::Visit(CAPartsTreeListenerR& listener) const {
  for (std::uint64_t i = 0; i < m_nodes.GetSize(); ++i) listener.Visit(*m_nodes[i]);
}

std::uint32_t CPartsTree::CountFromRoot() const noexcept {
  return m_root == nullptr ? 0 : static_cast<std::uint32_t>(m_nodes.GetSize());
}

}  // namespace nsEmlComponents
