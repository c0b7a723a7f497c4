// Pattern tree nodes: one node per pattern, a prefix tree whose children
// are kept sorted (in-itemset children first, then ascending item) so that
// a child is found by binary search.  A Children array may be shared by
// two nodes whose patterns have equal projections: a node owns the
// children whose Parent is itself and links the others.  Nodes come from a
// pool of blocks, because a run makes one per pattern met.
//
// Patterns can be as deep as the data allows (a chain of 100,000 nodes is a
// valid tree), so no walk in tree/ recurses once per tree level: every walk
// keeps its own explicit stack in a std::vector.
//
// Tested by tests/unit/test_tree_nodes.cpp.
#include "tree/ClosedSeqTree.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

// ---- run-wide state of the tree ----
TreeNode* root = nullptr;
TreeNode* currentLevel = nullptr;
EquivTable* reverseTable = nullptr;
int zzz = 0;
std::vector<int> closed_maxFreq;

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

// Node storage: blocks of nodes that live until the process ends, and a list
// of the slots of deleted nodes for reuse.  One node per pattern met makes
// millions on large runs; a block allocation for many of them saves the
// heap's per-call work and header.
namespace {
struct FreeSlot {
    FreeSlot* next;
};
const size_t kNodesPerBlock = 4096;
FreeSlot* gFreeNodes = nullptr;
char* gNodeBlock = nullptr;     // current block
size_t gNodeBlockUsed = kNodesPerBlock;
std::vector<char*> gNodeBlocks;  // every block, kept reachable
}  // namespace

// Under AddressSanitizer every node is a heap block of its own, so that a
// read of a deleted node and a node never deleted are reported as a use after
// free and a leak: slots of a pool would hide both.
#if defined(__SANITIZE_ADDRESS__)
#define QUIVREL_NODES_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIVREL_NODES_ON_HEAP 1
#endif
#endif

void* TreeNode::operator new(std::size_t size)
{
    static_assert(sizeof(TreeNode) >= sizeof(FreeSlot), "a free slot must fit a node");
#ifdef QUIVREL_NODES_ON_HEAP
    return ::operator new(size);
#endif
    if (size != sizeof(TreeNode))
        return ::operator new(size);
    if (gFreeNodes != nullptr) {
        FreeSlot* slot = gFreeNodes;
        gFreeNodes = slot->next;
        return slot;
    }
    if (gNodeBlockUsed == kNodesPerBlock) {
        gNodeBlock = static_cast<char*>(::operator new(sizeof(TreeNode) * kNodesPerBlock));
        gNodeBlocks.push_back(gNodeBlock);
        gNodeBlockUsed = 0;
    }
    return gNodeBlock + sizeof(TreeNode) * gNodeBlockUsed++;
}

void TreeNode::operator delete(void* node) noexcept
{
    if (node == nullptr)
        return;
#ifdef QUIVREL_NODES_ON_HEAP
    ::operator delete(node);
    return;
#endif
    FreeSlot* slot = static_cast<FreeSlot*>(node);
    slot->next = gFreeNodes;
    gFreeNodes = slot;
}

TreeNode::TreeNode(int item, bool isIntra, int support, TreeNode* parent)
    : Item(item), ItemIsIntra(isIntra), ItemsetNumber(0), Items(0),
      Support(support), ProjDBSize(0), IsClosed(true),
      Children(new std::vector<TreeNode*>()), Parent(parent)
{
}

TreeNode::TreeNode(TreeNode* source)
    : Item(source->Item), ItemIsIntra(source->ItemIsIntra),
      ItemsetNumber(source->ItemsetNumber), Items(source->Items),
      Support(source->Support), ProjDBSize(source->ProjDBSize), IsClosed(true),
      Children(source->Children), Parent(source->Parent)
{
}

// Destroys every node in the Children array (owned and linked alike) and
// everything below it, then the array.  Only valid for a subtree that shares
// no array and no node with the rest of the tree.  Children arrays are
// detached from their nodes and freed from a work list, so a deep subtree
// does not nest destructor calls.
TreeNode::~TreeNode()
{
    if (Children == nullptr)
        return;
    if (Children->empty()) {
        delete Children;
        Children = nullptr;
        return;
    }
    std::vector<std::vector<TreeNode*>*> pending{Children};
    Children = nullptr;
    while (!pending.empty()) {
        std::vector<TreeNode*>* array = pending.back();
        pending.pop_back();
        for (TreeNode* child : *array) {
            if (child == nullptr)
                continue;
            if (child->Children != nullptr) {
                pending.push_back(child->Children);
                child->Children = nullptr;
            }
            delete child;
        }
        delete array;
    }
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

TreeNode* TreeNode::AddChild(int item, bool isIntra, int support)
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
    TreeNode* child = new TreeNode(item, isIntra, support, nullptr);
    InsertChild(Children, child);
    SetChildCounters(this, child);
    return child;
}

TreeNode* TreeNode::AddChild(TreeNode* child)
{
    TreeNode* found = FindChild(Children, child->Item, child->ItemIsIntra);
    if (found != nullptr) {
        if (found == child)  // already our child: nothing to merge or free
            return found;
        if (child->Support > found->Support)
            found->Support = child->Support;
        delete child;
        return found;
    }
    InsertChild(Children, child);
    SetChildCounters(this, child);
    return child;
}

// Every node is an owned child of exactly one node (its Parent), so walking
// the owned edges from the top reaches each node once; arrays can be shared
// by several nodes and are collected first, then freed once each.
void ReleaseTree(TreeNode* top)
{
    if (top == nullptr)
        return;
    std::vector<TreeNode*> nodes{top};
    std::unordered_set<std::vector<TreeNode*>*> arrays;
    for (size_t i = 0; i < nodes.size(); i++) {
        TreeNode* n = nodes[i];
        if (n->Children == nullptr)
            continue;
        arrays.insert(n->Children);
        for (TreeNode* child : *n->Children) {
            if (child != nullptr && child->Parent == n)
                nodes.push_back(child);
        }
    }
    for (TreeNode* n : nodes) {
        n->Children = nullptr;  // the arrays are freed below, once each
        delete n;
    }
    for (std::vector<TreeNode*>* array : arrays)
        delete array;
}
