// Pattern tree nodes: one node per pattern, a prefix tree whose children
// are kept sorted (in-itemset children first, then ascending item) so that
// a child is found by binary search.  A Children array may be shared by
// two nodes whose patterns have equal projections: a node owns the
// children whose Parent is itself and links the others.  Nodes and arrays
// belong to the tree's arena (tree/PatternTree.cpp).
//
// Patterns can be as deep as the data allows (a chain of 100,000 nodes is a
// valid tree), so no walk in tree/ recurses once per tree level: every walk
// keeps its own explicit stack in a std::vector.
//
// Tested by tests/unit/test_tree_nodes.cpp.
#include "tree/ClosedSeqTree.h"

#include <algorithm>
#include <vector>

#include "tree/PatternTree.h"

// ---------------------------------------------------------------------------
// Child order and lookups

bool TreeNodeLess(TreeNode* a, TreeNode* b)
{
    return CompareKey(a->ItemIsIntra, a->Item, b) < 0;
}

int TreeNodeCompare(TreeNode** a, TreeNode** b)
{
    return CompareKey((*a)->ItemIsIntra, (*a)->Item, *b);
}

// Binary search of a sorted Children array; returns the slot holding the
// child with this (item, isIntra), or null.  The key lives in two registers,
// so a lookup allocates nothing.
TreeNode** FindSlot(std::vector<TreeNode*>* children, int item, bool isIntra)
{
    if (children == nullptr || children->empty())
        return nullptr;
    TreeNode** base = children->data();
    size_t lo = 0, hi = children->size();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        int c = CompareKey(isIntra, item, base[mid]);
        if (c == 0)
            return base + mid;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

TreeNode* FindChild(std::vector<TreeNode*>* children, int item, bool isIntra)
{
    TreeNode** slot = FindSlot(children, item, isIntra);
    return slot ? *slot : nullptr;
}

// Append, then move the new pointer back to just after the last element that
// does not come after it: a stable merge of one element into the sorted part.
void InsertChild(std::vector<TreeNode*>* children, TreeNode* node)
{
    children->push_back(node);
    auto last = children->end() - 1;
    auto pos = std::upper_bound(children->begin(), last, node, TreeNodeLess);
    std::rotate(pos, last, children->end());
}

// ---------------------------------------------------------------------------
// TreeNode

TreeNode::TreeNode(int item, bool isIntra, int support, TreeNode* parent,
                   std::vector<TreeNode*>* children)
    : Item(item), ItemIsIntra(isIntra), ItemsetNumber(0), Items(0),
      Support(support), ProjDBSize(0), IsClosed(true),
      Children(children), Parent(parent)
{
}

TreeNode::TreeNode(TreeNode* source)
    : Item(source->Item), ItemIsIntra(source->ItemIsIntra),
      ItemsetNumber(source->ItemsetNumber), Items(source->Items),
      Support(source->Support), ProjDBSize(source->ProjDBSize), IsClosed(true),
      Children(source->Children), Parent(source->Parent)
{
}

bool TreeNode::isRoot()
{
    return Parent == nullptr;
}

bool TreeNode::LastItemOfSequence()
{
    if (Children == nullptr)
        return true;
    int best = 0;
    for (TreeNode* child : *Children)
        if (child->Support > best)
            best = child->Support;
    return Support > best;
}

// Links a freshly inserted child under this node with counters one item
// deeper (and one itemset more when it starts a new itemset).
static void SetChildCounters(TreeNode* parent, TreeNode* child)
{
    child->Parent = parent;
    child->ItemsetNumber = parent->ItemsetNumber + (child->ItemIsIntra ? 0 : 1);
    child->Items = parent->Items + 1;
}

TreeNode* TreeNode::AddChild(PatternTree& tree, int item, bool isIntra, int support)
{
    TreeNode* found = FindChild(Children, item, isIntra);
    if (found != nullptr) {
        if (found->Support < support) {
            printf("Item: %d %d %d\n", item, found->Support, support);
            printf("ParentItem: %d %d\n", Item, Support);
            found->Support = support;
        }
        return found;
    }
    TreeNode* child = tree.arena.NewNode(item, isIntra, support, nullptr);
    InsertChild(Children, child);
    SetChildCounters(this, child);
    return child;
}

TreeNode* TreeNode::AddChild(PatternTree& tree, TreeNode* child)
{
    TreeNode* found = FindChild(Children, child->Item, child->ItemIsIntra);
    if (found != nullptr) {
        if (found == child)  // already our child: nothing to merge or free
            return found;
        if (child->Support > found->Support)
            found->Support = child->Support;
        tree.arena.FreeNode(child);
        return found;
    }
    InsertChild(Children, child);
    SetChildCounters(this, child);
    return child;
}
