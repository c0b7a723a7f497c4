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

    TreeNode(int item, bool isIntra, int support, TreeNode* parent);
    // Nodes come from a pool of blocks: a run makes a node per pattern met.
    static void* operator new(std::size_t size);
    static void operator delete(void* node) noexcept;
    // Copy that shares the source's Children array; IsClosed is set.
    explicit TreeNode(TreeNode* source);
    // A node owns its Children array (when it is their Parent's): a copy
    // would release it twice.
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;
    ~TreeNode();

    bool isRoot();
    bool LastItemOfSequence();
    TreeNode* AddChild(int item, bool isIntra, int support);
    TreeNode* AddChild(TreeNode* child);
    // Writes the lines of this node's owned subtree, deepest first, for the
    // nodes whose IsClosed is set; `prefix` is the text of the parent's
    // pattern as built by the walk ("(" for a child of the root).
    void Print(char* prefix, FILE* file);
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

// ---- run-wide state of the tree ----
extern TreeNode* root;
extern TreeNode* currentLevel;
extern EquivTable* reverseTable;
extern int zzz;                          // nodes made by plain insertion
extern std::vector<int> closed_maxFreq;  // printed patterns by item count

// Inserts the record's pattern under *level.  1: a new node was made and
// *level moved to it (mine its extensions, then step back to Parent).
// 0: an equivalent subtree already serves the pattern (do not mine it).
int addSequence(PROJ_DB* db, TreeNode** level, EquivTable* table);

// Frees `top` and every node below it, each node and each Children array
// once, however arrays are shared.  Used when a process runs more than one
// mining run (tests, fuzzing); a command-line run keeps its tree to the end.
void ReleaseTree(TreeNode* top);

// Subtree counter walks.
void updateNodeInfo(TreeNode* node, int itemsDelta, int itemsetDelta);
void updateOldNodeInfo(TreeNode* parent, TreeNode* oldNode, TreeNode* newNode);
void checkNodeInfo(TreeNode* node);

// Pruning: clears IsClosed on shorter patterns of equal support.
void closed_maxChecking(TreeNode* node, TreeNode* parent, TreeNode* other);
void closed_maxPruning(TreeNode* node, TreeNode* parent);

#endif
