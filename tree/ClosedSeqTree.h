// The closed pattern tree: one prefix tree of pattern nodes, the equivalence
// table through which patterns with equal projected databases share a
// subtree, and the pruning pass that leaves only closed patterns flagged.
#ifndef QUIVREL_CLOSEDSEQTREE_H
#define QUIVREL_CLOSEDSEQTREE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "projdb/ProjDB.h"

class PatternTree;  // tree/PatternTree.h

class TreeNode {
public:
    int Item;                          // item this node adds; -1 at the root
    bool ItemIsIntra;                  // joins the parent's last itemset
    int ItemsetNumber;                 // itemsets in the node's pattern
    int Items;                         // items in the node's pattern
    int Support;                       // support of the node's pattern
    unsigned int ProjDBSize;           // equivalence key of the pattern
    bool IsClosed;                     // still a candidate closed pattern
    std::vector<TreeNode*>* Children;  // sorted; may be shared by two nodes
    TreeNode* Parent;                  // null at the root

    // Nodes are made by a tree's NodeArena, which owns them and their
    // Children arrays: a node never frees anything itself.
    TreeNode(int item, bool isIntra, int support, TreeNode* parent,
             std::vector<TreeNode*>* children);
    // Copy that shares the source's Children array; IsClosed is set.
    explicit TreeNode(TreeNode* source);
    ~TreeNode() = default;
    // A copy made behind the arena's back would not be one of its nodes.
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    bool isRoot();
    bool LastItemOfSequence();
    // The child (item, isIntra), made in `tree` when missing; an existing one
    // keeps the larger support.
    TreeNode* AddChild(PatternTree& tree, int item, bool isIntra, int support);
    // Adopts `child`, or merges it into an existing child with its key (the
    // larger support wins) and frees the node itself; whatever hangs below
    // it stays in the tree's arena until the tree is released.
    TreeNode* AddChild(PatternTree& tree, TreeNode* child);
    // Writes the lines of this node's owned subtree, deepest first, for the
    // nodes whose IsClosed is set, and counts them in tree.closed_maxFreq;
    // `prefix` is the text of the parent's pattern as built by the walk
    // ("(" for a child of the root).
    void Print(PatternTree& tree, char* prefix, FILE* file);
};

// Orders a key (isIntra, item) against a node: in-itemset children first, then
// ascending item code.  Returns -1, 0 or +1 as the key comes before, ties with
// or comes after the node.
inline int CompareKey(bool isIntra, int item, const TreeNode* node)
{
    if (isIntra != node->ItemIsIntra)
        return isIntra ? -1 : 1;
    if (item < node->Item)
        return -1;
    return item > node->Item ? 1 : 0;
}

// Child order: in-itemset children first, then ascending Item.
bool TreeNodeLess(TreeNode* a, TreeNode* b);
int TreeNodeCompare(TreeNode** a, TreeNode** b);
// Binary search of a Children array for (item, isIntra); null when absent.
TreeNode* FindChild(std::vector<TreeNode*>* children, int item, bool isIntra);
// The slot of the child (item, isIntra) in a Children array, or null.
TreeNode** FindSlot(std::vector<TreeNode*>* children, int item, bool isIntra);
// Appends `node` and merges it into child order.
void InsertChild(std::vector<TreeNode*>* children, TreeNode* node);

// Equivalence table: a chained hash multimap from an int key to tree nodes
// whose growth and visiting order of equal keys follow fixed rules (the
// outcome of an insertion depends on which candidate is visited first).
class EquivTable {
public:
    struct Entry {
        Entry* next;
        int key;
        TreeNode* node;
        uint64_t fingerprint;  // of the positions of the node's projection
    };
    EquivTable();                // 193 buckets
    EquivTable(const EquivTable&) = delete;  // owns its buckets and entry blocks
    EquivTable& operator=(const EquivTable&) = delete;
    ~EquivTable();
    void Insert(int key, TreeNode* node, uint64_t fingerprint = 0);
    // Forgets every entry: the table is as a fresh one (193 buckets), so
    // that what later insertions meet does not depend on what came before.
    void Clear();
    // First entry of the group with this key, or null.  The group continues
    // through `next` while the key is equal.
    Entry* EqualRange(int key) const;
    size_t BucketCount() const { return nBuckets; }
    size_t Size() const { return nElements; }

private:
    Entry** buckets;
    size_t nBuckets;
    size_t nElements;
    // Entries are cut from blocks owned by the table (never removed singly).
    std::vector<Entry*> blocks;
    size_t blockUsed;
    void Grow(size_t minBuckets);
    Entry* NewEntry();
};

// Holder of one equivalence table (not used by a mining run).
class LevelNode {
public:
    EquivTable* table;
    LevelNode();
    LevelNode(const LevelNode&) = delete;  // owns its table
    LevelNode& operator=(const LevelNode&) = delete;
    ~LevelNode();
};

// Inserts the record's pattern under tree.currentLevel.  1: a new node was
// made and currentLevel moved to it (mine its extensions, then step back to
// Parent).  0: an equivalent subtree already serves the pattern (do not mine
// it).
int addSequence(PatternTree& tree, PROJ_DB* db);

// Subtree counter walks.
void updateNodeInfo(PatternTree& tree, TreeNode* node, int itemsDelta, int itemsetDelta);
void updateOldNodeInfo(TreeNode* parent, TreeNode* oldNode, TreeNode* newNode);
void checkNodeInfo(TreeNode* node);

// Pruning: clears IsClosed on shorter patterns of equal support.  `tree`
// lends its scratch stacks: calls for different entries of one root may run
// on several threads at once, each with a tree of its own as scratch.
void closed_maxChecking(PatternTree& tree, TreeNode* node, TreeNode* parent, TreeNode* other);
void closed_maxPruning(PatternTree& tree, TreeNode* node, TreeNode* parent);

#endif
