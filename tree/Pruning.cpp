// The final pruning pass: each pattern node is compared with the shorter
// patterns it is paired with (its parent, and the pattern without its
// next-to-last item, with their descendants), and every shorter pattern of
// equal support loses its IsClosed flag.  What keeps its flag is written.
//
// Tested by tests/unit/test_pruning.cpp and the prune_* end-to-end cases.
#include "tree/ClosedSeqTree.h"

#include <vector>

#include "tree/PatternTree.h"

// Clears a node's flag.  Pruning passes over different first-level entries
// may run on several threads at once and clear the same node: the store is
// atomic (nothing in the pass reads a flag, so their order does not matter).
static inline void ClearClosed(TreeNode* node)
{
    __atomic_store_n(&node->IsClosed, false, __ATOMIC_RELAXED);
}

// Walks other's subtree (through every Children entry) against node's owned
// subtree, pairing children reached by the same steps, and clears IsClosed on
// each node-side pattern whose support equals its longer counterpart's.
// Pre-order: a pair is compared before any pair below it.
void closed_maxChecking(PatternTree& tree, TreeNode* node, TreeNode* parent, TreeNode* other)
{
    using Pair = PatternTree::CheckPair;
    std::vector<Pair>& stack = tree.checkStack;
    const size_t base = stack.size();
    stack.push_back({node, parent, other});
    while (stack.size() > base) {
        Pair p = stack.back();
        stack.pop_back();
        if (p.node == nullptr || p.node->Parent != p.parent)
            continue;  // missing, or only linked here: nothing to compare
        if (p.node->Support == p.other->Support)
            ClearClosed(p.node);
        std::vector<TreeNode*>* others = p.other->Children;
        std::vector<TreeNode*>* mine = p.node->Children;
        if (others == nullptr || others->empty() || mine == nullptr || mine->empty())
            continue;  // no child on one side: no pair below
        // Both arrays are in child order, so the pairs are found by walking
        // them together from the end; pushed last to first, the pairs are
        // visited in array order.
        size_t j = mine->size();
        for (size_t i = others->size(); i-- > 0 && j > 0;) {
            TreeNode* child = (*others)[i];
            int c = 1;
            while (j > 0 && (c = CompareKey(child->ItemIsIntra, child->Item, (*mine)[j - 1])) < 0)
                --j;
            if (j > 0 && c == 0) {
                TreeNode* match = (*mine)[j - 1];
                if (match->Parent == p.node)
                    stack.push_back({match, p.node, child});
            }
        }
    }
}

// For every owned node: its parent is not closed when their supports are
// equal; then, once its owned children are done, each child (owned or
// linked) is checked against the pattern without the node's item, found
// among the parent's children.
void closed_maxPruning(PatternTree& tree, TreeNode* node, TreeNode* parent)
{
    using Frame = PatternTree::PruneFrame;
    std::vector<Frame>& stack = tree.pruneStack;
    const size_t base = stack.size();

    auto enter = [&stack](TreeNode* n, TreeNode* p) {
        if (p->Support == n->Support)
            ClearClosed(p);
        if (n->Children != nullptr && !n->Children->empty())
            stack.push_back({n, p, 0});
    };

    enter(node, parent);
    while (stack.size() > base) {
        Frame& f = stack.back();
        std::vector<TreeNode*>* children = f.node->Children;
        while (f.next < children->size() && (*children)[f.next]->Parent != f.node)
            ++f.next;
        if (f.next < children->size()) {
            TreeNode* child = (*children)[f.next++];
            enter(child, f.node);  // may reallocate: f is not used after this
            continue;
        }
        TreeNode* n = f.node;
        TreeNode* p = f.parent;
        stack.pop_back();
        // Second pass: child = P x y against the pattern P y, which joins
        // P's last itemset only when both x and y joined theirs.
        for (TreeNode* child : *children) {
            TreeNode* counterpart = FindChild(p->Children, child->Item,
                                              child->ItemIsIntra && n->ItemIsIntra);
            closed_maxChecking(tree, counterpart, p, child);
        }
    }
}

