// The message model: one root, parents visited before children, part headers by name in any case.
#include <gtest/gtest.h>

#include <string>

#include "engines/emlcomponents/partstree.h"

namespace {

using namespace nsEmlComponents;

TEST(PartsTreeTest, OneRootParentsVisitedFirstHeadersByName) {
  CPartsTree tree;
  CPartsTree::CNode* root = tree.AddNode(nullptr);
  EXPECT_EQ(tree.AddNode(nullptr), nullptr);
  tree.AddNode(tree.AddNode(root))->headers.Add(new CHeaderOther());
  tree.AddNode(root)->headers.Add(new CHeaderOther());
  tree.GetRoot()->children[0]->children[0]->headers[0]->SetName("Content-Type");
  struct : CAPartsTreeListenerR {
    std::string order;
    void Visit(const CPartsTreeNode& node) override {
      order += std::to_string(node.headers.GetSize()) + (node.FindHeader("CONTENT-TYPE") ? "t" : "");
    }
  } listener;
  tree.Visit(listener);
  EXPECT_EQ(listener.order, "001t1");
}

}  // namespace
