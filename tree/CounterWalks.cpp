// Subtree counter walks: when a subtree is moved or shared under a longer
// pattern, the item and itemset counts of every node in it shift by the
// same amount.  The walks visit owned children only: a linked child belongs
// to the subtree of its own parent.
//
// Tested by tests/unit/test_tree_nodes.cpp and test_add_sequence.cpp.
#include "tree/ClosedSeqTree.h"

#include <cstdio>
#include <vector>

#include "tree/PatternTree.h"

// Visits `node` and every node below it reached through owned children, in
// pre-order and array order, without recursion (`stack` is the caller's
// scratch).  Linked children are left out: they belong to the subtree of
// their own parent.
template <typename Visit>
static void VisitOwnedSubtree(std::vector<TreeNode*>& stack, TreeNode* node, Visit visit)
{
    stack.assign(1, node);
    while (!stack.empty()) {
        TreeNode* n = stack.back();
        stack.pop_back();
        visit(n);
        if (n->Children == nullptr)
            continue;
        // Pushed last to first so that children are visited in array order.
        for (size_t i = n->Children->size(); i-- > 0;) {
            TreeNode* child = (*n->Children)[i];
            if (child->Parent == n)
                stack.push_back(child);
        }
    }
}

void updateNodeInfo(PatternTree& tree, TreeNode* node, int itemsDelta, int itemsetDelta)
{
    VisitOwnedSubtree(tree.counterStack, node, [=](TreeNode* n) {
        n->Items += itemsDelta;
        n->ItemsetNumber += itemsetDelta;
    });
}

void updateOldNodeInfo(TreeNode* parent, TreeNode* oldNode, TreeNode* newNode)
{
    TreeNode** slot = FindSlot(parent->Children, oldNode->Item, oldNode->ItemIsIntra);
    if (slot != nullptr)
        *slot = newNode;
}

// Pre-order check of the counter rule between each owned node and its parent.
void checkNodeInfo(TreeNode* node)
{
    if (node == nullptr || node->Parent == nullptr)
        return;
    std::vector<TreeNode*> stack;
    VisitOwnedSubtree(stack, node, [](TreeNode* n) {
        TreeNode* p = n->Parent;
        int expectedSets = p->ItemsetNumber + (n->ItemIsIntra ? 0 : 1);
        if (n->Items != p->Items + 1 || n->ItemsetNumber != expectedSets)
            printf("Node Info: Items or ItemsetNumber Error");
    });
}
